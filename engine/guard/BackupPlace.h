// Where a run may keep its backup: never where the same run removes things, nor in a folder the
// system needs, nor anywhere but on a local drive.
#pragma once

#include <windows.h>

#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "guard/Guard.h"

// Whether folder may not hold a run's backup: it is no full path of a local drive (*error 161),
// a protected folder, or one of the folders the run removes or inside one of them (*error 5).
// *reason says which in words.
bool IsUnfitForBackup(const ProtectedPlaces& places, const zqList<zqWString>& removedFolders, const wchar_t* folder,
                      DWORD* error, const char** reason);
