// What one cleaning run hands to its phases and the phase driver: everything the action point
// works with, the script as read, what the run derives from it, the system's paths, the report
// and the progress.
#pragma once

#include "action/ActionContext.h"
#include "phases/RunLists.h"
#include "phases/RunReport.h"
#include "shared/StatusBlock.h"

class zqCleanScript;
struct SystemPaths;

struct RunContext : ActionContext {
    const zqCleanScript* script = nullptr;
    RunLists lists;
    const SystemPaths* paths = nullptr;
    RunReport report;
    ProgressView progress;  // where the phases publish how far they are
};
