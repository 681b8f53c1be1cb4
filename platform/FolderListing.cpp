#include "platform/FolderListing.h"

#include <new>
#include <wchar.h>

#include "foundation/Handles.h"
#include "platform/Paths.h"
#include "platform/Search.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A full path that the search and the listing read alike: a drive or share path without
// another spelling in it (no '/', '.' or '..' part, no part ending in a dot or blank, no
// doubled separator) and no ';', which would make it a list of paths for the search.
bool IsPlainFolder(const wchar_t* folder)
{
    const wchar_t* part;
    if (((folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z') && folder[1] == L':' && folder[2] == L'\\')
        part = folder + 3;
    else if (folder[0] == L'\\' && folder[1] == L'\\' && folder[2] != L'?' && folder[2] != L'.' && folder[2] != L'\\')
        part = folder + 2;
    else
        return false;
    if (wcspbrk(part, L"/:;*?\"<>|") != nullptr)
        return false;
    for (const wchar_t* c = part; *c != 0;) {
        size_t length = wcscspn(c, L"\\");
        if (length == 0 && c[0] != 0)
            return false;  // a doubled separator
        wchar_t last = length > 0 ? c[length - 1] : 0;
        if (length > 0 && (c[0] == L' ' || last == L' ' || last == L'.'))
            return false;  // ".", "..", "x.", " x", "x "
        for (size_t i = 0; i < length; ++i)
            if (c[i] < 0x20)
                return false;
        c += length;
        if (*c == L'\\')
            ++c;
    }
    return true;
}

// A name the search can find under no other spelling than an entry's own name or short name:
// printable ASCII without path parts, streams, wildcards, leading or trailing blanks or a
// trailing dot, and not beginning like a device name (CON, PRN, AUX, NUL, COMn, LPTn).
bool IsPlainName(const wchar_t* name)
{
    size_t length = wcslen(name);
    if (length == 0 || name[0] == L' ' || name[length - 1] == L' ' || name[length - 1] == L'.')
        return false;
    for (size_t i = 0; i < length; ++i)
        if (name[i] < 0x20 || name[i] > 0x7e || wcschr(L"\\/:*?\"<>|", name[i]) != nullptr)
            return false;
    static const wchar_t* const kDevices[] = {L"con", L"prn", L"aux", L"nul", L"com", L"lpt"};
    for (const wchar_t* device : kDevices)
        if (_wcsnicmp(name, device, 3) == 0)
            return false;
    return true;
}

// Letters beyond ASCII that one case rule or another folds to an ASCII letter (dotted and
// dotless i, long s, Kelvin sign): a name holding one may equal a plain name.
bool FoldsToAscii(const wchar_t* name)
{
    return wcspbrk(name, L"\u0130\u0131\u017f\u212a") != nullptr;
}

// Large fetches are asked for until the system refuses the flag (before Windows 7).
bool largeFetchRefused = false;

HANDLE FindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* entry)
{
    // The standard level: a name may be searched for by its short name.
    HANDLE find = FindFirstFileExW(pattern, FindExInfoStandard, entry, FindExSearchNameMatch, nullptr,
                                   largeFetchRefused ? 0 : FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE && !largeFetchRefused && GetLastError() == ERROR_INVALID_PARAMETER) {
        largeFetchRefused = true;
        return FindFirst(pattern, entry);
    }
    return find;
}

bool AddEntry(FolderListing* listing, const WIN32_FIND_DATAW& found)
{
    ListedEntry* entry = new (std::nothrow) ListedEntry;
    if (entry == nullptr || !entry->name.Assign(found.cFileName) ||
        (found.cAlternateFileName[0] != 0 && !entry->shortName.Assign(found.cAlternateFileName))) {
        delete entry;
        return false;
    }
    entry->attributes = found.dwFileAttributes;
    if (!listing->entries.AppendOwned(entry))
        return false;
    listing->foldsToAscii = listing->foldsToAscii || FoldsToAscii(entry->name.Get());
    return TextIndexAdd(listing->index, entry->name.Get()) &&
           (entry->shortName.length == 0 || TextIndexAdd(listing->index, entry->shortName.Get()));
}

// Complete only when the listing ran to its end, or the folder is not there at all.
void List(FolderListing* listing)
{
    const wchar_t* folder = listing->folder.Get();
    size_t length = wcslen(folder);
    zqWString extended, pattern;
    if (!IsPlainFolder(folder) || !ExtendedPath(folder, &extended) ||
        !FormatInto(pattern, IsSeparator(folder[length - 1]) ? L"%s*" : L"%s\\*", extended.Get()))
        return;
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirst(pattern.Get(), &found));
    if (!find.Valid()) {
        DWORD error = GetLastError();
        listing->complete = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return;
    }
    do {
        if (!IsDotEntry(found.cFileName) && !AddEntry(listing, found))
            return;
    } while (FindNextFileW(find.Get(), &found));
    listing->complete = GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

FolderListing* ListingOf(FolderListings& listings, const wchar_t* folder)
{
    for (int i = 0; i < listings.folders.count; ++i) {
        FolderListing* listing = listings.folders.At(i);
        if (wcscmp(listing->folder.Get(), folder) == 0)
            return listing;
    }
    FolderListing* listing = new (std::nothrow) FolderListing;
    if (listing == nullptr || !listing->folder.Assign(folder) || !listings.folders.AppendOwned(listing)) {
        delete listing;
        return nullptr;
    }
    if (folder[0] != 0)
        List(listing);
    return listing;
}

bool MayHoldName(const FolderListing& listing, const wchar_t* name)
{
    return !listing.complete || listing.foldsToAscii || !IsPlainName(name) || TextIndexContains(listing.index, name);
}

bool AppendMaskMatches(const FolderListing& listing, const wchar_t* mask, StringList& paths)
{
    zqWString lowered, path;
    if (!listing.complete || !lowered.Assign(mask))
        return false;
    _wcslwr(lowered.buffer);
    const wchar_t* folder = listing.folder.Get();
    const wchar_t* separator = IsSeparator(folder[wcslen(folder) - 1]) ? L"" : L"\\";
    for (int i = 0; i < listing.entries.count; ++i) {
        const ListedEntry* entry = listing.entries.At(i);
        if ((entry->attributes & FILE_ATTRIBUTE_DIRECTORY) || !MaskTakesName(entry->name.Get(), lowered.Get()) ||
            !FormatInto(path, L"%s%s%s", folder, separator, entry->name.Get()))
            continue;
        AppendEntry(paths, path.Get());
    }
    return true;
}
