// The guard's folder tables, filled and asked, and its name lists.
#include "guard/PlaceTables.h"

#include <wchar.h>

#include "platform/Paths.h"

namespace {

void AddAndAbove(ProtectedPlaces* places, const wchar_t* path, bool tree)
{
    zqWString canonical;
    if (path == nullptr || path[0] == 0 || !CanonicalPath(path, &canonical))
        return;
    LowerCase(canonical.buffer);
    if (tree)
        AppendUnique(places->trees, places->treeIndex, canonical.Get());
    for (;;) {
        AppendUnique(places->folders, places->folderIndex, canonical.Get());
        wchar_t* cut = wcsrchr(canonical.buffer, L'\\');
        if (cut == nullptr || IsRootPath(canonical.Get()))
            return;
        // "C:\Windows" goes up to "C:\", a share's folder up to the share.
        if (cut == canonical.buffer + 2 && canonical.buffer[1] == L':')
            cut[1] = 0;
        else
            *cut = 0;
        canonical.length = static_cast<int>(wcslen(canonical.buffer));
    }
}

}  // namespace

void LowerCase(wchar_t* text)
{
    int length = static_cast<int>(wcslen(text));
    if (length > 0)
        LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, text, length, text, length);
}

void AddFolder(ProtectedPlaces* places, const wchar_t* path) { AddAndAbove(places, path, false); }

void AddSubfolders(ProtectedPlaces* places, const wchar_t* folder, bool tree, bool (*take)(const wchar_t* name))
{
    zqWString pattern, child;
    if (!FormatInto(pattern, L"%s\\*", folder))
        return;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    if (!listing.Valid())
        return;
    do {
        if (!IsDotEntry(entry.cFileName) && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (take == nullptr || take(entry.cFileName)) && FormatInto(child, L"%s\\%s", folder, entry.cFileName))
            AddAndAbove(places, child.Get(), tree);
    } while (FindNextFileW(listing.Get(), &entry));
}
void AddTree(ProtectedPlaces* places, const wchar_t* path) { AddAndAbove(places, path, true); }

bool InSystemTree(const ProtectedPlaces& places, const wchar_t* lowered)
{
    if (places.treeIndex.count == 0)
        return false;
    zqWString prefix;
    if (!prefix.Assign(lowered))
        return true;  // undecidable: inside
    // The folder itself, then every folder above it.
    for (;;) {
        if (TextIndexContains(places.treeIndex, prefix.Get()))
            return true;
        wchar_t* cut = wcsrchr(prefix.buffer, L'\\');
        if (cut == nullptr || IsRootPath(prefix.Get()))
            return false;
        *cut = 0;
    }
}

bool InNameList(const wchar_t* name, const wchar_t* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (_wcsicmp(name, list[i]) == 0)
            return true;
    return false;
}

