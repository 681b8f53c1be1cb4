// Completes searchDirs and folders before the phases, and turns the [maskedfiles] masks into
// [files] entries just before the file phase.
#pragma once

#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "platform/SystemPaths.h"

class zqCleanScript;
struct FolderListings;
struct ProtectedPlaces;

// Extra folders, folders and (64-bit build) their twins into searchDirs and folders.
void ExpandTargetLists(zqCleanScript& script, const SystemPaths& paths);

// Appends every file that a [maskedfiles] mask matches in a search directory to files. A mask
// that names no files of its own (fewer than three literal characters in its name part:
// "*.dll", "*o*.dll") looks only in the product's own folders ([exfolders], [folders]) that
// are not protected, wherever they lead. Returns false when a stop request ended it
// (the run then ends at once). The search folders are listed into listings, once each.
bool ExpandMaskedFiles(zqCleanScript& script, const SystemPaths& paths, const ProtectedPlaces& places,
                       FolderListings& listings);
