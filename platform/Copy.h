// Copies of files and folder trees that keep attributes and times.
#pragma once

#include <windows.h>

#include "foundation/Result.h"

// Copies a file, its attributes (read-only, hidden, system included) and its three times; a
// file in use is read with the sharing the system allows. Fails when to exists.
Result CopyFileWithTimes(const wchar_t* from, const wchar_t* to);
// Copies a folder tree, every file and folder with its attributes and times, empty folders
// included; a link inside it is not entered. Fails when to exists, unless onlyMissing: then what
// is missing of the tree is added and whatever stands there already stays as it is.
Result CopyTree(const wchar_t* from, const wchar_t* to, bool onlyMissing = false);
// Makes the folder and every folder above it that is missing, with the given security (null:
// what the folder above hands down).
Result MakeFolders(const wchar_t* folder, SECURITY_ATTRIBUTES* security = nullptr);
