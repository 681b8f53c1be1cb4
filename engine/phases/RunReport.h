// The machine-readable account of a launch that ran the cleaning: every item line with its
// outcome, every phase's counts, every script line the run passed over. Written as JSON.
#pragma once

#include <windows.h>

#include "shared/RunMode.h"
#include "guard/Target.h"
#include "foundation/Result.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"

class zqCleanScript;

struct ReportItem {
    const char* phase = "";
    zqWString target;  // as the log shows it
    Outcome outcome = {OutcomeKind::Removed};
};

struct ReportPhase {
    const char* phase = "";
    int entries = -1;  // the count of its header (-1: its header counts nothing)
    int removed = 0;   // the count of its summary
    bool summary = false;
};

const int kOutcomeKindCount = static_cast<int>(OutcomeKind::CopyKept) + 1;

struct RunReport {
    RunMode mode = RunMode::Clean;
    SYSTEMTIME start = {};
    zqWString script, workDir;
    int status = -1;
    bool completed = false;  // the run reached its closing line
    zqWString backupFolder;  // the run's backup folder, or the one a restore read (empty: none)
    DWORD backupError = 0;   // why nothing could be saved (or put back)
    const char* backupReason = nullptr;  // a refused backup folder: why
    zqList<ReportItem> items;
    zqList<ReportPhase> phases;
    int counts[kOutcomeKindCount] = {};  // item lines per outcome
    int exitCode = -1;                   // the code the launch ends with
    bool rebootRequired = false;
    // A launch that ended before its run: the place code of its error line, what it means, and
    // the system's error (0: none).
    int errorPlace = 0;
    const char* errorWords = "";
    DWORD systemError = 0;
};

void ReportTarget(RunReport* report, const char* phase, const wchar_t* target, const Outcome& outcome);
void ReportPhaseEnd(RunReport* report, const ReportPhase& phase);

// Writes the report to path, UTF-8, through a temporary file moved over the old one, so that a
// reader never sees half a document. The script's notes become its warnings.
Result WriteRunReport(const RunReport& report, const zqCleanScript& script, const wchar_t* path);
