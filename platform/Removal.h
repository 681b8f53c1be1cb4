// Removal of files and folder trees, now or at the next system start. Nothing here writes to
// the run log.
#pragma once

#include <windows.h>

#include "foundation/Result.h"

// Deletes path now, or else schedules it for deletion at the next system start (*atRestart
// then says so). A path that is already gone counts as removed and is not scheduled.
Result RemoveNowOrAtRestart(const wchar_t* path, bool* atRestart = nullptr);

// The caller's say over the folders a tree removal meets: a folder it may not enter (met as
// itself, or as the final path of a link) stays as it is, and so does the folder holding it.
struct EnterTest {
    bool (*MayEnter)(const wchar_t* folder, const void* context) = nullptr;  // null: every folder
    const void* context = nullptr;
};

// Removes folder with everything below it; what cannot go now is scheduled for the next
// restart. Never follows a reparse point out of the tree. Ok, with *atRestart, tells what
// became of the folder itself; a folder that is not there fails.
Result DeleteFolderTree(const wchar_t* folder, const EnterTest& test = EnterTest(), bool* atRestart = nullptr);
