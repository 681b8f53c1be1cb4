// Where a path leads on this machine: a path on another machine (a share, a drive letter mapped
// to one) told apart, and a local path followed through every link and mount point along it to
// the place the file system reaches.
#pragma once

#include <windows.h>

#include "foundation/zqString.h"

enum class Reach {
    Local,    // the place is known
    Network,  // a share, a drive letter mapped to one, or a link leading there
    Unknown,  // cannot be told: no final-path call with a link along the path, no memory
};

// The folders resolved last and where they lead: the targets of a large product share few
// folders, so each folder is resolved once, and each drive letter is asked about once.
struct PlaceCache {
    static const int kSlots = 32;
    zqWString spelled[kSlots];  // a folder as the caller wrote it (compared ignoring case)
    zqWString reached[kSlots];  // its final path, plain drive form
    zqWString objectName[kSlots];  // the system's own name of it, where it exists
    Reach reach[kSlots] = {};
    int next = 0;
    unsigned networkDrives = 0, askedDrives = 0;  // one bit per drive letter
};

struct Place {
    Reach reach = Reach::Unknown;
    zqWString at;     // the object's own place: its folder followed through every link, its name kept
    zqWString leads;  // where the object itself leads: at, unless it is a link
    DWORD attributes = INVALID_FILE_ATTRIBUTES;  // the object's own; INVALID when it is not there
};

// Whether a full path (FullPath's form) lies on another machine: a share in any spelling, or a
// drive letter the system maps to one.
bool IsNetworkPath(const wchar_t* full, PlaceCache* cache);
// The place of a full path. What does not exist yet is placed below the deepest part that does.
void FindPlace(const wchar_t* full, PlaceCache* cache, Place* place);
// Whether a link or mount point stands along what exists of a full path (the drive root aside).
bool LinkAlongPath(const wchar_t* full);
