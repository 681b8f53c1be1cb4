#include "platform/Removal.h"

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "platform/Paths.h"

namespace {

bool IsGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool MayEnter(const EnterTest& test, const wchar_t* folder)
{
    return test.MayEnter == nullptr || test.MayEnter(folder, test.context);
}

// A link is removed as itself; its target is never entered. Directory links go with
// RemoveDirectoryW on Windows; Wine may want DeleteFileW for what it keeps as a Unix link.
bool RemoveLink(const wchar_t* path, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (RemoveDirectoryW(path))
            return true;
        DWORD error = GetLastError();
        if (DeleteFileW(path))
            return true;
        SetLastError(error);
        return false;
    }
    return DeleteFileW(path) != 0;
}

// Deletes a file; a read-only one too, as "del /f" does (neither now nor at the next start would
// it go otherwise). A file that stays gets its attribute back.
bool DeleteAnyFile(const wchar_t* path)
{
    if (DeleteFileW(path))
        return true;
    DWORD error = GetLastError();
    DWORD attributes = error == ERROR_ACCESS_DENIED ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
        !SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY)) {
        SetLastError(error);
        return false;
    }
    if (DeleteFileW(path))
        return true;
    error = GetLastError();
    SetFileAttributesW(path, attributes);
    SetLastError(error);
    return false;
}

// What could not be removed now goes at the next start; what is already gone is removed.
FileRemoval ScheduleUnlessGone(const wchar_t* path)
{
    DWORD error = GetLastError();
    if (IsGone(error))
        return FileRemoval::Removed;
    if (MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return FileRemoval::Scheduled;
    return FileRemoval::Failed;
}

// Whether a link leads to a folder that the tree removal must leave alone. A link whose target
// cannot be told (a dangling one, or a system without the call) is removed as itself.
bool LeadsToKept(const wchar_t* link, const EnterTest& test)
{
    zqWString path, canonical;
    if (test.MayEnter == nullptr || !FinalPath(link, &path))
        return false;
    return CanonicalPath(path.Get(), &canonical) && !MayEnter(test, canonical.Get());
}

// Removes what the folder holds; a subfolder removes or schedules itself. A folder the caller
// keeps, met as itself or through a link, stays as it is (and so does the folder that holds it).
void EmptyFolder(const wchar_t* folder, const EnterTest& test)
{
    zqWString pattern, child;
    if (!FormatInto(pattern, L"%s\\*", folder))
        return;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    if (!listing.Valid())
        return;
    do {
        if (IsDotEntry(entry.cFileName) || !FormatInto(child, L"%s\\%s", folder, entry.cFileName))
            continue;
        DWORD attributes = entry.dwFileAttributes;
        bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (directory && !MayEnter(test, child.Get()))
            continue;
        if (directory && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            DeleteFolderTree(child.Get(), test);
            continue;
        }
        if (directory && LeadsToKept(child.Get(), test))
            continue;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link that cannot go now is no place to act through at the next start either.
            RemoveLink(child.Get(), attributes);
            continue;
        }
        if (!DeleteAnyFile(child.Get()))
            ScheduleUnlessGone(child.Get());
    } while (FindNextFileW(listing.Get(), &entry));
}

}  // namespace

FileRemoval RemoveNowOrAtRestart(const wchar_t* path)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return FileRemoval::Failed;
    if (DeleteAnyFile(extended.Get()))
        return FileRemoval::Removed;
    return ScheduleUnlessGone(extended.Get());
}

FileRemoval DeleteFolderTree(const wchar_t* path, const EnterTest& test)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return FileRemoval::Failed;
    const wchar_t* folder = extended.Get();
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FileRemoval::Failed;  // a folder that is not there is not reported as removed
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && LeadsToKept(folder, test)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FileRemoval::Failed;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The folder itself is a link: the link goes, whatever it points to stays.
        if (RemoveLink(folder, attributes))
            return FileRemoval::Removed;
    } else {
        EmptyFolder(folder, test);
        if (RemoveDirectoryW(folder))
            return FileRemoval::Removed;
    }
    if (IsGone(GetLastError()))
        return FileRemoval::Failed;
    return MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? FileRemoval::Scheduled
                                                                      : FileRemoval::Failed;
}
