// What a script may never remove, whatever it says: the folders, files and registry keys that
// the system and every other product need. The folders are asked from the system once a run.
#pragma once

#include <windows.h>

#include "foundation/Handles.h"
#include "foundation/StringList.h"
#include "guard/Target.h"
#include "platform/Removal.h"

typedef BOOL(WINAPI* SfcIsFileProtectedFn)(HANDLE rpc, const wchar_t* path);

struct ProtectedPlaces {
    StringList folders;  // lower-cased canonical paths, every folder above them included
    TextIndex folderIndex;
    LoadedModule sfc;           // the system's own protected-file check, where there is one
    SfcIsFileProtectedFn isFileProtected = nullptr;
};

// Asks the system for its folders: known folders, environment, profiles, and the system's
// protected-file check.
void AskProtectedPlaces(ProtectedPlaces* places);

// A drive or share root, or a folder of the protected list (compared ignoring case).
bool IsProtectedFolder(const ProtectedPlaces& places, const wchar_t* canonical);
// The tree removal's test: no protected folder is entered or removed.
EnterTest KeepProtectedFolders(const ProtectedPlaces& places);
// A file the system protects: by the system's own check, or a core file by name in a protected
// folder.
bool IsProtectedFile(const ProtectedPlaces& places, const wchar_t* canonical);
// A key the system and every other product need (the roots, the shared keys, every key above
// them), in either registry view; keys below the shared keys stay removable.
bool IsProtectedKey(HKEY root, const wchar_t* path);
// A driver service that is the system's own: one of its boot and core drivers, or one whose
// image is a protected file. Given the service's name or its key below HKEY_LOCAL_MACHINE.
bool IsSystemDriver(const ProtectedPlaces& places, const wchar_t* service);
// An enumerator the system and every other product share (ROOT, PCI, USB, ...).
bool IsSharedEnumerator(const wchar_t* name);
// A mask whose name part (before its last dot) holds no literal character: "*", "*.dll", "?*.sys".
bool MaskHasNoLiteralName(const wchar_t* mask);

// Whether the target is one the script may not remove; *error then says why (5 for what the
// system needs, 161 for a folder entry that is no full path) and *reason in words.
bool IsRefused(const ProtectedPlaces& places, const Target& target, DWORD* error, const char** reason);
