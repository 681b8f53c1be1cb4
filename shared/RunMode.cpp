#include "shared/RunMode.h"

#include <wchar.h>

#include <initializer_list>

const wchar_t* RunModeArgument(RunMode mode)
{
    switch (mode) {
    case RunMode::Preview: return L"-preview";
    case RunMode::Restore: return L"-restore";
    case RunMode::Snapshot: return L"-snapshot";
    case RunMode::Draft: return L"-draft";
    case RunMode::Clean:
    default: return L"";
    }
}

RunMode RunModeFromArgument(const wchar_t* argument)
{
    for (RunMode mode : {RunMode::Preview, RunMode::Restore, RunMode::Snapshot, RunMode::Draft})
        if (argument != nullptr && _wcsicmp(argument, RunModeArgument(mode)) == 0)
            return mode;
    return RunMode::Clean;
}

const char* RunLogName(RunMode mode)
{
    return mode == RunMode::Preview ? "zqclean.preview.log" : "zqclean.log";
}

const char* ReportName(RunMode mode)
{
    return mode == RunMode::Preview ? "zqclean.preview.json" : mode == RunMode::Restore ? "zqclean.restore.json" : "zqclean.json";
}
