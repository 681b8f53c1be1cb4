// The machine now against its snapshot: which items are new, which changed, which are as they
// were; and the one pass over a place's differences that every drafting step takes.
#pragma once

#include "authoring/Listing.h"
#include "authoring/Places.h"

// Marks every item of current. A place the snapshot has no record of (matched by use and root)
// is left as it is, and *unrecorded has its bit.
void CompareWithSnapshot(Listing& current, const Places& currentPlaces, const Listing& snapshot,
                         const Places& snapshotPlaces, uint32_t* unrecorded);

// Calls handle for every item of the place that is not as it was, in walk order, but not for
// what lies below an item that handle took whole (returned true for).
typedef bool (*ChangeHandler)(void* context, int place, uint32_t item);
void ForEachChange(const Listing& current, int place, ChangeHandler handle, void* context);
