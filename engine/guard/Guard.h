// What a script may never remove, whatever it says: the folders, files, registry keys and
// values, services, devices and INF texts that the system and every other product need, and
// the run's own files. Every file and folder is judged by the local place it reaches, every key
// by the key it reaches. The folders are asked from the system once a run.
#pragma once

#include <windows.h>

#include "foundation/zqString.h"
#include "guard/ProtectedPlaces.h"
#include "guard/Target.h"
#include "platform/Removal.h"

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
