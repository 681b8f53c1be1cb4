#include "authoring/Walk.h"

WalkEnd WalkPlaces(const Places& places, Listing& listing)
{
    for (int place = 0; place < places.count; ++place) {
        WalkEnd end = IsKeyPlace(places.list[place].use) ? WalkKeyPlace(places, place, listing)
                                                          : WalkFolderPlace(places, place, listing);
        if (end != WalkEnd::Done)
            return end;
    }
    return OrderListing(listing, places.count) ? WalkEnd::Done : WalkEnd::NoMemory;
}

uint64_t HashBytes(const void* bytes, size_t size, uint64_t seed)
{
    const unsigned char* byte = static_cast<const unsigned char*>(bytes);
    uint64_t hash = seed;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ byte[i]) * 1099511628211ull;
    return hash;
}
