// What the run learns about the machine before it reads the script: the WOW64 flag, the
// 64-bit and 32-bit system and program directories, and the PATH search directories.
#pragma once

#include <windows.h>

#include "foundation/StringList.h"

struct SystemPaths {
#ifdef _WIN64
    // Expanded and normalised; null when no memory was available. Freed by FreeSystemPaths.
    wchar_t* system32Dir = nullptr;       // %SystemRoot%\system32
    wchar_t* sysWow64Dir = nullptr;       // %SystemRoot%\SysWOW64
    wchar_t* programFilesDir = nullptr;   // %ProgramFiles%
    wchar_t* programFilesX86Dir = nullptr;  // %ProgramFiles(x86)%
#endif
    BOOL isWow64 = FALSE;
};

void InitSystemPaths(SystemPaths& paths);
#ifdef _WIN64
const size_t kTwinPathUnits = 260;
// The 32-bit twin of path (system32 -> SysWOW64, Program Files -> Program Files (x86)),
// built into twin; false when there is none (or it does not fit). Only the prefix's
// characters count, as the 64-bit run pairs its folders.
bool TwinPath(const SystemPaths& paths, const wchar_t* path, wchar_t twin[kTwinPathUnits]);
#endif
// The PATH directories in PATH order (first spelling wins), then the drivers folder.
void SeedSearchDirs(StringList& searchDirs);
void FreeSystemPaths(SystemPaths& paths);
