// File-system and process primitives shared by the phases and the action point. They write
// nothing to the run log.
#pragma once

#include <windows.h>

#include "foundation/zqString.h"

enum class FileRemoval { Removed, Scheduled, Failed };

// The path in the form the file functions take at any length, beyond 260 characters too:
// "\\?\C:\..." for a drive, "\\?\UNC\server\share\..." for a share. A relative path, or one in
// that form already, stays as it is. Every primitive below takes its paths through it.
bool ExtendedPath(const wchar_t* path, zqWString* extended);
// Whether a file or folder is there, at any length of its path.
bool PathIsThere(const wchar_t* path);
// "." or "..", which a folder listing shows and nothing may act on.
bool IsDotEntry(const wchar_t* name);

// Deletes path now, or else schedules it for deletion at the next system start. A path that is
// already gone counts as removed and is not scheduled. Failed: GetLastError tells why.
FileRemoval RemoveNowOrAtRestart(const wchar_t* path);

struct ProtectedPlaces;

// Removes folder with everything below it; what cannot go now is scheduled for the next
// restart. Never follows a reparse point out of the tree, and leaves alone a protected folder
// of places that it meets, as itself or as the target of a link. Removed or Scheduled tell what
// became of the folder itself; Failed: GetLastError tells why.
FileRemoval DeleteFolderTree(const wchar_t* folder, const ProtectedPlaces* places = nullptr);

// Lists directory (and depth levels below it) for files whose lower-cased names match the
// lower-cased mask. Returns the count with a malloc'd array of malloc'd full paths in *paths
// (the caller frees each string, then the array; null when the count is 0), or -1 with *paths
// null when the directory cannot be searched.
int FindFilesByMask(const wchar_t* directory, const wchar_t* mask, wchar_t*** paths, int depth);

// True when name matches pattern ('*', '?', '[a-c]' classes); code units compared exactly.
bool WildcardMatch(const wchar_t* name, const wchar_t* pattern);

// The full path SearchPathW gives for name (directory null: the system's default order), in a
// malloc block the caller frees; null when it is not found.
wchar_t* SearchPathAlloc(const wchar_t* directory, const wchar_t* name);

// Starts the writable command line in runDir (null: the current directory), waits for it and
// returns its exit code; 0xFFFFFFFF when it did not start or the wait failed (GetLastError).
DWORD RunProcessAndWait(wchar_t* commandLine, const wchar_t* runDir);
const DWORD kNoExitCode = 0xFFFFFFFF;

// Loads a library by name from the system folders (and, when asked, the program's own folder)
// only: never from the current folder or along PATH. Null when it is not there.
HMODULE LoadTrustedLibrary(const wchar_t* name, bool alsoProgramFolder);

// The full path of a program of the system folder of this build's own bitness.
bool SystemProgramPath(const wchar_t* name, zqWString* path);

// Copies a file, its attributes (read-only, hidden, system included) and its three times; a
// file in use is read with the sharing the system allows. Fails when to exists.
bool CopyFileWithTimes(const wchar_t* from, const wchar_t* to);
// Copies a folder tree, every file and folder with its attributes and times, empty folders
// included; a link inside it is not entered. Fails when to exists.
bool CopyTree(const wchar_t* from, const wchar_t* to);
// Makes the folder and every folder above it that is missing.
bool MakeFolders(const wchar_t* folder);
