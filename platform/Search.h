// Looking for files: by mask in a folder, by name along the system's search order.
#pragma once

#include <windows.h>

// Lists directory (and depth levels below it) for files whose lower-cased names match the
// lower-cased mask. Returns the count with a malloc'd array of malloc'd full paths in *paths
// (the caller frees each string, then the array; null when the count is 0), or -1 with *paths
// null when the directory cannot be searched.
int FindFilesByMask(const wchar_t* directory, const wchar_t* mask, wchar_t*** paths, int depth);

// Whether a file's name matches a lower-cased mask as FindFilesByMask matches it: lower-cased,
// and a name without an extension with a trailing dot ("*." takes only such names).
bool MaskTakesName(const wchar_t* fileName, const wchar_t* loweredMask);

// True when name matches pattern ('*', '?', '[a-c]' classes); code units compared exactly.
bool WildcardMatch(const wchar_t* name, const wchar_t* pattern);

// The full path SearchPathW gives for name (directory null: the system's default order), in a
// malloc block the caller frees; null when it is not found.
wchar_t* SearchPathAlloc(const wchar_t* directory, const wchar_t* name);
