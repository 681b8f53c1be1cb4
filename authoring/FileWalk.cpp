// The folder places: each folder listed once with FindFirstFileExW, its children recorded with
// their full paths (a file with its size and write time), the folders among them entered next
// where the place is a tree. Links (junctions, symbolic links) are recorded, never entered.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "authoring/Walk.h"
#include "foundation/Handles.h"
#include "platform/Paths.h"
#include "shared/StopSignal.h"

namespace {

// A folder's mark until its block is sorted: it is entered later.
const uint32_t kToEnter = 2;

// The faster forms of the listing came with Windows 7; an older system refuses them once and
// gets the standard ones from then on.
bool standardListingOnly = false;

HANDLE FindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* data)
{
    if (!standardListingOnly) {
        HANDLE found = FindFirstFileExW(pattern, FindExInfoBasic, data, FindExSearchNameMatch, nullptr,
                                        FIND_FIRST_EX_LARGE_FETCH);
        if (found != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER)
            return found;
        standardListingOnly = true;
    }
    return FindFirstFileExW(pattern, FindExInfoStandard, data, FindExSearchNameMatch, nullptr, 0);
}

// The folders still to list, by item.
struct FolderStack {
    ~FolderStack() { free(items); }
    uint32_t* items = nullptr;
    size_t count = 0, capacity = 0;
};

bool Push(FolderStack& stack, uint32_t item)
{
    if (stack.count == stack.capacity) {
        size_t capacity = stack.capacity == 0 ? 256 : stack.capacity * 2;
        uint32_t* grown = static_cast<uint32_t*>(realloc(stack.items, capacity * sizeof(uint32_t)));
        if (grown == nullptr)
            return false;
        stack.items = grown;
        stack.capacity = capacity;
    }
    stack.items[stack.count++] = item;
    return true;
}

// A folder's path with room for a child's name after it, grown as names need.
struct ChildPath {
    ~ChildPath() { free(text); }
    wchar_t* text = nullptr;
    size_t capacity = 0, folderLength = 0;
};

bool Fits(ChildPath& path, size_t length)
{
    if (length + 1 <= path.capacity)
        return true;
    size_t capacity = path.capacity == 0 ? 512 : path.capacity;
    while (capacity < length + 1)
        capacity *= 2;
    wchar_t* grown = static_cast<wchar_t*>(realloc(path.text, capacity * sizeof(wchar_t)));
    if (grown == nullptr)
        return false;
    path.text = grown;
    path.capacity = capacity;
    return true;
}

bool SetFolder(ChildPath& path, const wchar_t* folder, size_t length)
{
    bool separator = length > 0 && folder[length - 1] != L'\\';  // "C:\" has its own
    if (!Fits(path, length + 1))
        return false;
    memcpy(path.text, folder, length * sizeof(wchar_t));
    if (separator)
        path.text[length++] = L'\\';
    path.folderLength = length;
    path.text[length] = 0;
    return true;
}

bool SetChild(ChildPath& path, const wchar_t* name, size_t* length)
{
    size_t nameLength = wcslen(name);
    *length = path.folderLength + nameLength;
    if (!Fits(path, *length))
        return false;
    memcpy(path.text + path.folderLength, name, (nameLength + 1) * sizeof(wchar_t));
    return true;
}

bool ListingPattern(const wchar_t* folder, zqWString* pattern)
{
    zqWString plain;
    size_t length = wcslen(folder);
    return FormatInto(plain, length > 0 && folder[length - 1] == L'\\' ? L"%s*" : L"%s\\*", folder) &&
           ExtendedPath(plain.Get(), pattern);
}

}  // namespace

WalkEnd WalkFolderPlace(const Places& places, int place, Listing& listing)
{
    const WalkedPlace& where = places.list[place];
    zqWString extended, folder, pattern;
    if (!ExtendedPath(where.root.Get(), &extended))
        return WalkEnd::NoMemory;
    DWORD attributes = GetFileAttributesW(extended.Get());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return WalkEnd::Done;  // not there: nothing recorded
    int64_t root = AddItem(listing, ItemKind::Folder, place, where.root.Get(), static_cast<size_t>(where.root.length));
    FolderStack stack;
    if (root < 0 || !Push(stack, static_cast<uint32_t>(root)))
        return WalkEnd::NoMemory;
    listing.placeRoot[place] = static_cast<uint32_t>(root);
    bool tree = where.use == PlaceUse::ProductTree || where.use == PlaceUse::DriveRoot ||
                where.use == PlaceUse::AssemblyCache;
    ChildPath child;
    unsigned polls = 0;
    while (stack.count > 0) {
        uint32_t item = stack.items[--stack.count];
        // The pool moves as items are added: the folder's path is copied first.
        if (!folder.Assign(ItemText(listing, item)) || !ListingPattern(folder.Get(), &pattern) ||
            !SetFolder(child, folder.Get(), static_cast<size_t>(folder.length)))
            return WalkEnd::NoMemory;
        // The drive root's own files (the page file, logs) are no product's.
        bool foldersOnly = where.use == PlaceUse::DriveRoot && item == root;
        WIN32_FIND_DATAW data;
        FindHandle found(FindFirst(pattern.Get(), &data));
        if (!found.Valid()) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND)
                listing.items[item].type = kUnreadable;
            continue;
        }
        // The children as one block, by name; the folders among them are entered later.
        uint32_t first = listing.count;
        do {
            bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            size_t length = 0;
            if (IsDotEntry(data.cFileName) || (foldersOnly && !isFolder))
                continue;
            if (!SetChild(child, data.cFileName, &length))
                return WalkEnd::NoMemory;
            if (isFolder && IsSkippedFolder(places, child.text))
                continue;
            int64_t added = AddItem(listing, isFolder ? ItemKind::Folder : ItemKind::File, place, child.text, length);
            if (added < 0)
                return WalkEnd::NoMemory;
            Item& child = listing.items[added];
            if (!isFolder) {
                child.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
                child.stamp = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
            }
            // Entered later: a tree's folders, but never a link.
            child.type = isFolder && tree && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? kToEnter : 0;
            if (++polls % 1024 == 0 && StopRequested())
                return WalkEnd::Stopped;
        } while (FindNextFileW(found.Get(), &data));
        SortChildren(listing, first, listing.count - first, child.folderLength);
        listing.items[item].first = first;
        listing.items[item].children = listing.count - first;
        for (uint32_t i = first; i < listing.count; ++i) {
            if (listing.items[i].type != kToEnter)
                continue;
            listing.items[i].type = 0;
            if (!Push(stack, i))
                return WalkEnd::NoMemory;
        }
    }
    return WalkEnd::Done;
}
