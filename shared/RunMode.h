// What a launch asks of the service: a run that removes, a preview that only says what a run
// would do, or a restore of what the newest backup holds. The launcher passes the mode as the
// service's start argument and the service host reads it back.
#pragma once

enum class RunMode { Clean, Preview, Restore };

const wchar_t* RunModeArgument(RunMode mode);
RunMode RunModeFromArgument(const wchar_t* argument);
// The run log's and the report's names in the root of the system drive.
const char* RunLogName(RunMode mode);
const char* ReportName(RunMode mode);
