#include "authoring/Listing.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "foundation/HeapArray.h"

namespace {

inline uint32_t Folded(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<uint32_t>(c - L'A' + L'a') : static_cast<uint32_t>(c);
}

// A separator sorts before every other character, so that a folder's or key's whole subtree
// follows it before any sibling whose name merely begins with its name.
inline uint32_t SortKey(wchar_t c)
{
    return c == L'\\' ? 0 : Folded(c) + 1;
}

template <typename T>
bool Grow(T** block, size_t* capacity, size_t needed, size_t first)
{
    if (needed <= *capacity)
        return true;
    size_t grown = *capacity == 0 ? first : *capacity;
    while (grown < needed)
        grown *= 2;
    T* bigger = static_cast<T*>(realloc(*block, grown * sizeof(T)));
    if (bigger == nullptr)
        return false;
    *block = bigger;
    *capacity = grown;
    return true;
}

}  // namespace

Listing::Listing()
{
    for (uint32_t& root : placeRoot)
        root = kNoItem;
}

Listing::~Listing()
{
    free(pool);
    free(items);
    free(order);
}

int64_t AddItem(Listing& listing, ItemKind kind, int place, const wchar_t* text, size_t length)
{
    size_t itemCapacity = listing.capacity;
    // Offsets and counts are 32-bit: a listing stops far beyond any machine's places.
    if (listing.full || listing.poolUsed + length + 1 > UINT32_MAX || listing.count == UINT32_MAX ||
        !Grow(&listing.pool, &listing.poolCapacity, listing.poolUsed + length + 1, 1 << 16) ||
        !Grow(&listing.items, &itemCapacity, static_cast<size_t>(listing.count) + 1, 1024)) {
        listing.full = true;
        return -1;
    }
    listing.capacity = static_cast<uint32_t>(itemCapacity);
    Item& item = listing.items[listing.count];
    item = Item();
    item.kind = kind;
    item.place = static_cast<uint8_t>(place);
    item.text = static_cast<uint32_t>(listing.poolUsed);
    item.length = static_cast<uint32_t>(length);
    memcpy(listing.pool + listing.poolUsed, text, length * sizeof(wchar_t));
    listing.pool[listing.poolUsed + length] = 0;
    listing.poolUsed += length + 1;
    return listing.count++;
}

const wchar_t* ItemPath(const Listing& listing, uint32_t item, size_t* length)
{
    const Item& it = listing.items[item];
    const Item& path = it.kind == ItemKind::Value ? listing.items[it.owner] : it;
    *length = path.length;
    return listing.pool + path.text;
}

int ComparePaths(const wchar_t* a, size_t lengthA, const wchar_t* b, size_t lengthB)
{
    size_t common = lengthA < lengthB ? lengthA : lengthB;
    for (size_t i = 0; i < common; ++i) {
        uint32_t ka = SortKey(a[i]), kb = SortKey(b[i]);
        if (ka != kb)
            return ka < kb ? -1 : 1;
    }
    return lengthA < lengthB ? -1 : lengthA > lengthB ? 1 : 0;
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    for (; *a != 0 && Folded(*a) == Folded(*b); ++a, ++b) {
    }
    return Folded(*a) == Folded(*b);
}

int CompareItems(const Listing& a, uint32_t itemA, const Listing& b, uint32_t itemB)
{
    size_t lengthA = 0, lengthB = 0;
    const wchar_t* pathA = ItemPath(a, itemA, &lengthA);
    const wchar_t* pathB = ItemPath(b, itemB, &lengthB);
    int order = ComparePaths(pathA, lengthA, pathB, lengthB);
    if (order != 0)
        return order;
    const Item& x = a.items[itemA];
    const Item& y = b.items[itemB];
    bool valueA = x.kind == ItemKind::Value, valueB = y.kind == ItemKind::Value;
    if (valueA != valueB)
        return valueA ? 1 : -1;  // the key first, then its values
    if (valueA)
        return ComparePaths(a.pool + x.text, x.length, b.pool + y.text, y.length);
    return x.kind == y.kind ? 0 : x.kind < y.kind ? -1 : 1;
}

