// Whether a saved .reg file stays within the item it was saved for, before "reg import" writes
// it as the system account: a backup folder is no proof that nobody changed the file.
#pragma once

#include <windows.h>

// True when the file reads as the export writes it (UTF-16 with a mark, the version 5 header,
// key lines and value lines only) and every key it names is the key at path below root or lies
// below it; with valueName, when it names that key alone and that one value alone. A key or value
// to delete, a comment, a continued or indented line, a NUL or an abbreviated root is refused.
// False also when the file cannot be read.
bool RegFileStaysWithin(const wchar_t* file, HKEY root, const wchar_t* path, const wchar_t* valueName);
