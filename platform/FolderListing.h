// A search folder listed once: its entries in listing order, and an index of their names and
// short names ignoring ASCII letter case. The files phase asks it, for every name in every
// search folder, whether the system's search could find the name there, and matches masks
// against it, instead of asking the file system again for every name and every mask.
#pragma once

#include <windows.h>

#include "foundation/StringList.h"

struct ListedEntry {
    zqWString name;
    zqWString shortName;  // empty when the system keeps none
    DWORD attributes = 0;
};

struct FolderListing {
    zqWString folder;          // as the caller spells it
    bool complete = false;     // every entry is here (none when the folder is not there)
    bool foldsToAscii = false; // a name holds a letter that some case rules fold to an ASCII one
    zqList<ListedEntry> entries;
    TextIndex index{true};
};

// The listings of one run, each made at the first question about its folder.
struct FolderListings {
    zqList<FolderListing> folders;
    bool stale = false;  // something (a tool) may have added entries since: ask the system
};

// The listing of folder (spelled exactly so), listed now if it is not yet; null when no memory.
FolderListing* ListingOf(FolderListings& listings, const wchar_t* folder);

// False only when SearchPathW with the listed folder as its path surely finds nothing named
// name: a plain name (no path part, stream, wildcard, device name, trailing dot or blank, only
// ASCII), the folder a plain full path listed in full, the two together short enough for the
// search, and no entry of that name or short name. True leaves the answer to the system.
bool MayHoldName(const FolderListing& listing, const wchar_t* name);

// Appends to paths the files of the listed folder that FindFilesByMask (depth 0) would give for
// mask, in the same order and spelling; false, with nothing appended, when the listing cannot
// tell (the caller then asks FindFilesByMask).
bool AppendMaskMatches(const FolderListing& listing, const wchar_t* mask, StringList& paths);