void SortChildren(Listing& listing, uint32_t first, uint32_t count, size_t skip)
{
    const wchar_t* pool = listing.pool;
    std::sort(listing.items + first, listing.items + first + count, [pool, skip](const Item& a, const Item& b) {
        return ComparePaths(pool + a.text + skip, a.length - skip, pool + b.text + skip, b.length - skip) < 0;
    });
}

bool OrderListing(Listing& listing, int placeCount)
{
    free(listing.order);
    listing.order = static_cast<uint32_t*>(malloc((static_cast<size_t>(listing.count) + 1) * sizeof(uint32_t)));
    HeapArray<uint32_t> stackBlock(static_cast<size_t>(listing.count) + 1);
    uint32_t* stack = stackBlock.Get();
    if (listing.order == nullptr || stack == nullptr)
        return false;
    uint32_t ordered = 0;
    for (int place = 0; place < kMaxPlaces; ++place) {
        listing.placeStart[place] = ordered;
        if (place >= placeCount || listing.placeRoot[place] == kNoItem)
            continue;
        // Depth first, each item's children after it: a folder's or key's whole tree follows it.
        size_t depth = 0;
        stack[depth++] = listing.placeRoot[place];
        while (depth > 0) {
            const Item& item = listing.items[stack[--depth]];
            listing.order[ordered++] = stack[depth];
            for (uint32_t child = item.children; child > 0; --child)
                stack[depth++] = item.first + child - 1;
        }
    }
    listing.placeStart[kMaxPlaces] = ordered;
    return true;
}

bool OrderAsRead(Listing& listing, const uint32_t* counts, int placeCount)
{
    free(listing.order);
    listing.order = static_cast<uint32_t*>(malloc((static_cast<size_t>(listing.count) + 1) * sizeof(uint32_t)));
    if (listing.order == nullptr)
        return false;
    for (uint32_t i = 0; i < listing.count; ++i)
        listing.order[i] = i;
    uint32_t start = 0;
    for (int place = 0; place < kMaxPlaces; ++place) {
        listing.placeStart[place] = start;
        start += place < placeCount ? counts[place] : 0;
    }
    listing.placeStart[kMaxPlaces] = start;
    return true;
}

bool IsAtOrBelow(const wchar_t* path, size_t length, const wchar_t* root, size_t rootLength)
{
    if (length < rootLength)
        return false;
    for (size_t i = 0; i < rootLength; ++i)
        if (Folded(path[i]) != Folded(root[i]))
            return false;
    return length == rootLength || path[rootLength] == L'\\' || (rootLength > 0 && root[rootLength - 1] == L'\\');
}

int64_t FindPath(const Listing& listing, int place, const wchar_t* path)
{
    size_t length = wcslen(path);
    uint32_t low = listing.placeStart[place], high = listing.placeStart[place + 1];
    // The first item not before the path itself (a value of that key comes after it).
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        size_t itemLength = 0;
        const wchar_t* itemPath = ItemPath(listing, listing.order[middle], &itemLength);
        int order = ComparePaths(itemPath, itemLength, path, length);
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == listing.placeStart[place + 1])
        return -1;
    uint32_t item = listing.order[low];
    size_t itemLength = 0;
    const wchar_t* itemPath = ItemPath(listing, item, &itemLength);
    if (listing.items[item].kind == ItemKind::Value || ComparePaths(itemPath, itemLength, path, length) != 0)
        return -1;
    return item;
}

int DepthBelow(const wchar_t* path, size_t rootLength)
{
    const wchar_t* rest = path + rootLength;
    if (*rest == 0)
        return 0;
    int depth = *rest == L'\\' ? 0 : 1;
    for (; *rest != 0; ++rest)
        depth += *rest == L'\\' ? 1 : 0;
    return depth;
}
