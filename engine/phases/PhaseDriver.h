// The one loop of every phase: header, one item line per target handed to the action point,
// its outcome, the count, the stop polls and the summary. A phase is a row of data: its texts,
// the list its header counts, how its entries become targets, and its stop rule.
#pragma once

#include "phases/RunContext.h"
#include "guard/Target.h"

class zqCleanScript;
struct PhaseRun;

// When the run's stop request is polled, and what a stop seen there leaves out.
enum class EndPoll {
    None,           // not polled after the loop: the run goes on
    BeforeSummary,  // a stop drops the summary and ends the run
    AfterSummary,   // the summary is still written, then a stop ends the run
};
struct StopRule {
    bool afterEachCandidate;  // polled after every candidate; a stop ends the loop
    EndPoll endPoll;
};

enum class PhaseStart { Go, Skip, EndRun };

// A phase's own log lines, each written by a small function of its row, so that every format
// reaches the log writer's format check at its call.
struct PhaseTexts {
    const char* title;                             // the progress window's words: "Delete files"
    void (*WriteHeader)(int count);                // stamped; count: what HeaderCount gave, or -1
    void (*WriteAfterBoot)();                      // outcome of a removal at the next restart
    void (*WriteFailed)(DWORD error, DWORD exitCode);  // outcome of a failure or a refusal
    void (*WriteSummary)(int removed, int offered);
};

struct PhaseRow {
    const char* name;
    bool runsUnderWow64;                          // false: skipped by a 32-bit build on 64-bit Windows
    PhaseStart (*Start)(RunContext& run) = nullptr;  // before the header (null: Go); Skip writes its own line
    int (*HeaderCount)(const RunContext& run) = nullptr;  // the header's count (null: it counts nothing)
    void (*OfferCandidates)(RunContext& run, PhaseRun& phase);
    void (*Finish)(RunContext& run) = nullptr;      // after the summary (null: nothing)
    PhaseTexts texts;
    StopRule stop;
};

struct PhaseRun {
    const PhaseRow* row;
    RunContext* run;
    int number;  // counted from 1 in the run's order
    int removed;
    int offered;
    bool stopped;
    int items;   // the phase's measure of progress
};

// Writes the target's item line, hands it to the action point, writes the outcome and counts
// it; then polls as the phase's rule says. False when the phase must offer nothing more.
bool OfferTarget(PhaseRun& phase, const Target& target);
// A candidate that is no target (not present, not selected): only the poll.
bool PassOver(PhaseRun& phase);
// A journal of the backup that could not be written: its stamped line, once.
void LogBackupTrouble(RunContext& run);
// A script entry the guard refuses before it becomes a target (an [infs] text): its item line
// and report entry, never counted.
void RefuseEntry(PhaseRun& phase, const wchar_t* shown, DWORD error, const char* reason);

// Progress, published for the launcher's window after every item. A phase works through its
// items, by default the entries its header counts; one that measures otherwise (the files it
// scans, the keys it found) says how many before its loop. ReachItem: the items before index
// are done.
void CountItems(PhaseRun& phase, int items);
void ReachItem(PhaseRun& phase, int index);

// Runs one phase, the number-th of the run; false when the run ends after it.
bool RunPhase(RunContext& run, const PhaseRow& row, int number);

// The phases in the order the run takes them, and the one phase of a restore.
extern const PhaseRow kPhases[];
extern const int kPhaseCount;
extern const PhaseRow kRestorePhase;
