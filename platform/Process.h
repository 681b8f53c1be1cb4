// Starting a program and waiting for it; the system's own programs and libraries.
#pragma once

#include <windows.h>

#include "foundation/Result.h"
#include "foundation/zqString.h"

// How long a started program may run, and what ends the wait early.
struct ToolLimits {
    DWORD timeoutMs = INFINITE;
    HANDLE stop = nullptr;  // an event; once set, the program is ended at once
};

// Starts the writable command line in runDir (null: the current directory), waits for it and
// gives its exit code. Fails, with *exitCode kNoExitCode, when it did not start or the wait
// failed; a program still running when the limit is reached (ERROR_TIMEOUT) or the stop event
// is set (ERROR_CANCELLED) is ended together with every process it started.
Result RunProcessAndWait(wchar_t* commandLine, const wchar_t* runDir, const ToolLimits& limits, DWORD* exitCode);
const DWORD kNoExitCode = 0xFFFFFFFF;

// Loads a library by name from the system folders (and, when asked, the program's own folder)
// only: never from the current folder or along PATH. Null when it is not there.
HMODULE LoadTrustedLibrary(const wchar_t* name, bool alsoProgramFolder);

// This program's own path, in full whatever its length.
Result ProgramPath(zqWString* path);

// The full path of a program of the system folder of this build's own bitness.
bool SystemProgramPath(const wchar_t* name, zqWString* path);
