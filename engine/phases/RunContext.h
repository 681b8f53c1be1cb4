// What one cleaning run hands to its phases and the phase driver: everything the action point
// works with, the script, the system's paths and the report.
#pragma once

#include "action/ActionContext.h"
#include "phases/RunReport.h"

class zqCleanScript;
struct SystemPaths;

struct RunContext : ActionContext {
    zqCleanScript* script = nullptr;
    const SystemPaths* paths = nullptr;
    RunReport report;
};
