// What the run learns about the machine before it reads the script: the WOW64 flag, the
// 64-bit and 32-bit system and program directories, and the PATH search directories; and the
// system's own folders and environment values, each read whole.
#pragma once

#include <windows.h>

#include "foundation/Result.h"
#include "foundation/StringList.h"

struct SystemPaths {
#ifdef _WIN64
    // Expanded and normalised; empty when no memory was available.
    zqWString system32Dir;         // %SystemRoot%\system32
    zqWString sysWow64Dir;         // %SystemRoot%\SysWOW64
    zqWString programFilesDir;     // %ProgramFiles%
    zqWString programFilesX86Dir;  // %ProgramFiles(x86)%
#endif
    BOOL isWow64 = FALSE;
};

void InitSystemPaths(SystemPaths& paths);
#ifdef _WIN64
// The 32-bit twin of path (system32 -> SysWOW64, Program Files -> Program Files (x86));
// false when there is none. Only the prefix's characters count, as the 64-bit run pairs its
// folders.
bool TwinPath(const SystemPaths& paths, const wchar_t* path, zqWString* twin);
#endif
// The PATH directories in PATH order (first spelling wins), then the drivers folder.
void SeedSearchDirs(StringList& searchDirs);

// An environment variable's value (ERROR_ENVVAR_NOT_FOUND: not set).
Result EnvironmentValue(const wchar_t* name, zqWString* value);
// The Windows folder, the system folder, the shared Windows folder of a terminal server and the
// 32-bit system folder of a 64-bit system (ERROR_CALL_NOT_IMPLEMENTED where there is none).
Result WindowsFolder(zqWString* folder);
Result SystemFolder(zqWString* folder);
Result SystemWindowsFolder(zqWString* folder);
Result SystemWow64Folder(zqWString* folder);
// A folder the shell names by its number (CSIDL_WINDOWS, CSIDL_PROGRAM_FILES, ...), whole: asked
// by its known-folder id where the system has those, by its number on Windows XP, whose answers
// hold at most MAX_PATH characters. ERROR_INVALID_PARAMETER for a number this program never asks.
Result ShellFolder(int csidl, zqWString* folder);
