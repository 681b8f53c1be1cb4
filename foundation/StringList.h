// Owned lists of wide strings, and appending to them.
#pragma once

#include "foundation/TextIndex.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"

using StringList = zqList<zqWString>;

// Appends a heap copy of text; an entry whose string cannot be had (no memory, or text that
// cannot be converted) is dropped, and the caller goes on.
void AppendEntry(StringList& list, const char* text);
void AppendEntry(StringList& list, const wchar_t* text);
// Appends a copy of text unless an entry exactly equal to it is already in the list, whose
// entries the index holds (an index that ignores case compares without regard to it).
void AppendUnique(StringList& list, TextIndex& index, const wchar_t* text);
