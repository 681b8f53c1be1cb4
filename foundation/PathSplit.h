// Path splitting and separator helpers on zero-terminated wide strings. They never touch the
// file system and rely on the caller's arrays being large enough (paths of up to 260 units).
#pragma once

#include <wchar.h>

// Copies source into target and replaces the text after its last dot (not a dot in the first
// position) by extension. 1 replaced, 0 not (null arguments, or no such dot: the copy stays).
int ReplaceExtension(wchar_t* target, const wchar_t* source, const wchar_t* extension);

// Splits path into the folder (up to and including the last separator) and the file name.
// A path ending in a separator gives the whole path, with backslashes, as folder.
// 0 only when fileName is null.
int SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* fileName);

// Every '/' made '\', in place.
wchar_t* ToBackslashes(wchar_t* path);
// ToBackslashes, then '\' appended unless the path already ends in a separator.
wchar_t* AddTrailingBackslash(wchar_t* path);
// Cuts the path at its last separator (not one in the first position), then AddTrailingBackslash.
wchar_t* CutLastSegment(wchar_t* path);
