// The status block shared by the launcher and the service in "Global\DIRezizUro".
#pragma once

#include <windows.h>
#include <stdint.h>

#include "foundation/Handles.h"

struct StatusBlock {
    int32_t status;           // -1 no result, 1 refused (started from a folder to delete)
    wchar_t scriptPath[260];  // full path of zqclean.ini, terminated
    wchar_t workDir[260];     // launcher's current directory, zero-padded, maybe unterminated
};
static_assert(sizeof(StatusBlock) == 1044, "the block layout is shared between processes");

extern const char kStatusBlockName[];  // "Global\\DIRezizUro"

// Launcher side: creates (or opens an existing) section; invalid holder on failure.
KernelHandle CreateStatusBlock();
// status = -1, scriptPath cut to 259 units, workDir cut to 260 units (all zero when null).
void FillStatusBlock(HANDLE block, const wchar_t* scriptPath, const wchar_t* workDir);

// Service side: opens the section by name; null when it does not exist.
HANDLE OpenStatusBlock();

// Each access maps a view and unmaps it at once. An unmappable (or null) block reads as
// status -1 and empty paths; writes to it are skipped.
int ReadBlockStatus(HANDLE block);
void WriteBlockStatus(HANDLE block, int status);
void ReadBlockScriptPath(HANDLE block, wchar_t path[260]);  // at most 259 units
void ReadBlockWorkDir(HANDLE block, wchar_t dir[260]);      // at most 259 units
