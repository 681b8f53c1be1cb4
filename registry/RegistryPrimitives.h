// Removing registry keys, and the names of the registry's roots.
#pragma once

#include <windows.h>

#include "foundation/Result.h"

// An empty key path, or one of backslashes only, names the root itself: never emptied.
bool IsRootKeyPath(const wchar_t* path);

// Removes the key at path below root (in view) with its subkeys and values, deepest first. A key
// directly below the root is emptied and kept. No link is followed: a link (the key itself or
// one below it) is deleted as itself, and the key it names stays. Fails on the first refusal,
// and when the key itself stays.
Result DeleteKeyTree(HKEY root, const wchar_t* path, REGSAM view = 0);
// Removes the key at path below root alone (a link as itself); it fails with access denied when
// the key still has subkeys, as the system's own single deletion does.
Result DeleteKeyAlone(HKEY root, const wchar_t* path, REGSAM view = 0);
// Deletes one value of the key at path below root.
Result DeleteValue(HKEY root, const wchar_t* path, const wchar_t* valueName, REGSAM view = 0);

// Upper-cases name in place and returns the predefined root it names in full, or null.
HKEY RootKeyFromName(wchar_t* name);
