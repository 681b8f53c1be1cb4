// Registry keys as the program reaches them: through the wide calls only, in the view a caller
// names where the view matters, every name and value read whole at the sizes the key itself
// reports, and every failure returned with the registry's own error code. The key itself is
// held by RegKey (foundation/Handles.h).
#pragma once

#include <windows.h>

#include "foundation/Handles.h"
#include "foundation/Result.h"
#include "foundation/StringList.h"
#include "foundation/zqString.h"

// A view is 0 (the process's own), KEY_WOW64_64KEY or KEY_WOW64_32KEY (the 64-bit or the 32-bit
// view of a 64-bit system, whatever the bitness of this build).

// Opens path below parent (an empty path: parent itself); options as the system's call takes
// them (REG_OPTION_OPEN_LINK: a link at the last part is opened as itself).
Result OpenKey(HKEY parent, const wchar_t* path, REGSAM access, RegKey* key, REGSAM view = 0, DWORD options = 0);
// The names of an open key's subkeys in enumeration order.
Result SubkeyNames(HKEY key, StringList* names);
// What an open key holds, and the longest names (in characters, without terminators) and data.
struct KeyCounts {
    DWORD subkeys = 0, values = 0;
    DWORD longestSubkey = 0, longestValueName = 0, longestData = 0;
};
Result CountsOf(HKEY key, KeyCounts* counts);
// Whether a key (valueName null) or one of its values is there: ok when it is, otherwise the
// registry's error (ERROR_FILE_NOT_FOUND: not there).
Result Probe(HKEY root, const wchar_t* path, const wchar_t* valueName, REGSAM view = 0);
// A string value's text (REG_SZ or REG_EXPAND_SZ, as stored, up to its first terminator as the
// system's own readers take it), read whole; ERROR_FILE_NOT_FOUND when the value is not there,
// ERROR_INVALID_DATATYPE when it holds no text.
Result ReadStringValue(HKEY key, const wchar_t* valueName, zqWString* text);
Result ReadStringValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, zqWString* text, REGSAM view = 0);
// A REG_DWORD value; ERROR_INVALID_DATATYPE when it is no such value.
Result ReadNumberValue(HKEY key, const wchar_t* valueName, DWORD* number);

// The path by which the native view names a key of HKEY_LOCAL_MACHINE in the given view of a
// 64-bit system: the 32-bit view's "SOFTWARE\X" is "SOFTWARE\Wow6432Node\X". Any other key is
// named by its own path.
bool NativeKeyPath(HKEY root, const wchar_t* path, REGSAM view, zqWString* native);
