// A file read or written whole, in one call each way.
#pragma once

#include <windows.h>
#include <stddef.h>

#include "foundation/HeapArray.h"
#include "foundation/Result.h"

// Writes bytes to a temporary file beside path (made new, never written through), then moves
// it over path: a reader finds the old file or the new one whole, never a part. Durable: on
// the disk before it counts as written (a file that checks itself when read can do without,
// and a power loss then leaves it refused rather than lost).
Result WriteWholeFile(const wchar_t* path, const void* bytes, size_t size, bool durable = true);

// Reads the whole file, with a zero byte after it (*size does not count it). Fails when it cannot
// be opened or read, or is larger than limit (ERROR_FILE_TOO_LARGE).
Result ReadWholeFile(const wchar_t* path, size_t limit, HeapArray<char>* bytes, size_t* size);
