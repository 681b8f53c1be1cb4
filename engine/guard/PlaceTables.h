// Filling the guard's folder tables and looking names up, shared by the guard's own sources.
#pragma once

#include <stddef.h>

#include "foundation/Result.h"
#include "guard/ProtectedPlaces.h"

// A read that could not take in the whole of what it read (no memory, or a text that kept
// growing while it was read): the guard cannot tell from it, and refuses.
inline bool CutShort(const Result& read)
{
    return !read.ok && (read.error == ERROR_NOT_ENOUGH_MEMORY || read.error == ERROR_INSUFFICIENT_BUFFER ||
                        read.error == ERROR_MORE_DATA);
}

// Every letter, not only ASCII: a profile folder named with an umlaut matches in either case.
void LowerCase(wchar_t* text);
// The folder, made canonical and lower-cased, and every folder above it, protected as themselves.
void AddFolder(ProtectedPlaces* places, const wchar_t* path);
// A folder whose whole tree is the system's (and the folders above it, as themselves).
void AddTree(ProtectedPlaces* places, const wchar_t* path);
// The folders the system ships below the Windows folder, the system folders and Program Files,
// and every folder that holds a file the system's protected-file check names.
void AddSystemFolders(ProtectedPlaces* places, const wchar_t* windows);
// The folders directly in folder whose names take says so (every one without take), as
// themselves or each with its whole tree.
void AddSubfolders(ProtectedPlaces* places, const wchar_t* folder, bool tree, bool (*take)(const wchar_t* name) = nullptr);
// Whether name is in list (compared ignoring case).
bool InNameList(const wchar_t* name, const wchar_t* const* list, size_t count);
template <size_t N>
bool InNameList(const wchar_t* name, const wchar_t* const (&list)[N])
{
    return InNameList(name, list, N);
}
// Whether a lower-cased canonical folder is one of the trees or lies inside one.
bool InSystemTree(const ProtectedPlaces& places, const wchar_t* lowered);
