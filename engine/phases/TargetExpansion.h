// Fills the run's search folders, folders and files from the script before the phases, and adds
// the [maskedfiles] matches to the files just before the file phase.
#pragma once

#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "phases/RunLists.h"
#include "platform/SystemPaths.h"

class zqCleanScript;
struct ProtectedPlaces;

// The folders (64-bit build: with their twins) and the files; the extra folders, the folders and
// their twins after the search folders already listed.
void ExpandTargetLists(const zqCleanScript& script, const SystemPaths& paths, RunLists& lists);

// Appends every file that a [maskedfiles] mask matches in a search directory to the files. A mask
// that names no files of its own (fewer than three literal characters in its name part:
// "*.dll", "*o*.dll") looks only in the product's own folders ([exfolders], [folders]) that
// are not protected, wherever they lead. Returns false when a stop request ended it
// (the run then ends at once). The search folders are listed into lists.searchListings, once each.
bool ExpandMaskedFiles(const zqCleanScript& script, const SystemPaths& paths, const ProtectedPlaces& places,
                       RunLists& lists);
