// Filling the guard's folder tables, shared by the guard's own sources.
#pragma once

#include "guard/Guard.h"

// Every letter, not only ASCII: a profile folder named with an umlaut matches in either case.
void LowerCase(wchar_t* text);
// The folder, made canonical and lower-cased, and every folder above it, protected as themselves.
void AddFolder(ProtectedPlaces* places, const wchar_t* path);
// A folder whose whole tree is the system's (and the folders above it, as themselves).
void AddTree(ProtectedPlaces* places, const wchar_t* path);
// The folders the system ships below the Windows folder, the system folders and Program Files,
// and every folder that holds a file the system's protected-file check names.
void AddSystemFolders(ProtectedPlaces* places, const wchar_t* windows);
// Whether a lower-cased canonical folder is one of the trees or lies inside one.
bool InSystemTree(const ProtectedPlaces& places, const wchar_t* lowered);
