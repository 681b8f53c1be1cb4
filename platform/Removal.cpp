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
Result RemoveLink(const wchar_t* path, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Checked(DeleteFileW(path));
    Result removed = Checked(RemoveDirectoryW(path));
    return removed.ok || DeleteFileW(path) ? Succeeded() : removed;
}

// Deletes a file; a read-only one too, as "del /f" does (neither now nor at the next start would
// it go otherwise). A file that stays gets its attribute back.
Result DeleteAnyFile(const wchar_t* path)
{
    Result deleted = Checked(DeleteFileW(path));
    if (deleted.ok || deleted.error != ERROR_ACCESS_DENIED)
        return deleted;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
        !SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY))
        return deleted;
    deleted = Checked(DeleteFileW(path));
    if (!deleted.ok)
        SetFileAttributesW(path, attributes);
    return deleted;
}

// What could not be removed now (for the reason given) goes at the next start; what is already
// gone is removed.
Result ScheduleUnlessGone(const wchar_t* path, const Result& failed, bool* atRestart)
{
    if (IsGone(failed.error))
        return Succeeded();
    Result scheduled = Checked(MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    if (scheduled.ok && atRestart != nullptr)
        *atRestart = true;
    return scheduled;
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
        Result deleted = DeleteAnyFile(child.Get());
        if (!deleted.ok)
            ScheduleUnlessGone(child.Get(), deleted, nullptr);
    } while (FindNextFileW(listing.Get(), &entry));
}

}  // namespace

Result RemoveNowOrAtRestart(const wchar_t* path, bool* atRestart)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return NoMemory();
    Result deleted = DeleteAnyFile(extended.Get());
    return deleted.ok ? deleted : ScheduleUnlessGone(extended.Get(), deleted, atRestart);
}

Result DeleteFolderTree(const wchar_t* path, const EnterTest& test, bool* atRestart)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return NoMemory();
    const wchar_t* folder = extended.Get();
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastFailure();  // a folder that is not there is not reported as removed
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && LeadsToKept(folder, test))
        return FailedBy(ERROR_ACCESS_DENIED);
    Result removed;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The folder itself is a link: the link goes, whatever it points to stays.
        removed = RemoveLink(folder, attributes);
    } else {
        EmptyFolder(folder, test);
        removed = Checked(RemoveDirectoryW(folder));
    }
    if (removed.ok || IsGone(removed.error))
        return removed;
    Result scheduled = Checked(MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    if (scheduled.ok && atRestart != nullptr)
        *atRestart = true;
    return scheduled;
}
