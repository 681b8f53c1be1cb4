// What one cleaning run hands to its phases, the phase driver and the action point.
#pragma once

#include <windows.h>

#include "engine/Backup.h"
#include "engine/DriverLibrary.h"
#include "engine/Guard.h"
#include "engine/RunReport.h"

class zqCleanScript;
struct SystemPaths;

struct RunContext {
    zqCleanScript* script = nullptr;
    const SystemPaths* paths = nullptr;
    const wchar_t* workDir = L"";  // the launcher's working directory (gacutil.exe, DIFxAPI.dll)
    DriverLibrary driverLibrary;   // bound while the driver-package phase runs
    ProtectedPlaces places;        // what no target may be
    RunMode mode = RunMode::Clean;
    RunReport report;
    Backup backup;                 // what a run saves before it removes, or what a restore puts back
};
