// Writes the prepared copy of the cleaning script, which the service reads instead of the script.
#pragma once

#include <windows.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "script/LineRules.h"

// The status block holds a script path of at most 259 units, and the copy's name, the script
// path with ".srvc" appended, must fit the same 259: a script path may have at most 254.
const int kMaxScriptPathUnits = 254;

// The prepared copy's name; false (nothing formed) when the script path is too long for it.
bool PreparedCopyPath(const wchar_t* scriptPath, zqWString* copyPath);

// Writes the copy: UTF-8 with a byte-order mark whatever the script's encoding, line for line
// (a line of the copy has its script line's number), every line trimmed, the [folders] and
// [exfolders] entries expanded. The copy is made new, never written through; with held given it
// stays open there, shared for reading only, so that nobody can change it before the service
// has read it. ScriptUnreadable: the script is missing, unreadable or too large, and the copy
// is left empty; CopyNotMade: no copy stands at its name. *error says why.
enum class PrepareResult { Written, ScriptUnreadable, CopyNotMade };
PrepareResult PrepareScript(const wchar_t* scriptPath, FileHandle* held = nullptr);

// The script read once, for the launcher to look at before its copy is made from the same text:
// its text, or why it cannot be read (ERROR_FILE_TOO_LARGE beyond kLargestScript). Read at any
// length of its path.
struct ScriptSource {
    ScriptText text;
    bool readable = false;
    DWORD error = ERROR_SUCCESS;
};
void ReadScriptSource(const wchar_t* scriptPath, ScriptSource* source);
PrepareResult PrepareScript(const wchar_t* scriptPath, ScriptSource* source, FileHandle* held, DWORD* error);
