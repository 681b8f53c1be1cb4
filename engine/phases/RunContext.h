// What one cleaning run hands to its phases and the phase driver: everything the action point
// works with, the script, the system's paths, the report and the progress.
#pragma once

#include "action/ActionContext.h"
#include "phases/RunReport.h"
#include "platform/FolderListing.h"
#include "shared/StatusBlock.h"

class zqCleanScript;
struct SystemPaths;

struct RunContext : ActionContext {
    zqCleanScript* script = nullptr;
    const SystemPaths* paths = nullptr;
    RunReport report;
    ProgressView progress;  // where the phases publish how far they are
    FolderListings searchListings;  // the search folders of the files phase, each listed once
};
