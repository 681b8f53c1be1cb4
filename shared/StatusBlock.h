// The status block shared by the launcher and the service in "Global\DIRezizUro".
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "foundation/Handles.h"
#include "shared/ExitCodes.h"

const int kBlockPathUnits = 260;

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
    RunEndFields ended;
};
static_assert(offsetof(StatusBlock, workDir) + sizeof(StatusBlock::workDir) == 1044,
              "the first fields' layout is shared between processes");

// No step writes a value for success: a completed run leaves the launcher's -1.
const int32_t kStatusNoResult = -1;
const int32_t kStatusRefused = 1;  // the launcher was started from a folder the script deletes

extern const char kStatusBlockName[];  // "Global\\DIRezizUro"

// Launcher side: creates the section (or opens one of that name that exists already, and then
// sets *existed); invalid holder on failure.
KernelHandle CreateStatusBlock(bool* existed = nullptr);
// status = -1, scriptPath cut to 259 units, workDir cut to 260 units (all zero when null).
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
