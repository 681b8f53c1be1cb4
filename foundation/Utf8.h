// UTF-8, the encoding of the report, the backup's records, the prepared script and the draft.
#pragma once

#include <stddef.h>

#include <string>

#include "foundation/zqString.h"

// The text in UTF-8; length -1: up to its terminator, otherwise that many units, a NUL among
// them included. An empty string for text that is empty or cannot be converted.
std::string Utf8(const wchar_t* text, int length = -1);
// UTF-8 bytes made wide; false (wide emptied) when they are no UTF-8 text, hold a NUL (a name
// cut there would name something else) or no memory is left.
bool FromUtf8(const char* bytes, size_t size, zqWString* wide);
