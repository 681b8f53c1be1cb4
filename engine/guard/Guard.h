// What a script may never remove, whatever it says: the folders, files, registry keys and
// values, services, devices and INF texts that the system and every other product need, and
// the run's own files. Every file and folder is judged by the local place it reaches, every key
// by the key it reaches. The folders are asked from the system once a run.
#pragma once

#include <windows.h>

#include "foundation/Handles.h"
#include "foundation/StringList.h"
#include "foundation/zqList.h"
#include "guard/Target.h"
#include "platform/LocalPlace.h"
#include "platform/Removal.h"

typedef BOOL(WINAPI* SfcIsFileProtectedFn)(HANDLE rpc, const wchar_t* path);

// The system's own INF files (every INF file of the INF folder not named oem*.inf), read at
// the first question about them.
struct SystemInfs {
    bool read = false;
    bool whole = true;         // false: one of them could not be read, and nothing can be told apart
    zqList<zqString> texts;    // their texts, single-byte as the INF phase compares them
    StringList services;       // the services they install (AddService), lower-cased
    TextIndex serviceIndex;
};

struct ProtectedPlaces {
    StringList folders;        // lower-cased: protected as themselves, and every folder above them
    TextIndex folderIndex;
    StringList trees;          // lower-cased: folders whose whole tree is the system's
    TextIndex treeIndex;
    StringList runFiles;       // lower-cased: the run's own program, script, copy, log and reports
    TextIndex runFileIndex;
    StringList runFolders;     // lower-cased: every folder that holds one of them
    TextIndex runFolderIndex;
    zqWString infFolder;       // lower-cased
    bool untold = false;       // a folder the system names could not be read in full: every folder is protected
    LoadedModule sfc;          // the system's own protected-file check, where there is one
    SfcIsFileProtectedFn isFileProtected = nullptr;
    mutable PlaceCache placeCache;  // the folders resolved last
    mutable SystemInfs infs;
};

// Asks the system for its folders: known folders, environment, profiles, the folders its
// protected-file check names, and the system's protected-file check itself.
void AskProtectedPlaces(ProtectedPlaces* places);
// One of the run's own files, never removed or scheduled, nor any folder that holds it.
void AddRunFile(ProtectedPlaces* places, const wchar_t* path);

// A drive or share root, a folder of the protected list, or one inside a folder whose whole
// tree is the system's (compared ignoring case).
bool IsProtectedFolder(const ProtectedPlaces& places, const wchar_t* canonical);
// The tree removal's test: no protected folder is entered or removed.
EnterTest KeepProtectedFolders(const ProtectedPlaces& places);
// Whether a folder the run searches (a mask that names no file of its own looks only in the
// product's folders) is a protected place, wherever it leads, or cannot be told.
bool IsProtectedSearchFolder(const ProtectedPlaces& places, const wchar_t* folder);
// A file the system protects: by the system's own check, a core file by name in a protected
// folder, a file in one of the system's own folder trees, one of the system's own INF files.
bool IsProtectedFile(const ProtectedPlaces& places, const wchar_t* canonical);
// The file a command line or image path of the registry starts ("%SystemRoot%\...",
// "\SystemRoot\...", quoted or not, a bare name in the system folder), made canonical.
bool CommandFile(const wchar_t* command, zqWString* canonical);
// A key, or a value of it (valueName non-null), that the system and every other product need;
// the key is reached in view (0: the process's own).
bool IsProtectedKey(const ProtectedPlaces& places, HKEY root, const wchar_t* path,
                    const wchar_t* valueName = nullptr, REGSAM view = 0);
// A service the system ships: in its built-in list, installed by one of the system's own INF
// files, a boot or system-start driver, run by the system's service host, or with an image that
// is a protected file or lies in the system's own folders. Given its name or its key below
// HKEY_LOCAL_MACHINE.
bool IsSystemService(const ProtectedPlaces& places, const wchar_t* service);
// An enumerator the system and every other product share (ROOT, PCI, USB, ...).
bool IsSharedEnumerator(const wchar_t* name);
// Whether a mask names files of its own: three literal characters in its name part (before
// its last dot), dots, wildcards and classes aside. "*o*.dll", "*.*.dll" and "*" do not.
bool MaskNamesFiles(const wchar_t* mask);
// An [infs] text that does not single out a product's INF files: shorter than four characters,
// an INF section or key name, a setup class, a text one of the system's own INF files holds.
bool IsRefusedInfText(const ProtectedPlaces& places, const wchar_t* text, DWORD* error, const char** reason);

// Whether the target is one the script may not remove; *error then says why (5 for what the
// system needs, 161 for a folder entry that is no full path, 336 for a folder named as a file)
// and *reason in words. For a file or folder, *place (when given) receives the local place the
// verdict was taken on: its folder followed through every link, its own name kept.
bool IsRefused(const ProtectedPlaces& places, const Target& target, DWORD* error, const char** reason,
               zqWString* place = nullptr);
// Whether a restore may not write the target back: a link along its path (other than the
// system's own registry links), or a place the guard refuses.
bool IsRefusedForWriting(const ProtectedPlaces& places, const Target& target, DWORD* error, const char** reason);
