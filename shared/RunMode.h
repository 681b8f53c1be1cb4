// What a launch asks of the service: a run that removes, a preview that only says what a run
// would do, a restore of what the newest backup holds, or, for writing a script, a snapshot of
// the places products install into and a draft of what appeared since. The launcher passes the
// mode as the service's start argument and the service host reads it back.
#pragma once

enum class RunMode { Clean, Preview, Restore, Snapshot, Draft };

// The modes that write a script rather than run one.
inline bool IsAuthoringMode(RunMode mode)
{
    return mode == RunMode::Snapshot || mode == RunMode::Draft;
}

const wchar_t* RunModeArgument(RunMode mode);
RunMode RunModeFromArgument(const wchar_t* argument);
// The run log's and the report's names in the root of the system drive.
const char* RunLogName(RunMode mode);
const char* ReportName(RunMode mode);  // null: a snapshot or draft leaves no report
