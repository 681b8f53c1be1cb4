// The report of a launch whose service never ran the cleaning (an error of the launcher, or a
// Cancel before the run): no phase and no item, and which step failed, so that a deployment tool
// always finds a report that says why.
#pragma once

#include <windows.h>

#include "shared/RunMode.h"

struct EarlyEnd {
    RunMode mode = RunMode::Clean;
    SYSTEMTIME start = {};
    const wchar_t* scriptPath = L"";
    const wchar_t* workDir = L"";
    int status = -1;            // the classic code the launch ends with
    int exitCode = -1;          // the code it ends with under the convention in force
    int errorPlace = 0;         // the place code of the launcher's error line (0: none)
    const char* errorWords = "";
    DWORD systemError = 0;
};

bool WriteEarlyEndReport(const EarlyEnd& end);
