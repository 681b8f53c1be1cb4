#include "guard/BackupPlace.h"

#include <wchar.h>

#include "platform/Paths.h"

namespace {

// Upper-cased as the file system compares names, every letter and not only ASCII.
bool UpperCase(zqWString* text)
{
    return text->length == 0 ||
           LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text->buffer, text->length, text->buffer, text->length) != 0;
}

// Whether inner is outer or lies below it; both canonical and upper-cased.
bool SameOrInside(const zqWString& inner, const zqWString& outer)
{
    size_t length = static_cast<size_t>(outer.length);
    return wcsncmp(inner.Get(), outer.Get(), length) == 0 &&
           (inner.Get()[length] == 0 || inner.Get()[length] == L'\\' || outer.Get()[length - 1] == L'\\');
}

bool IsLocalDrive(const zqWString& full)
{
    wchar_t root[4] = {full.Get()[0], L':', L'\\', 0};
    UINT type = full.length >= 3 && full.Get()[1] == L':' ? GetDriveTypeW(root) : DRIVE_UNKNOWN;
    return type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_RAMDISK;
}

}  // namespace

bool IsUnfitForBackup(const ProtectedPlaces& places, const zqList<zqWString>& removedFolders, const wchar_t* folder,
                      DWORD* error, const char** reason)
{
    zqWString full, canonical, removed;
    *error = ERROR_BAD_PATHNAME;
    *reason = "it is no full path of a local drive";
    if (!FullPath(folder, &full) || !IsLocalDrive(full))
        return true;
    *error = ERROR_ACCESS_DENIED;
    *reason = "a folder that the system or every product needs";
    if (!CanonicalPath(folder, &canonical) || IsProtectedFolder(places, canonical.Get()) || !UpperCase(&canonical))
        return true;
    *reason = "a folder that the run removes, or one inside it";
    for (int i = 0; i < removedFolders.count; ++i) {
        // An entry that is no full path, or a protected folder, removes nothing: the guard
        // refuses it.
        if (CanonicalPath(removedFolders.At(i)->Get(), &removed) && removed.length > 0 &&
            !IsProtectedFolder(places, removed.Get()) && (!UpperCase(&removed) || SameOrInside(canonical, removed)))
            return true;
    }
    return false;
}
