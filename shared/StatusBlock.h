// The status block shared by the launcher and the service in "Global\DIRezizUro".
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "foundation/Handles.h"
#include "shared/ExitCodes.h"

const int kBlockPathUnits = 260;

// Where the run is, published by the service as it goes and read by the launcher while it
// waits. Phase 0: no phase has begun yet; the phases count from 1 in the run's order. Done and
// items count the phase's own measure (its entries, or the files it scans) and never go back.
struct RunProgress {
    int32_t phase;
    int32_t done;
    int32_t items;
};

// The exit code convention and how the service's run ended: the launcher writes the first
// before the service starts, the service the second once, after its report.
struct RunEndFields {
    int32_t standardCodes;  // 1: the script asks for the standard exit codes
    int32_t runEnd;         // a LaunchEnd; 0 while no run has ended
};

struct StatusBlock {
    int32_t status;                       // see the values below
    wchar_t scriptPath[kBlockPathUnits];  // full path of zqclean.ini, terminated
    wchar_t workDir[kBlockPathUnits];     // launcher's current directory, zero-padded, maybe
                                          // unterminated
    RunProgress progress;                 // appended: the fields before it keep their places
    RunEndFields ended;
};
// The layout is shared between processes: fields are only ever appended.
static_assert(offsetof(StatusBlock, scriptPath) == 4 && offsetof(StatusBlock, workDir) == 524 &&
                  offsetof(StatusBlock, progress) == 1044 && offsetof(StatusBlock, ended) == 1056 &&
                  sizeof(StatusBlock) == 1064,
              "the block layout is shared between processes");

// No step writes a value for success: a completed run leaves the launcher's -1.
const int32_t kStatusNoResult = -1;
const int32_t kStatusRefused = 1;  // the launcher was started from a folder the script deletes

extern const char kStatusBlockName[];  // "Global\\DIRezizUro"

// Launcher side: creates the section (or opens one of that name that exists already, and then
// sets *existed); invalid holder on failure.
KernelHandle CreateStatusBlock(bool* existed = nullptr);
// status = -1, scriptPath cut to 259 units, workDir cut to 260 units (all zero when null), no
// progress.
void FillStatusBlock(HANDLE block, const wchar_t* scriptPath, const wchar_t* workDir);

// Service side: opens the section by name; null when it does not exist.
HANDLE OpenStatusBlock();

// Each access maps a view and unmaps it at once. An unmappable (or null) block reads as
// status -1 and empty paths; writes to it are skipped.
int ReadBlockStatus(HANDLE block);
void WriteBlockStatus(HANDLE block, int status);
void ReadBlockScriptPath(HANDLE block, wchar_t path[kBlockPathUnits]);  // at most 259 units
void ReadBlockWorkDir(HANDLE block, wchar_t dir[kBlockPathUnits]);      // at most 259 units
void WriteBlockConvention(HANDLE block, ExitConvention convention);
ExitConvention ReadBlockConvention(HANDLE block);
// How the run ended (Unknown: no run has ended, or the block is unmappable).
void WriteBlockRunEnd(HANDLE block, LaunchEnd end);
LaunchEnd ReadBlockRunEnd(HANDLE block);
RunProgress ReadBlockProgress(HANDLE block);

// The service publishes its progress after every item: through one view that stays mapped for
// the whole run (null fields when the block cannot be mapped; publishing then does nothing).
struct ProgressView {
    MappedView view;
    volatile RunProgress* fields = nullptr;
};
ProgressView MapProgress(HANDLE block);
void PublishProgress(const ProgressView& progress, int phase, int done, int items);
