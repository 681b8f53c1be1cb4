// What a run derives from its script before and during the phases: the script model keeps what
// the script says, these lists what the run makes of it.
#pragma once

#include "foundation/StringList.h"
#include "platform/FolderListing.h"

struct RunLists {
    // The PATH folders and the drivers folder, then [exfolders], the folders and their twins.
    StringList searchDirs;
    // [folders], then (64-bit build) their 32-bit twins.
    StringList folders;
    // [files], then every [maskedfiles] match.
    StringList files;
    // The device and interface keys the [devices] entries name, below HKEY_LOCAL_MACHINE.
    StringList deviceKeys;
    // The search folders of the files phase, each listed once.
    FolderListings searchListings;
};
