#include "platform/Copy.h"

#include <stdlib.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "platform/Paths.h"

namespace {

struct FileTimes {
    FILETIME created, accessed, written;
};

bool ReadTimes(const wchar_t* path, FileTimes* times)
{
    FileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.Valid() && GetFileTime(file.Get(), &times->created, &times->accessed, &times->written);
}

// The times first: a read-only attribute does not stand in their way, but set it last anyway.
bool WriteTimesAndAttributes(const wchar_t* path, const FileTimes& times, DWORD attributes)
{
    FileHandle file(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    bool done = file.Valid() && SetFileTime(file.Get(), &times.created, &times.accessed, &times.written);
    file.Close();
    return done && SetFileAttributesW(path, attributes);
}

// The attributes a new file can be created with.
const DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// One open of each side: attributes and times come from the open source, the target is created
// with the attributes and gets the times before it is closed (a backup copies thousands of files).
bool CopyOpenFile(HANDLE source, const wchar_t* to, bool* created)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(source, &info))
        return false;
    DWORD attributes = info.dwFileAttributes & kCopiedAttributes;
    FileHandle target(CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target.Valid())
        return false;
    *created = true;
    ULONGLONG left = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const DWORD chunk = left < (1u << 20) ? static_cast<DWORD>(left) + 1 : (1u << 20);
    HeapBlock buffer(malloc(chunk));
    if (!buffer.Valid()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(source, buffer.Get(), chunk, &got, nullptr))
            return false;
        if (got == 0)
            break;
        if (!WriteFile(target.Get(), buffer.Get(), got, &written, nullptr))
            return false;
        if (written != got) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
    }
    return SetFileTime(target.Get(), &info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime);
}

}  // namespace

bool CopyFileWithTimes(const wchar_t* fromPath, const wchar_t* toPath)
{
    zqWString fromExtended, toExtended;
    if (!ExtendedPath(fromPath, &fromExtended) || !ExtendedPath(toPath, &toExtended))
        return false;
    // A file in use is read alongside its writer where the system allows it.
    FileHandle source(CreateFileW(fromExtended.Get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source.Valid())
        return false;
    bool created = false;
    if (CopyOpenFile(source.Get(), toExtended.Get(), &created))
        return true;
    // No half copy is left to pass for the file (one that was there before stays).
    DWORD error = GetLastError();
    if (created) {
        SetFileAttributesW(toExtended.Get(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(toExtended.Get());
    }
    SetLastError(error != 0 ? error : ERROR_CANNOT_COPY);
    return false;
}

bool CopyTree(const wchar_t* fromPath, const wchar_t* toPath, bool onlyMissing)
{
    zqWString fromExtended, toExtended;
    if (!ExtendedPath(fromPath, &fromExtended) || !ExtendedPath(toPath, &toExtended))
        return false;
    const wchar_t* from = fromExtended.Get();
    const wchar_t* to = toExtended.Get();
    FileTimes times;
    DWORD attributes = GetFileAttributesW(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || !ReadTimes(from, &times))
        return false;
    bool made = CreateDirectoryW(to, nullptr) != 0;
    if (!made && (!onlyMissing || GetLastError() != ERROR_ALREADY_EXISTS))
        return false;
    // What stands there is added to only when it is a folder itself, never through a link.
    DWORD standing = made ? FILE_ATTRIBUTE_DIRECTORY : GetFileAttributesW(to);
    if ((standing & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (standing & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    zqWString pattern, source, target;
    if (!FormatInto(pattern, L"%s\\*", from))
        return false;
    // A listing cut short would leave part of the tree behind unsaved: that is a failure.
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    if (!listing.Valid())
        return false;
    for (;;) {
        if (!IsDotEntry(entry.cFileName) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (!FormatInto(source, L"%s\\%s", from, entry.cFileName) ||
                !FormatInto(target, L"%s\\%s", to, entry.cFileName))
                return false;
            bool tree = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            bool copied = tree ? CopyTree(source.Get(), target.Get(), onlyMissing)
                               : (onlyMissing && GetFileAttributesW(target.Get()) != INVALID_FILE_ATTRIBUTES) ||
                                     CopyFileWithTimes(source.Get(), target.Get());
            if (!copied)
                return false;
        }
        if (!FindNextFileW(listing.Get(), &entry)) {
            if (GetLastError() != ERROR_NO_MORE_FILES)
                return false;
            break;
        }
    }
    // The folder's own times last: copying into it changed them. A folder that stood there
    // already keeps its own.
    return !made || WriteTimesAndAttributes(to, times, attributes);
}

bool MakeFolders(const wchar_t* path, SECURITY_ATTRIBUTES* security)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return false;
    const wchar_t* folder = extended.Get();
    if (CreateDirectoryW(folder, security) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return false;
    zqWString parent;
    const wchar_t* cut = wcsrchr(folder, L'\\');
    if (cut == nullptr || !FormatInto(parent, L"%.*s", static_cast<int>(cut - folder), folder) || !MakeFolders(parent.Get(), security))
        return false;
    return CreateDirectoryW(folder, security) || GetLastError() == ERROR_ALREADY_EXISTS;
}
