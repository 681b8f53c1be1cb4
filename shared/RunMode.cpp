#include "shared/RunMode.h"

#include <wchar.h>

#include <initializer_list>

const wchar_t* RunModeArgument(RunMode mode)
{
    return mode == RunMode::Preview ? L"-preview" : mode == RunMode::Restore ? L"-restore" : L"";
}

RunMode RunModeFromArgument(const wchar_t* argument)
{
    for (RunMode mode : {RunMode::Preview, RunMode::Restore})
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
