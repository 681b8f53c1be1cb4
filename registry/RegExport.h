// Registry keys and values written as the registry editor's version 5 text (".reg": UTF-16 with a
// byte-order mark), which the system's own "reg import" reads back. Every value type is kept
// exactly: a string that is not plain text goes as hex(1).
#pragma once

#include <windows.h>

#include "foundation/Result.h"
#include "foundation/zqString.h"

// The root's name as the registry editor writes it ("HKEY_LOCAL_MACHINE"); null for no root.
const wchar_t* RootName(HKEY root);

// The key's name as a .reg file writes it: the root's name and the path's parts, each after one
// separator ("HKEY_LOCAL_MACHINE\SOFTWARE\Example"). False for no root, or without memory.
bool RegKeyName(HKEY root, const wchar_t* path, zqWString* name);

// Appends to text the key at path below root (in view) with all below it, or, when valueName is
// given, that one value of the key. A key of the 32-bit view is named as the native view names it
// (below "Wow6432Node"), so that the system's "reg import" puts it back there. Fails when the key
// or value, or a key below it, cannot be read.
Result ExportRegistry(HKEY root, const wchar_t* path, const wchar_t* valueName, zqWString* text, REGSAM view = 0);

// The header every .reg file begins with, and a whole .reg text written as UTF-16 with a mark.
extern const wchar_t kRegFileHeader[];
Result WriteRegFile(const wchar_t* file, const zqWString& text);
