#include "platform/LocalPlace.h"

#include <wchar.h>

#include "foundation/FillToFit.h"
#include "foundation/Handles.h"
#include "platform/Paths.h"

namespace {

bool IsDriveForm(const wchar_t* path)
{
    return ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':';
}

// What the system names as the device behind a drive letter: a redirector or a share is
// another machine's ("\Device\LanmanRedirector\;Q:0...\server\share", "\??\UNC\server\share").
bool DeviceIsRemote(const wchar_t* device)
{
    static const wchar_t* const remote[] = {L"\\??\\UNC\\", L"\\Device\\Mup", L"\\Device\\LanmanRedirector",
                                            L"\\Device\\WebDavRedirector", L"\\Device\\RdpDr"};
    for (const wchar_t* prefix : remote)
        if (_wcsnicmp(device, prefix, wcslen(prefix)) == 0)
            return true;
    return wcsstr(device, L"\\;") != nullptr;
}

bool DriveIsRemote(wchar_t letter)
{
    wchar_t root[] = {letter, L':', L'\\', 0};
    if (GetDriveTypeW(root) == DRIVE_REMOTE)
        return true;
    root[2] = 0;
    // The call says nothing of the room it needs: four times as much, then.
    zqWString device;
    Result asked = FillToFit(
        &device,
        [&](wchar_t* buffer, DWORD room) {
            DWORD got = QueryDosDeviceW(root, buffer, room);
            if (got != 0)
                return Filled{got < room ? got : room * 4, ERROR_SUCCESS};
            DWORD error = GetLastError();
            return Filled{error == ERROR_INSUFFICIENT_BUFFER ? room * 4 : 0, error == ERROR_INSUFFICIENT_BUFFER ? 0 : error};
        },
        512);
    if (asked.ok)
        return DeviceIsRemote(device.Get());
    // No such device: nothing there to reach. What cannot be read in full is taken as remote.
    return asked.error == ERROR_NOT_ENOUGH_MEMORY || asked.error == ERROR_INSUFFICIENT_BUFFER;
}

// "\\?\C:\x" is "C:\x"; "\\?\UNC\..." lies on another machine; anything else (a volume without
// a letter) cannot be told.
Reach PlainFinal(const zqWString& final, zqWString* plain)
{
    const wchar_t* text = final.Get();
    if (_wcsnicmp(text, L"\\\\?\\UNC\\", 8) == 0)
        return Reach::Network;
    if (wcsncmp(text, L"\\\\?\\", 4) == 0)
        text += 4;
    if (!IsDriveForm(text))
        return Reach::Unknown;
    if (!plain->Assign(text))
        return Reach::Unknown;
    // "C:\" keeps its separator; no other part ends with one.
    while (plain->length > 3 && plain->buffer[plain->length - 1] == L'\\')
        plain->buffer[--plain->length] = 0;
    return Reach::Local;
}

FileHandle OpenFollowing(const wchar_t* path)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return FileHandle();
    return FileHandle(CreateFileW(extended.Get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool JoinPath(const wchar_t* folder, const wchar_t* rest, zqWString* path)
{
    if (rest[0] == 0)
        return path->Assign(folder);
    size_t length = wcslen(folder);
    return FormatInto(*path, length > 0 && folder[length - 1] == L'\\' ? L"%s%s" : L"%s\\%s", folder, rest);
}

// Whether a link or mount point stands among the parts of full after its first from characters.
bool LinkBelow(const wchar_t* full, size_t from)
{
    zqWString prefix, extended;
    if (!prefix.Assign(full))
        return true;
    for (size_t i = from + 1; i <= static_cast<size_t>(prefix.length); ++i) {
        if (i < static_cast<size_t>(prefix.length) && prefix.buffer[i] != L'\\')
            continue;
        wchar_t kept = prefix.buffer[i];
        prefix.buffer[i] = 0;
        DWORD attributes = ExtendedPath(prefix.Get(), &extended) ? GetFileAttributesW(extended.Get())
                                                                 : INVALID_FILE_ATTRIBUTES;
        prefix.buffer[i] = kept;
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;  // the rest does not exist yet
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return true;
    }
    return false;
}

// The folder resolved: its deepest part that exists and whose final path can be told, opened
// and followed, the rest appended as written. A part below it that exists but is too long for
// the system to tell (Wine tells no final path beyond 260 characters) must be no link. Without
// the final-path call only a path without links can be told.
Reach ResolveFolder(const wchar_t* folder, zqWString* reached, zqWString* objectName)
{
    objectName->Assign(L"");
    if (!CanTellFinalPaths()) {
        if (LinkAlongPath(folder))
            return Reach::Unknown;
        return CanonicalPath(folder, reached) ? Reach::Local : Reach::Unknown;
    }
    zqWString probe, rest, joined, final;
    if (!probe.Assign(folder))
        return Reach::Unknown;
    bool untold = false;
    for (;;) {
        FileHandle object = OpenFollowing(probe.Get());
        if (object.Valid() && FinalPathOf(object.Get(), &final)) {
            if (untold && LinkBelow(folder, static_cast<size_t>(probe.length)))
                return Reach::Unknown;
            if (rest.length == 0)
                ObjectNameOf(object.Get(), objectName);
            Reach reach = PlainFinal(final, &joined);
            if (reach != Reach::Local)
                return reach;
            return JoinPath(joined.Get(), rest.Get(), reached) ? Reach::Local : Reach::Unknown;
        }
        untold = untold || object.Valid();
        wchar_t* cut = wcsrchr(probe.buffer, L'\\');
        if (IsRootPath(probe.Get()) || cut == nullptr)
            return Reach::Unknown;  // not even the drive is there
        zqWString moved;
        if (!JoinPath(cut + 1, rest.Get(), &moved) || !rest.Assign(moved.Get()))
            return Reach::Unknown;
        // "C:\x" goes up to "C:\", keeping the root's separator.
        cut[cut == probe.buffer + 2 ? 1 : 0] = 0;
        probe.length = static_cast<int>(wcslen(probe.buffer));
    }
}

Reach CachedFolder(const wchar_t* folder, PlaceCache* cache, zqWString* reached, zqWString* objectName)
{
    if (cache == nullptr)
        return ResolveFolder(folder, reached, objectName);
    for (int i = 0; i < PlaceCache::kSlots; ++i) {
        if (cache->spelled[i].length > 0 && _wcsicmp(cache->spelled[i].Get(), folder) == 0)
            return reached->Assign(cache->reached[i].Get()) && objectName->Assign(cache->objectName[i].Get())
                       ? cache->reach[i]
                       : Reach::Unknown;
    }
    Reach reach = ResolveFolder(folder, reached, objectName);
    int slot = cache->next;
    cache->next = (slot + 1) % PlaceCache::kSlots;
    if (cache->spelled[slot].Assign(folder) && cache->reached[slot].Assign(reached->Get()) &&
        cache->objectName[slot].Assign(objectName->Get()))
        cache->reach[slot] = reach;
    else
        cache->spelled[slot].Assign(L"");
    return reach;
}

// Whether an open object is the very entry name of the folder the system names folderName: a
// link (Wine shows links to files as plain files) is named where it leads. One call, where the
// final path in drive form would take several.
bool IsEntryOf(HANDLE object, const zqWString& folderName, const wchar_t* name)
{
    zqWString objectName, expected;
    return folderName.length > 0 && ObjectNameOf(object, &objectName) &&
           FormatInto(expected, L"%s\\%s", folderName.Get(), name) && _wcsicmp(objectName.Get(), expected.Get()) == 0;
}

}  // namespace

bool IsNetworkPath(const wchar_t* full, PlaceCache* cache)
{
    if ((full[0] == L'\\' || full[0] == L'/') && (full[1] == L'\\' || full[1] == L'/'))
        return true;  // a share, in whatever spelling ("\\?\UNC\", "\\localhost\C$")
    if (!IsDriveForm(full))
        return false;
    int letter = (full[0] | 0x20) - L'a';
    unsigned bit = 1u << letter;
    if (cache != nullptr && (cache->askedDrives & bit))
        return (cache->networkDrives & bit) != 0;
    bool remote = DriveIsRemote(static_cast<wchar_t>(L'A' + letter));
    if (cache != nullptr) {
        cache->askedDrives |= bit;
        cache->networkDrives |= remote ? bit : 0;
    }
    return remote;
}

void FindPlace(const wchar_t* full, PlaceCache* cache, Place* place)
{
    place->reach = Reach::Unknown;
    place->attributes = INVALID_FILE_ATTRIBUTES;
    if (IsNetworkPath(full, cache)) {
        place->reach = Reach::Network;
        return;
    }
    const wchar_t* cut = wcsrchr(full, L'\\');
    if (cut == nullptr)
        return;
    zqWString folder, folderName;
    Reach folderReach = Reach::Local;
    if (IsRootPath(full)) {
        if (!place->at.Assign(full))
            return;
    } else {
        // "C:\x" lies in "C:\"; "C:\x\y" in "C:\x".
        int folderLength = static_cast<int>(cut - full) + (cut == full + 2 ? 1 : 0);
        if (!FormatInto(folder, L"%.*s", folderLength, full))
            return;
        folderReach = CachedFolder(folder.Get(), cache, &place->at, &folderName);
        if (folderReach != Reach::Local) {
            place->reach = folderReach;
            return;
        }
        zqWString at;
        if (!JoinPath(place->at.Get(), cut + 1, &at) || !place->at.Assign(at.Get()))
            return;
    }
    zqWString extended;
    if (ExtendedPath(place->at.Get(), &extended))
        place->attributes = GetFileAttributesW(extended.Get());
    if (place->attributes == INVALID_FILE_ATTRIBUTES) {
        place->reach = place->leads.Assign(place->at.Get()) ? Reach::Local : Reach::Unknown;
        return;
    }
    bool link = (place->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!CanTellFinalPaths()) {
        // Nothing along the way is a link (the folder was told); the object itself may be one.
        place->reach = link ? Reach::Unknown : place->leads.Assign(place->at.Get()) ? Reach::Local : Reach::Unknown;
        return;
    }
    // What is the very entry it seems leads nowhere else; anything else is followed.
    FileHandle object = OpenFollowing(place->at.Get());
    zqWString final;
    Reach reach = Reach::Unknown;
    if (object.Valid() && !link && IsEntryOf(object.Get(), folderName, cut + 1))
        reach = place->leads.Assign(place->at.Get()) ? Reach::Local : Reach::Unknown;
    else if (object.Valid() && FinalPathOf(object.Get(), &final))
        reach = PlainFinal(final, &place->leads);
    // A link that leads nowhere has only itself to act on; what is no link and cannot be told
    // (a path too long for the system to say) is where it stands.
    if (reach == Reach::Unknown)
        reach = place->leads.Assign(place->at.Get()) ? Reach::Local : Reach::Unknown;
    place->reach = reach;
}

bool LinkAlongPath(const wchar_t* full)
{
    return LinkBelow(full, IsDriveForm(full) ? 2 : 0);
}
