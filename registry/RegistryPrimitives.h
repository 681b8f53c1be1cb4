// Recursive deletion and listing of registry keys, and root-key names.
#pragma once

#include <windows.h>

// Removes the key at path below root with its subkeys and values, deepest first. A key
// directly below the root is emptied and kept. False on the first refusal, and when the key
// itself stays.
BOOL DeleteKeyTreeW(HKEY root, const wchar_t* path);

// The narrow twin, working on the key the caller already opened into *key; the handle is
// closed, and the variable reused to open the parent.
BOOL DeleteKeyTreeA(HKEY root, const char* path, HKEY* key);

// The subkey names of path below HKEY_LOCAL_MACHINE, in enumeration order, in a malloc'd
// array of malloc'd names (*names null when there are none). Returns the number stored.
int ListSubkeyNamesA(const char* path, char*** names);

// Upper-cases name in place and returns the predefined root it names in full, or null.
HKEY RootKeyFromName(wchar_t* name);
