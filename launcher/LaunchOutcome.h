// What the launcher learns of how its launch ends, step by step, and the exit code and the report
// that follow from it under the script's convention.
#pragma once

#include <windows.h>

#include "script/PrepareScript.h"
#include "shared/ExitCodes.h"
#include "shared/RunMode.h"

// Place codes of the launcher's error lines in the run log.
const int kErrorScriptPathTooLong = 730;
const int kErrorNoPreparedCopy = 735;
const int kErrorBlockExists = 740;
const int kErrorLeftOverService = 780;
const int kErrorInstall = 787;
const int kErrorStartNoSystemError = 795;
const int kErrorStart = 798;

struct LaunchOutcome {
    RunMode mode = RunMode::Clean;
    ExitConvention convention = ExitConvention::Classic;
    SYSTEMTIME start = {};
    LaunchEnd end = LaunchEnd::Unknown;  // the first-ranked of the launcher's own reasons
    int errorPlace = 0;                  // the first error line's place code, and its error
    DWORD systemError = 0;
    // Set when the person at the progress window cancels the launch: it ends as stopped, unless
    // the run had come to its end before the stop reached it.
    bool cancelled = false;
};

// The convention a script asks for; one that cannot be read asks for none (classic).
ExitConvention ConventionOf(ScriptSource* source);
void StartLaunchOutcome(LaunchOutcome* outcome, RunMode mode, ExitConvention convention);

// Notes an error line of the launcher (its place code and the system's error).
void NoteLaunchError(LaunchOutcome* outcome, int place, DWORD systemError);
// A launch that ends before its service was started (730, 735, 740, 780): notes the error,
// writes the report (not when another launch runs: that one's report stays) and gives the code.
int EndBeforeRun(LaunchOutcome* outcome, int place, DWORD systemError, const wchar_t* scriptPath,
                 const wchar_t* workDir);
// The code of a launch that went as far as its service: the classic status from the block, or the
// standard code of how the run ended (of the launcher's own reasons when the run told nothing).
// A run that told nothing wrote no report: the launcher writes it then.
int EndAfterRun(const LaunchOutcome& outcome, HANDLE block, const wchar_t* scriptPath, const wchar_t* workDir);
