#include "platform/Search.h"

#include <stdlib.h>
#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "platform/Paths.h"

namespace {

// The paths collected by one FindFilesByMask call, subdirectories included.
struct PathArray {
    wchar_t** items;
    int count;
    int capacity;
};

void FreePaths(PathArray* found)
{
    for (int i = 0; i < found->count; ++i)
        free(found->items[i]);
    free(found->items);
    found->items = nullptr;
    found->count = 0;
    found->capacity = 0;
}

// Takes ownership of path. False (path freed) when the array cannot grow.
bool AddPath(PathArray* found, wchar_t* path)
{
    if (path == nullptr)
        return false;
    if (found->count >= found->capacity) {
        int capacity = found->count + 32;
        void* grown = realloc(found->items, capacity * sizeof(wchar_t*));
        if (grown == nullptr) {
            free(path);
            return false;
        }
        found->items = static_cast<wchar_t**>(grown);
        found->capacity = capacity;
    }
    found->items[found->count++] = path;
    return true;
}

bool IsDirectory(const wchar_t* path)
{
    zqWString extended;
    DWORD attributes = ExtendedPath(path, &extended) ? GetFileAttributesW(extended.Get()) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Appends the matches below directory to found, in listing order, a subdirectory's matches
// where the subdirectory came. A directory that cannot be listed adds nothing. False only
// when the array cannot grow.
bool CollectMatches(const wchar_t* directory, const wchar_t* loweredMask, PathArray* found, int depth)
{
    size_t length = wcslen(directory);
    const wchar_t* separator = (length > 0 && directory[length - 1] == L'\\') ? L"" : L"\\";
    zqWString extended, pattern, fullPath;
    if (!ExtendedPath(directory, &extended) || !FormatInto(pattern, L"%s%s*", extended.Get(), separator))
        return true;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    if (!listing.Valid())
        return true;
    do {
        if (IsDotEntry(entry.cFileName) || !FormatInto(fullPath, L"%s%s%s", directory, separator, entry.cFileName))
            continue;
        // The listing already tells a folder from a file; asking the file system again for
        // every entry would triple the cost of a large folder such as the INF folder.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth > 0 && !CollectMatches(fullPath.Get(), loweredMask, found, depth - 1))
                return false;
            continue;
        }
        if (MaskTakesName(entry.cFileName, loweredMask) && !AddPath(found, _wcsdup(fullPath.Get())))
            return false;
    } while (FindNextFileW(listing.Get(), &entry));
    return true;
}

}  // namespace

bool MaskTakesName(const wchar_t* fileName, const wchar_t* loweredMask)
{
    // Names without an extension get a trailing dot, so "*.*" takes them too and "*." takes
    // only them.
    zqWString name;
    if (!FormatInto(name, wcschr(fileName, L'.') != nullptr ? L"%s" : L"%s.", fileName))
        return false;
    _wcslwr(name.buffer);
    return wcscmp(name.Get(), loweredMask) == 0 || WildcardMatch(name.Get(), loweredMask);
}

int FindFilesByMask(const wchar_t* directory, const wchar_t* mask, wchar_t*** paths, int depth)
{
    *paths = nullptr;
    if (!IsDirectory(directory))
        return -1;
    HeapBlock maskCopy(_wcsdup(mask));
    if (!maskCopy.Valid())
        return -1;
    wchar_t* loweredMask = static_cast<wchar_t*>(maskCopy.Get());
    _wcslwr(loweredMask);

    PathArray found = {nullptr, 0, 0};
    if (!CollectMatches(directory, loweredMask, &found, depth)) {
        FreePaths(&found);
        return -1;
    }
    *paths = found.items;
    return found.count;
}

namespace {

// Whether the pattern element at p takes the name character c; *length receives the element's
// length in the pattern. A character equal to the pattern's own is taken as it stands, '['
// included; otherwise '[' opens a class of listed characters and ranges "x-y". A '-' right
// after '[' or right before ']' takes nothing unless c already belongs; a class without ']'
// takes nothing.
bool ElementTakes(const wchar_t* p, wchar_t c, size_t* length)
{
    *length = 1;
    if (*p == c || *p == L'?')
        return true;
    if (*p != L'[')
        return false;
    bool belongs = false;
    const wchar_t* q = p + 1;
    for (; *q != L']'; ++q) {
        if (*q == 0)
            return false;
        if (belongs)
            continue;
        if (q[1] == L'-' && q[2] != 0 && q[2] != L']') {
            belongs = c >= q[0] && c <= q[2];
            q += 2;
            continue;
        }
        belongs = *q == c;
        if (!belongs && *q == L'-' && (q == p + 1 || q[1] == L']'))
            return false;
    }
    *length = static_cast<size_t>(q - p) + 1;
    return belongs;
}

}  // namespace

// Every element takes exactly one character, so a '*' only ever has to be retried from the
// last one seen, one character further: time in proportion to name length times pattern length.
bool WildcardMatch(const wchar_t* name, const wchar_t* pattern)
{
    const wchar_t* n = name;
    const wchar_t* p = pattern;
    const wchar_t* afterStar = nullptr;  // the pattern right after the last '*' run
    const wchar_t* starTook = nullptr;   // where the name stood when that '*' last started
    while (*n != 0) {
        if (*p == L'*') {
            while (*p == L'*')
                ++p;
            if (*p == 0)
                return true;
            afterStar = p;
            starTook = n;
            continue;
        }
        size_t length = 0;
        if (*p != 0 && ElementTakes(p, *n, &length)) {
            p += length;
            ++n;
            continue;
        }
        if (afterStar == nullptr)
            return false;
        p = afterStar;
        n = ++starTook;
    }
    while (*p == L'*')
        ++p;
    return *p == 0;
}

// One search into a MAX_PATH block serves nearly every path; only a longer one is searched
// again with the size the system asks for.
wchar_t* SearchPathAlloc(const wchar_t* directory, const wchar_t* name)
{
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 2; ++attempt) {
        wchar_t* path = static_cast<wchar_t*>(malloc(static_cast<size_t>(size) * sizeof(wchar_t)));
        if (path == nullptr)
            return nullptr;
        DWORD got = SearchPathW(directory, name, nullptr, size, path, nullptr);
        if (got != 0 && got < size)
            return path;
        free(path);
        if (got == 0)
            return nullptr;
        size = got;  // the size needed, terminator included
    }
    return nullptr;
}
