// What one walk of the recorded places found: folders, files, keys and values, each with what
// tells a later change (a file's size and write time, a value's type, size and data hash), their
// texts in one pool. Sorted, a place's items stand in the order of a walk that takes every
// folder's and key's children by name, a key's values right after the key and before its
// subkeys, so two listings of the same places compare in one pass.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum class ItemKind : uint8_t { Folder, File, Key, Value };
// Against the snapshot: there as it was, there but changed, not there before, or there but
// unreadable then (what lies below it is not known).
enum class ItemState : uint8_t { Same, Changed, New, Unrecorded };

struct Item {
    uint64_t size = 0;    // file: its size; value: its data's size
    uint64_t stamp = 0;   // file: its last write time; value: a hash of its type and data
    uint32_t text = 0;    // offset in the pool: a folder's or file's full path, a key's path
                          // below HKEY_LOCAL_MACHINE, a value's name
    uint32_t length = 0;  // of the text, in units
    uint32_t owner = 0;   // a value: its key's item
    uint32_t type = 0;    // value: its type; folder, key: kUnreadable when it could not be listed
    uint32_t first = 0;   // a walked folder or key: its children are items[first .. first + children),
    uint32_t children = 0;  // by name (a key's values before its subkeys)
    ItemKind kind = ItemKind::Folder;
    uint8_t place = 0;
    ItemState state = ItemState::Same;
};

const uint32_t kUnreadable = 1;  // a folder or key that could not be listed: nothing below it is known
const int kMaxPlaces = 32;
const uint32_t kNoItem = UINT32_MAX;

struct Listing {
    Listing();
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    wchar_t* pool = nullptr;  // every text with its terminator
    size_t poolUsed = 0, poolCapacity = 0;
    Item* items = nullptr;
    uint32_t count = 0, capacity = 0;
    uint32_t placeRoot[kMaxPlaces];  // each walked place's root item, or kNoItem
    // Once ordered: the items of place p are items[order[placeStart[p] .. placeStart[p + 1])].
    uint32_t* order = nullptr;
    uint32_t placeStart[kMaxPlaces + 1] = {};
    bool full = false;  // an item could not be added: no memory
};

// Appends an item with a copy of its text; its index, or -1 (and full is set) when no memory.
int64_t AddItem(Listing& listing, ItemKind kind, int place, const wchar_t* text, size_t length);
inline const wchar_t* ItemText(const Listing& listing, uint32_t item)
{
    return listing.pool + listing.items[item].text;
}
// A folder's, file's or key's own path; a value's key path.
const wchar_t* ItemPath(const Listing& listing, uint32_t item, size_t* length);

// Sorts count items from first, each the child of one folder or key, by name: the name begins
// after skip units of its text.
void SortChildren(Listing& listing, uint32_t first, uint32_t count, size_t skip);
// The walk order of each place, from its root through every item's children. False when no
// memory.
bool OrderListing(Listing& listing, int placeCount);
// The order of items read in walk order (a snapshot's), place by place: counts[p] items each.
bool OrderAsRead(Listing& listing, const uint32_t* counts, int placeCount);
// Order of two items, each of its own listing: negative, 0 (the same item) or positive.
int CompareItems(const Listing& a, uint32_t itemA, const Listing& b, uint32_t itemB);
// Paths compared ignoring ASCII letter case, a separator before every other character.
int ComparePaths(const wchar_t* a, size_t lengthA, const wchar_t* b, size_t lengthB);
bool SameText(const wchar_t* a, const wchar_t* b);  // ignoring ASCII letter case
// Whether path is root or lies below it.
bool IsAtOrBelow(const wchar_t* path, size_t length, const wchar_t* root, size_t rootLength);
// The item of the folder, file or key at path in place (after SortListing), or -1.
int64_t FindPath(const Listing& listing, int place, const wchar_t* path);
// Separators in a place's item path after the place's root: 1 for the root's children.
int DepthBelow(const wchar_t* path, size_t rootLength);
