// Environment expansion and normalisation of a path into a new malloc block.
#pragma once

// Expands environment references, turns '/' into '\', collapses runs of '\' (a run at the very
// start keeps two), shortens runs of three or more dots to two. On true *result holds a block
// the caller frees with free(); on false *result is null (or untouched when result is null).
bool ExpandPathW(const wchar_t* path, wchar_t** result);

// The normalisation steps alone, in place, on an already expanded text; returns the new length.
int NormalisePathW(wchar_t* path);
