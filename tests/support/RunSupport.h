// Helpers of the cleaning-run and file-system tests.
#pragma once

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/Handles.h"

// Sets PATH (null: none) for the test's duration and restores what was there.
struct ScopedPath {
    explicit ScopedPath(const wchar_t* value);
    ~ScopedPath();
    std::wstring saved;
    bool hadValue = false;
};

struct RunOutcome {
    std::vector<std::string> lines;  // the run log, stamps masked
    int status = 0;                  // the block's status after the run
};

// Creates the status block (script <scriptDir>\zqclean.ini, workDir), writes the prepared copy
// with srvcText, points the run log at C:\zqtest\runlog\<logName>.log and calls RunCleaning().
// The stop state is set to running first unless keepStopState is set.
RunOutcome RunWithScript(const std::wstring& scriptDir, const std::string& srvcText,
                         const std::wstring& workDir, const std::string& logName,
                         bool keepStopState = false);

// Points the run log at a fresh C:\zqtest\runlog\<logName>.log; returns its path.
std::wstring FreshRunLog(const std::string& logName);
std::vector<std::string> RunLogLines(const std::wstring& logPath);
// The delete-at-restart records whose path contains marker, in their order ("\??\" dropped).
std::vector<std::wstring> PendingWith(const std::wstring& marker);

// What a run whose script has no driver, INF, registry or device entries writes before the
// file phase and after the folder phase; scriptDir empty: no status block.
std::vector<std::string> LogHead(const std::wstring& scriptDir);
std::vector<std::string> LogTail();
std::vector<std::string> Joined(std::initializer_list<std::vector<std::string>> parts);

// standins\<name>.exe copied to target.
bool CopyStandIn(const wchar_t* name, const std::wstring& target);

// locker.exe holding file open without sharing until the holder ends.
struct LockedFile {
    explicit LockedFile(const std::wstring& file);
    ~LockedFile();
    bool held = false;
    KernelHandle ready, release, process;
};

// Writes "<code> <ready> <release>" to a stand-in tool's .exitcode file and requests a stop
// while the tool runs its first call; later calls pass straight through.
struct StopWhileToolRuns {
    StopWhileToolRuns(const std::wstring& exitCodeFile, int code);
    ~StopWhileToolRuns();
    KernelHandle ready, release;
    std::thread waiter;
};
