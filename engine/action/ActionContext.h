// What the action point works with during one run: its mode, the places no target may be, the
// backup, the driver library and the launcher's working directory.
#pragma once

#include "action/DriverLibrary.h"
#include "backup/Backup.h"
#include "guard/Guard.h"
#include "platform/Process.h"
#include "shared/RunMode.h"

struct ActionContext {
    RunMode mode = RunMode::Clean;
    const wchar_t* workDir = L"";  // the launcher's working directory (gacutil.exe, DIFxAPI.dll)
    ToolLimits tools;              // how long a tool may run, and the stop request that ends it
    DriverLibrary driverLibrary;   // bound while the driver-package phase (or a restore) runs
    ProtectedPlaces places;        // what no target may be
    Backup backup;                 // what a run saves before it removes, or what a restore puts back
    bool restartNeeded = false;    // the driver library said a change takes a restart
};
