// Helpers of the cleaning-run tests: a controlled PATH, a run driven through the status block,
// spans of the run log, and a watcher that answers a stand-in tool while it waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// Sets PATH for the test's duration and restores the previous value (or its absence) after.
struct ScopedPath {
    explicit ScopedPath(const wchar_t* value);  // null: no PATH at all
    ~ScopedPath();
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

    std::wstring saved;
    bool hadValue = false;
};

struct RunOutcome {
    std::vector<std::string> lines;  // the run log, stamps masked
    int status = 0;                  // the block's status after the run
};

// Creates the status block (script path <scriptDir>\zqclean.ini, workDir), writes the prepared
// copy "<script>.srvc" with srvcText, points the run log at C:\zqtest\runlog\<logName>.log and
// calls RunCleaning(). The stop state is reset to running first unless keepStopState is set.
RunOutcome RunWithScript(const std::wstring& scriptDir, const std::string& srvcText,
                         const std::wstring& workDir, const std::string& logName,
                         bool keepStopState = false);

// Points the run log at a fresh C:\zqtest\runlog\<logName>.log; returns its path.
std::wstring FreshRunLog(const std::string& logName);
std::vector<std::string> RunLogLines(const std::wstring& logPath);

// The lines from the first one that starts with firstPrefix on, at most count of them;
// empty when there is no such line.
std::vector<std::string> LogSpan(const std::vector<std::string>& lines, const std::string& firstPrefix,
                                 size_t count);

// Copies a built stand-in program (standins\<name>.exe next to the build's tests folder) to target.
bool CopyStandIn(const wchar_t* name, const std::wstring& target);

// Answers a stand-in tool started with "<code> <ready> <release>" in its .exitcode file: for
// each call it notes whether the file named by the last quoted text of the tool's latest
// .args line exists while the tool runs, optionally requests a stop at call stopAtCall
// (1-based), then lets the tool exit.
struct ToolWatcher {
    ToolWatcher(const std::wstring& argsFile, int stopAtCall);
    ~ToolWatcher();  // Finish()
    ToolWatcher(const ToolWatcher&) = delete;
    ToolWatcher& operator=(const ToolWatcher&) = delete;

    void Finish();
    // The control line to write to the tool's .exitcode file for exit code code.
    std::string ControlLine(int code) const;

    std::wstring argsFile;
    int stopAtCall;
    HANDLE ready = nullptr;
    HANDLE release = nullptr;
    std::wstring readyName;
    std::wstring releaseName;
    std::vector<std::string> targetPresent;  // "present"/"absent"/"none" per call
    std::atomic<bool> done{false};
    std::thread worker;
};
