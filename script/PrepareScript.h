// Writes the prepared copy of the cleaning script, which the service reads instead of the script.
#pragma once

#include "foundation/zqString.h"

// The status block holds a script path of at most 259 units, and the copy's name, the script
// path with ".srvc" appended, must fit the same 259: a script path may have at most 254.
const int kMaxScriptPathUnits = 254;

// The prepared copy's name; false (nothing formed) when the script path is too long for it.
bool PreparedCopyPath(const wchar_t* scriptPath, zqWString* copyPath);

// True when the script was read to its end and the copy written; false when either file
// cannot be opened or the copy's name does not fit.
bool PrepareScript(const wchar_t* scriptPath);
