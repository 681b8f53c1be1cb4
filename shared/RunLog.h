// The run log "zqclean.log" in the root folder of the system drive, appended to by the
// launcher and the service; every piece is written whole, at the log's end, at once.
#pragma once

#include <stddef.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"

// The file of that name in the root folder of the system drive (the system directory cut
// after its first separator); false without memory.
bool SystemDriveFile(const char* name, zqWString* path);
// The log is "zqclean.log" there, a preview's "zqclean.preview.log".
void InitRunLogPath(const char* name = "zqclean.log");
// Overrides the log path (tests).
void SetRunLogPath(const char* path);
const wchar_t* RunLogPath();

// Starts an empty log for a launch and gives back a handle on it that lets everyone read and
// append but nobody delete or rename it while it is held.
FileHandle StartRunLog();

// While it lives, the pieces of this process go through one handle opened for appending; without
// it every piece opens and closes the file. Either way a piece is on the log when WriteLog
// returns and lands at its end, after the other process's: the cleaning run, which writes a few
// pieces for every item, holds one.
struct RunLogHold {
    RunLogHold();
    ~RunLogHold();
    RunLogHold(const RunLogHold&) = delete;
    RunLogHold& operator=(const RunLogHold&) = delete;
};

// Appends one piece; a non-zero stamp writes the "[yyyy/mm/dd hh:mm:ss,mmm]\t" prefix first.
// "%S" takes wide text, "%s" narrow text.
void WriteLog(int stamp, const char* format, ...) __attribute__((format(ms_printf, 2, 3)));

// The stamped text that explains a status block value.
void WriteResultLine(int status);
