// The key places: every key opened once, its values read with their data (recorded as type,
// size and a hash), its subkeys entered in turn, in this build's registry view.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "authoring/Walk.h"
#include "foundation/Handles.h"
#include "registry/RegistryKey.h"
#include "shared/StopSignal.h"

namespace {

// The registry nests keys 512 deep at most; a link that leads back up ends there too.
const int kDeepestKey = 512;

struct KeyWalk {
    ~KeyWalk()
    {
        free(path);
        free(name);
        free(data);
    }
    Listing* listing = nullptr;
    int place = 0;
    wchar_t* path = nullptr;  // the current key's path, grown as needed
    size_t pathCapacity = 0;
    wchar_t* name = nullptr;  // a subkey's or value's name
    DWORD nameCapacity = 0;   // in units
    BYTE* data = nullptr;
    DWORD dataCapacity = 0;
    unsigned polls = 0;
    WalkEnd end = WalkEnd::Done;
};

template <typename T, typename Size>
bool Reserve(T** block, Size* capacity, size_t needed)
{
    if (needed <= *capacity)
        return true;
    T* grown = static_cast<T*>(realloc(*block, needed * sizeof(T)));
    if (grown == nullptr)
        return false;
    *block = grown;
    *capacity = static_cast<Size>(needed);
    return true;
}

bool Failed(KeyWalk& walk, WalkEnd end)
{
    walk.end = end;
    return false;
}

// Reads value index into the walk's buffers, grown when the value's data does not fit.
LONG ReadValue(KeyWalk& walk, HKEY key, DWORD index, DWORD* nameLength, DWORD* type, DWORD* size)
{
    for (;;) {
        *nameLength = walk.nameCapacity;
        *size = walk.dataCapacity;
        LONG result = RegEnumValueW(key, index, walk.name, nameLength, nullptr, type, walk.data, size);
        if (result != ERROR_MORE_DATA || *size <= walk.dataCapacity)
            return result;
        if (!Reserve(&walk.data, &walk.dataCapacity, *size))
            return ERROR_NOT_ENOUGH_MEMORY;
    }
}

// The key's values and then its subkeys as one block, each part by name; the subkeys are
// entered after. A listing ends at the first index that cannot be read: a key that keeps
// failing cannot hold the walk, and nothing is asked twice. (A name is at most 16383 units.)
bool WalkKey(KeyWalk& walk, HKEY key, uint32_t keyItem, size_t pathLength, int depth)
{
    Listing& listing = *walk.listing;
    uint32_t first = listing.count;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 0, type = 0, size = 0;
        LONG result = ReadValue(walk, key, index, &nameLength, &type, &size);
        if (result == ERROR_NOT_ENOUGH_MEMORY)
            return Failed(walk, WalkEnd::NoMemory);
        if (result != ERROR_SUCCESS) {
            if (result != ERROR_NO_MORE_ITEMS && index == 0)
                listing.items[keyItem].type = kUnreadable;
            break;
        }
        int64_t value = AddItem(listing, ItemKind::Value, walk.place, walk.name, nameLength);
        if (value < 0)
            return Failed(walk, WalkEnd::NoMemory);
        Item& item = listing.items[value];
        item.owner = keyItem;
        item.type = type;
        item.size = size;
        item.stamp = HashBytes(walk.data, size, HashBytes(&type, sizeof type));
    }
    uint32_t subkeys = listing.count;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = walk.nameCapacity;
        LONG result = RegEnumKeyExW(key, index, walk.name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            if (result != ERROR_NO_MORE_ITEMS && index == 0)
                listing.items[keyItem].type = kUnreadable;
            break;
        }
        size_t childLength = pathLength + 1 + nameLength;
        if (!Reserve(&walk.path, &walk.pathCapacity, childLength + 1))
            return Failed(walk, WalkEnd::NoMemory);
        walk.path[pathLength] = L'\\';
        memcpy(walk.path + pathLength + 1, walk.name, (static_cast<size_t>(nameLength) + 1) * sizeof(wchar_t));
        if (!IsSkippedKey(walk.path) && AddItem(listing, ItemKind::Key, walk.place, walk.path, childLength) < 0)
            return Failed(walk, WalkEnd::NoMemory);
    }
    uint32_t end = listing.count;
    SortChildren(listing, first, subkeys - first, 0);
    SortChildren(listing, subkeys, end - subkeys, pathLength + 1);
    listing.items[keyItem].first = first;
    listing.items[keyItem].children = end - first;
    for (uint32_t child = subkeys; child < end; ++child) {
        // The pool moves as the walk below adds items: the child's path is copied first.
        const Item& item = listing.items[child];
        size_t childLength = item.length;
        if (!Reserve(&walk.path, &walk.pathCapacity, childLength + 1))
            return Failed(walk, WalkEnd::NoMemory);
        memcpy(walk.path, ItemText(listing, child), (childLength + 1) * sizeof(wchar_t));
        RegKey opened;
        const wchar_t* name = walk.path + pathLength + 1;
        if (!OpenKey(key, name, KEY_READ, &opened, kKeyView, kKeyOpenOptions).ok) {
            listing.items[child].type = kUnreadable;
            continue;
        }
        if (depth < kDeepestKey && !WalkKey(walk, opened.Get(), child, childLength, depth + 1))
            return false;
        if (++walk.polls % 256 == 0 && StopRequested())
            return Failed(walk, WalkEnd::Stopped);
    }
    return true;
}

}  // namespace

WalkEnd WalkKeyPlace(const Places& places, int place, Listing& listing)
{
    const WalkedPlace& where = places.list[place];
    RegKey root;
    if (!OpenKey(HKEY_LOCAL_MACHINE, where.root.Get(), KEY_READ, &root, kKeyView).ok)
        return WalkEnd::Done;  // not there: nothing recorded
    KeyWalk walk;
    walk.listing = &listing;
    walk.place = place;
    size_t length = static_cast<size_t>(where.root.length);
    int64_t item = AddItem(listing, ItemKind::Key, place, where.root.Get(), length);
    if (item < 0 || !Reserve(&walk.path, &walk.pathCapacity, length + 1) ||
        !Reserve(&walk.name, &walk.nameCapacity, 16384) || !Reserve(&walk.data, &walk.dataCapacity, 64 * 1024))
        return WalkEnd::NoMemory;
    memcpy(walk.path, where.root.Get(), (length + 1) * sizeof(wchar_t));
    listing.placeRoot[place] = static_cast<uint32_t>(item);
    WalkKey(walk, root.Get(), static_cast<uint32_t>(item), length, 0);
    return walk.end;
}
