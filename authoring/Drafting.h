// What the drafting steps share, and the steps in the order they take: the keys first (their
// driver services decide which INF files the run deletes), then the INF files, then the files
// and folders.
#pragma once

#include "authoring/Draft.h"
#include "authoring/Listing.h"
#include "authoring/Places.h"
#include "platform/SystemPaths.h"

struct DraftContext {
    Draft draft;
    Listing* current = nullptr;
    const Places* places = nullptr;
    SystemPaths paths;
    const wchar_t* workDir = L"";
    // A 32-bit build on 64-bit Windows: its run skips the INF files and the driver packages.
    bool infPhasesRun = true;
    // Services that appeared, before the INF files decide whether [drivers] may take them.
    StringList drivers;
    // What a drafted entry takes besides itself: the 32-bit twins of drafted folders, and the
    // INF files that [drivers] or [infs] delete (their .pnf files go with them).
    StringList twins;
    TextIndex twinIndex{true};
    StringList deletedInfs;
    TextIndex deletedInfIndex{true};
};

void DraftKeyPlaces(DraftContext& context);
void DraftInfFiles(DraftContext& context);
void DraftFilePlaces(DraftContext& context);

// The place of this use, or -1.
int PlaceOfUse(const DraftContext& context, PlaceUse use, int after = -1);
// "HKEY_LOCAL_MACHINE\<path>[:<value>]".
bool RegistryEntry(const wchar_t* path, const wchar_t* value, zqWString* entry);
