#include "platform/Copy.h"

#include "foundation/Handles.h"
#include "foundation/HeapArray.h"
#include "foundation/zqString.h"
#include "platform/Paths.h"

namespace {

struct FileTimes {
    FILETIME created, accessed, written;
};

Result ReadTimes(const wchar_t* path, FileTimes* times)
{
    FileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid())
        return LastFailure();
    return Checked(GetFileTime(file.Get(), &times->created, &times->accessed, &times->written));
}

// The times first: a read-only attribute does not stand in their way, but set it last anyway.
Result WriteTimesAndAttributes(const wchar_t* path, const FileTimes& times, DWORD attributes)
{
    FileHandle file(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid())
        return LastFailure();
    Result timed = Checked(SetFileTime(file.Get(), &times.created, &times.accessed, &times.written));
    file.Close();
    return timed.ok ? Checked(SetFileAttributesW(path, attributes)) : timed;
}

// The attributes a new file can be created with.
const DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// One open of each side: attributes and times come from the open source, the target is created
// with the attributes and gets the times before it is closed (a backup copies thousands of files).
Result CopyOpenFile(HANDLE source, const wchar_t* to, bool* created)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(source, &info))
        return LastFailure();
    DWORD attributes = info.dwFileAttributes & kCopiedAttributes;
    FileHandle target(CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target.Valid())
        return LastFailure();
    *created = true;
    ULONGLONG left = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const DWORD chunk = left < (1u << 20) ? static_cast<DWORD>(left) + 1 : (1u << 20);
    HeapArray<BYTE> buffer(chunk);
    if (!buffer.Valid())
        return NoMemory();
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(source, buffer.Get(), chunk, &got, nullptr))
            return LastFailure();
        if (got == 0)
            break;
        if (!WriteFile(target.Get(), buffer.Get(), got, &written, nullptr))
            return LastFailure();
        if (written != got)
            return FailedBy(ERROR_WRITE_FAULT);
    }
    return Checked(SetFileTime(target.Get(), &info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime));
}

}  // namespace

Result CopyFileWithTimes(const wchar_t* fromPath, const wchar_t* toPath)
{
    zqWString fromExtended, toExtended;
    if (!ExtendedPath(fromPath, &fromExtended) || !ExtendedPath(toPath, &toExtended))
        return NoMemory();
    // A file in use is read alongside its writer where the system allows it.
    FileHandle source(CreateFileW(fromExtended.Get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source.Valid())
        return LastFailure();
    bool created = false;
    Result copied = CopyOpenFile(source.Get(), toExtended.Get(), &created);
    if (copied.ok)
        return copied;
    // No half copy is left to pass for the file (one that was there before stays).
    if (created) {
        SetFileAttributesW(toExtended.Get(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(toExtended.Get());
    }
    return FailedBy(copied.error != 0 ? copied.error : ERROR_CANNOT_COPY);
}

Result CopyTree(const wchar_t* fromPath, const wchar_t* toPath, bool onlyMissing)
{
    zqWString fromExtended, toExtended;
    if (!ExtendedPath(fromPath, &fromExtended) || !ExtendedPath(toPath, &toExtended))
        return NoMemory();
    const wchar_t* from = fromExtended.Get();
    const wchar_t* to = toExtended.Get();
    FileTimes times;
    DWORD attributes = GetFileAttributesW(from);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastFailure();
    Result result = ReadTimes(from, &times);
    if (!result.ok)
        return result;
    Result made = Checked(CreateDirectoryW(to, nullptr));
    if (!made.ok && (!onlyMissing || made.error != ERROR_ALREADY_EXISTS))
        return made;
    // What stands there is added to only when it is a folder itself, never through a link.
    DWORD standing = made.ok ? FILE_ATTRIBUTE_DIRECTORY : GetFileAttributesW(to);
    if ((standing & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (standing & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return FailedBy(ERROR_ALREADY_EXISTS);
    zqWString pattern, source, target;
    if (!FormatInto(pattern, L"%s\\*", from))
        return NoMemory();
    // A listing cut short would leave part of the tree behind unsaved: that is a failure.
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    if (!listing.Valid())
        return LastFailure();
    for (;;) {
        if (!IsDotEntry(entry.cFileName) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (!FormatInto(source, L"%s\\%s", from, entry.cFileName) ||
                !FormatInto(target, L"%s\\%s", to, entry.cFileName))
                return NoMemory();
            bool tree = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (tree)
                result = CopyTree(source.Get(), target.Get(), onlyMissing);
            else if (!onlyMissing || GetFileAttributesW(target.Get()) == INVALID_FILE_ATTRIBUTES)
                result = CopyFileWithTimes(source.Get(), target.Get());
            if (!result.ok)
                return result;
        }
        if (!FindNextFileW(listing.Get(), &entry)) {
            Result listed = LastFailure();
            if (listed.error != ERROR_NO_MORE_FILES)
                return listed;
            break;
        }
    }
    // The folder's own times last: copying into it changed them. A folder that stood there
    // already keeps its own.
    return made.ok ? WriteTimesAndAttributes(to, times, attributes) : Succeeded();
}

Result MakeFolders(const wchar_t* path, SECURITY_ATTRIBUTES* security)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return NoMemory();
    const wchar_t* folder = extended.Get();
    Result made = Checked(CreateDirectoryW(folder, security));
    if (made.ok || made.error == ERROR_ALREADY_EXISTS)
        return Succeeded();
    if (made.error != ERROR_PATH_NOT_FOUND)
        return made;
    zqWString parent;
    const wchar_t* cut = wcsrchr(folder, L'\\');
    if (cut == nullptr || !FormatInto(parent, L"%.*s", static_cast<int>(cut - folder), folder))
        return made;
    Result above = MakeFolders(parent.Get(), security);
    if (!above.ok)
        return above;
    made = Checked(CreateDirectoryW(folder, security));
    return made.ok || made.error == ERROR_ALREADY_EXISTS ? Succeeded() : made;
}
