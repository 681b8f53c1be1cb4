// Walking the recorded places into a listing: folders with FindFirstFileExW (the basic
// information level, large fetches), keys with RegEnumKeyExW and RegEnumValueW.
#pragma once

#include "authoring/Listing.h"
#include "authoring/Places.h"

enum class WalkEnd { Done, Stopped, NoMemory };

// Every place, then the listing sorted.
WalkEnd WalkPlaces(const Places& places, Listing& listing);

WalkEnd WalkFolderPlace(const Places& places, int place, Listing& listing);
WalkEnd WalkKeyPlace(const Places& places, int place, Listing& listing);

// A hash of bytes (FNV-1a, 64 bits), continued from seed.
const uint64_t kHashSeed = 14695981039346656037ull;
uint64_t HashBytes(const void* bytes, size_t size, uint64_t seed = kHashSeed);
