// One cleaning run: the whole work of the service host.
#pragma once

// What the run does with its targets: removes them, only says what it would do, or puts back
// what the newest backup holds.
enum class RunMode { Clean, Preview, Restore };

// The service start argument that asks for a mode (the launcher passes it, the service host
// reads it back), and its run log and report names in the root of the system drive.
const wchar_t* RunModeArgument(RunMode mode);
RunMode RunModeFromArgument(const wchar_t* argument);
const char* RunLogName(RunMode mode);
const char* ReportName(RunMode mode);

// Reads the status block and the prepared script copy, expands the lists, runs the phases and
// writes the report. Returns 1 on every path.
int RunCleaning(RunMode mode = RunMode::Clean);
