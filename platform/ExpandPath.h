// Environment expansion of texts and paths, whole whatever their length.
#pragma once

#include "foundation/Result.h"
#include "foundation/zqString.h"

// The text with its environment references expanded, as the process's environment has them; an
// undefined variable stays as it is written. Never used cut: when the environment changes while
// it is expanded, the expansion is asked again.
Result ExpandText(const wchar_t* text, zqWString* expanded);

// ExpandText, then the path normalised: '/' turned into '\', runs of '\' collapsed (a run at the
// very start keeps two), runs of three or more dots shortened to two.
Result ExpandPath(const wchar_t* path, zqWString* expanded);
// The same into a new malloc block the caller frees with free(); on false *result is null.
bool ExpandPathW(const wchar_t* path, wchar_t** result);

// The normalisation steps alone, in place, on an already expanded text; returns the new length.
int NormalisePathW(wchar_t* path);
