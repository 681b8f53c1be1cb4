// Path forms: the "\\?\" form the file functions take at any length, full and canonical paths
// (the form every decision is taken on), and the final path of what a link leads to.
#pragma once

#include <windows.h>

#include "foundation/zqString.h"

// The path in the form the file functions take at any length, beyond 260 characters too:
// "\\?\C:\..." for a drive, "\\?\UNC\server\share\..." for a share. A relative path, or one in
// that form already, stays as it is. Every file primitive takes its paths through it.
bool ExtendedPath(const wchar_t* path, zqWString* extended);
// Whether a file or folder is there, at any length of its path.
bool PathIsThere(const wchar_t* path);
// "." or "..", which a folder listing shows and nothing may act on.
bool IsDotEntry(const wchar_t* name);
// The precompiled companion of an INF file: the same name with ".pnf" for its extension. False
// when the path has no extension.
bool PnfPath(const wchar_t* inf, zqWString* pnf);
// "X:\" or "\\server\share" (with or without a final separator), and "\\server".
bool IsRootPath(const wchar_t* path);

// The path made absolute: "\\?\" and "\\.\" forms unwrapped, "." and ".." resolved,
// trailing separators, dots and blanks dropped. False when the path is no full path of a drive
// or share (relative, drive-relative, a device).
bool FullPath(const wchar_t* path, zqWString* full);
// FullPath with short names made long, for what exists: the form every decision is taken on.
bool CanonicalPath(const wchar_t* path, zqWString* canonical);
// Where a link leads: the final path of the object it opens ("\\?\C:\..." or
// "\\?\UNC\server\share\..."). False when that cannot be told (a dangling link, or a system
// without the call).
bool FinalPath(const wchar_t* link, zqWString* path);
// The final path of an open file or folder, in the same form.
bool FinalPathOf(HANDLE object, zqWString* path);
// Whether the system can tell final paths at all (Windows XP cannot).
bool CanTellFinalPaths();
// The system's own name of an open object ("\\Device\\HarddiskVolume1\\..." on Windows), one
// call however the volume is named: what two handles name can be compared by it.
bool ObjectNameOf(HANDLE object, zqWString* name);
