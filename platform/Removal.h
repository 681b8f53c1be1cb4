// Removal of files and folder trees, now or at the next system start. Nothing here writes to
// the run log.
#pragma once

#include <windows.h>

enum class FileRemoval { Removed, Scheduled, Failed };

// Deletes path now, or else schedules it for deletion at the next system start. A path that is
// already gone counts as removed and is not scheduled. Failed: GetLastError tells why.
FileRemoval RemoveNowOrAtRestart(const wchar_t* path);

// The caller's say over the folders a tree removal meets: a folder it may not enter (met as
// itself, or as the final path of a link) stays as it is, and so does the folder holding it.
struct EnterTest {
    bool (*MayEnter)(const wchar_t* folder, const void* context) = nullptr;  // null: every folder
    const void* context = nullptr;
};

// Removes folder with everything below it; what cannot go now is scheduled for the next
// restart. Never follows a reparse point out of the tree. Removed or Scheduled tell what became
// of the folder itself; Failed: GetLastError tells why.
FileRemoval DeleteFolderTree(const wchar_t* folder, const EnterTest& test = EnterTest());
