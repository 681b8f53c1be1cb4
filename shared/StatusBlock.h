// The status block shared by the launcher and the service in "Global\DIRezizUro".
#pragma once

#include <windows.h>
#include <stdint.h>

#include "foundation/Handles.h"

const int kBlockPathUnits = 260;

struct StatusBlock {
    int32_t status;                       // see the values below
    wchar_t scriptPath[kBlockPathUnits];  // full path of zqclean.ini, terminated
    wchar_t workDir[kBlockPathUnits];     // launcher's current directory, zero-padded, maybe
                                          // unterminated
};
static_assert(sizeof(StatusBlock) == 1044, "the block layout is shared between processes");

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
