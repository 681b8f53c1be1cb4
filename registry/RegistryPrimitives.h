// Recursive deletion and listing of registry keys, and root-key names.
#pragma once

#include <windows.h>

#include "foundation/zqString.h"

// An empty key path, or one of backslashes only, names the root itself: never emptied.
bool IsRootKeyPath(const wchar_t* path);

// Removes the key at path below root with its subkeys and values, deepest first. A key
// directly below the root is emptied and kept. No link is followed: a link (the key itself or
// one below it) is deleted as itself, and the key it names stays. False on the first refusal,
// and when the key itself stays.
BOOL DeleteKeyTreeW(HKEY root, const wchar_t* path);
// Removes the key at path below root alone (a link as itself); it fails with access denied when
// the key still has subkeys, as the system's own single deletion does.
BOOL DeleteKeyAloneW(HKEY root, const wchar_t* path);

// A string value's text (REG_SZ or REG_EXPAND_SZ, as stored), sized to fit; false when it is not
// there or holds no text.
bool ReadStringValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, zqWString* text);

// The subkey names of path below HKEY_LOCAL_MACHINE, in enumeration order, in a malloc'd
// array of malloc'd names (*names null when there are none). Returns the number stored.
int ListSubkeyNamesA(const char* path, char*** names);

// Upper-cases name in place and returns the predefined root it names in full, or null.
HKEY RootKeyFromName(wchar_t* name);
