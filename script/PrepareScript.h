// Writes the prepared copy of the cleaning script (the script path with ".srvc" appended).
#pragma once

// True when the script was read to its end and the copy written; false when either file
// cannot be opened or the copy's name does not fit.
bool PrepareScript(const wchar_t* scriptPath);
