#include "engine/FileSystem.h"

#include "engine/Guard.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"

bool ExtendedPath(const wchar_t* path, zqWString* extended)
{
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 path[2] == L'\\';
    bool share = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.' && path[2] != 0;
    if (drive)
        return FormatInto(*extended, L"\\\\?\\%s", path);
    if (share)
        return FormatInto(*extended, L"\\\\?\\UNC\\%s", path + 2);
    return extended->Assign(path);
}

bool PathIsThere(const wchar_t* path)
{
    zqWString extended;
    return ExtendedPath(path, &extended) && GetFileAttributesW(extended.Get()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

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
    zqWString extended, pattern, fullPath, name;
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
        // Names without an extension get a trailing dot, so "*.*" takes them too and "*."
        // takes only them.
        if (!FormatInto(name, wcschr(entry.cFileName, L'.') != nullptr ? L"%s" : L"%s.", entry.cFileName))
            continue;
        _wcslwr(name.buffer);
        if ((wcscmp(name.Get(), loweredMask) == 0 || WildcardMatch(name.Get(), loweredMask)) &&
            !AddPath(found, _wcsdup(fullPath.Get())))
            return false;
    } while (FindNextFileW(listing.Get(), &entry));
    return true;
}

}  // namespace

int FindFilesByMask(const wchar_t* directory, const wchar_t* mask, wchar_t*** paths, int depth)
{
    *paths = nullptr;
    if (!IsDirectory(directory))
        return -1;
    HeapBlock maskCopy(_wcsdup(mask));
    if (!maskCopy.Valid()) {
        errno = ENOMEM;
        return -1;
    }
    wchar_t* loweredMask = static_cast<wchar_t*>(maskCopy.Get());
    _wcslwr(loweredMask);

    PathArray found = {nullptr, 0, 0};
    if (!CollectMatches(directory, loweredMask, &found, depth)) {
        FreePaths(&found);
        errno = ENOMEM;
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

namespace {

bool IsGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
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

// Whether a link leads to a folder that a tree removal must leave alone. A link whose target
// cannot be told (a dangling one, or a system without the call) is removed as itself.
bool LeadsToProtected(const wchar_t* link, const ProtectedPlaces* places)
{
    typedef DWORD(WINAPI * GetFinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
    GetFinalPathFn finalPath = reinterpret_cast<GetFinalPathFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (places == nullptr || finalPath == nullptr)
        return false;
    FileHandle target(CreateFileW(link, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    zqWString path, canonical;
    DWORD needed = target.Valid() ? finalPath(target.Get(), nullptr, 0, VOLUME_NAME_DOS) : 0;
    if (needed == 0 || !path.Reserve(static_cast<int>(needed)))
        return false;
    DWORD got = finalPath(target.Get(), path.buffer, needed, VOLUME_NAME_DOS);
    if (got == 0 || got >= needed)
        return false;
    path.length = static_cast<int>(got);
    return CanonicalPath(path.Get(), &canonical) && IsProtectedFolder(*places, canonical.Get());
}

// Removes what the folder holds; a subfolder removes or schedules itself. A protected folder it
// meets, as itself or through a link, stays as it is (and so does the folder that holds it).
void EmptyFolder(const wchar_t* folder, const ProtectedPlaces* places)
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
        if (directory && places != nullptr && IsProtectedFolder(*places, child.Get()))
            continue;
        if (directory && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            DeleteFolderTree(child.Get(), places);
            continue;
        }
        if (directory && LeadsToProtected(child.Get(), places))
            continue;
        bool removed = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? RemoveLink(child.Get(), attributes)
                                                                   : DeleteAnyFile(child.Get());
        if (!removed)
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

FileRemoval DeleteFolderTree(const wchar_t* path, const ProtectedPlaces* places)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return FileRemoval::Failed;
    const wchar_t* folder = extended.Get();
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FileRemoval::Failed;  // a folder that is not there is not reported as removed
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && LeadsToProtected(folder, places)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FileRemoval::Failed;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The folder itself is a link: the link goes, whatever it points to stays.
        if (RemoveLink(folder, attributes))
            return FileRemoval::Removed;
    } else {
        EmptyFolder(folder, places);
        if (RemoveDirectoryW(folder))
            return FileRemoval::Removed;
    }
    if (IsGone(GetLastError()))
        return FileRemoval::Failed;
    return MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? FileRemoval::Scheduled
                                                                      : FileRemoval::Failed;
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

DWORD RunProcessAndWait(wchar_t* commandLine, const wchar_t* runDir)
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, runDir, &startup,
                        &process))
        return kNoExitCode;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    DWORD exitCode = kNoExitCode;
    if (WaitForSingleObject(processHandle.Get(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(processHandle.Get(), &exitCode)) {
        DWORD error = GetLastError();
        exitCode = kNoExitCode;
        threadHandle.Close();
        processHandle.Close();
        SetLastError(error);
    }
    return exitCode;
}

HMODULE LoadTrustedLibrary(const wchar_t* name, bool alsoProgramFolder)
{
    DWORD where = LOAD_LIBRARY_SEARCH_SYSTEM32 | (alsoProgramFolder ? LOAD_LIBRARY_SEARCH_APPLICATION_DIR : 0);
    HMODULE module = LoadLibraryExW(name, nullptr, where);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    // A system without the search flags: the system folder by full path.
    zqWString path;
    return SystemProgramPath(name, &path) ? LoadLibraryW(path.Get()) : nullptr;
}

bool SystemProgramPath(const wchar_t* name, zqWString* path)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH && FormatInto(*path, L"%s\\%s", folder, name);
}

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

}  // namespace

namespace {

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

bool CopyTree(const wchar_t* fromPath, const wchar_t* toPath)
{
    zqWString fromExtended, toExtended;
    if (!ExtendedPath(fromPath, &fromExtended) || !ExtendedPath(toPath, &toExtended))
        return false;
    const wchar_t* from = fromExtended.Get();
    const wchar_t* to = toExtended.Get();
    FileTimes times;
    DWORD attributes = GetFileAttributesW(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || !ReadTimes(from, &times) || !CreateDirectoryW(to, nullptr))
        return false;
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
            bool copied = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? CopyTree(source.Get(), target.Get())
                                                                              : CopyFileWithTimes(source.Get(), target.Get());
            if (!copied)
                return false;
        }
        if (!FindNextFileW(listing.Get(), &entry)) {
            if (GetLastError() != ERROR_NO_MORE_FILES)
                return false;
            break;
        }
    }
    // The folder's own times last: copying into it changed them.
    return WriteTimesAndAttributes(to, times, attributes);
}

bool MakeFolders(const wchar_t* path)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return false;
    const wchar_t* folder = extended.Get();
    if (CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return false;
    zqWString parent;
    const wchar_t* cut = wcsrchr(folder, L'\\');
    if (cut == nullptr || !FormatInto(parent, L"%.*s", static_cast<int>(cut - folder), folder) || !MakeFolders(parent.Get()))
        return false;
    return CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
