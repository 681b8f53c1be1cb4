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
    switch (mode) {
    case RunMode::Clean: return "zqclean.json";
    case RunMode::Preview: return "zqclean.preview.json";
    case RunMode::Restore: return "zqclean.restore.json";
    case RunMode::Snapshot:
    case RunMode::Draft: break;
    }
    return nullptr;
}
