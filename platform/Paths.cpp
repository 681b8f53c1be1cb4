#include "platform/Paths.h"

#include <string.h>
#include <wchar.h>

#include "foundation/FillToFit.h"
#include "foundation/Handles.h"
#include "foundation/HeapArray.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Replaces the segment at [at, at + length) of text by replacement.
bool Respell(zqWString* text, size_t at, size_t length, const wchar_t* replacement)
{
    zqWString respelled;
    if (!FormatInto(respelled, L"%.*s%s%s", static_cast<int>(at), text->Get(), replacement, text->Get() + at + length))
        return false;
    return text->Assign(respelled.Get());
}

}  // namespace

bool ExtendedPath(const wchar_t* path, zqWString* extended)
{
    bool drive = IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
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

bool PnfPath(const wchar_t* inf, zqWString* pnf)
{
    const wchar_t* dot = wcsrchr(inf, L'.');
    return dot != nullptr && FormatInto(*pnf, L"%.*spnf", static_cast<int>(dot - inf + 1), inf);
}

bool IsRootPath(const wchar_t* path)
{
    size_t length = wcslen(path);
    while (length > 1 && IsSeparator(path[length - 1]))
        --length;
    if (length == 2 && path[1] == L':')
        return true;
    if (length < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
        return length == 1 && IsSeparator(path[0]);
    int separators = 0;
    for (size_t i = 2; i < length; ++i)
        separators += IsSeparator(path[i]) ? 1 : 0;
    return separators <= 1;
}

bool FullPath(const wchar_t* path, zqWString* canonical)
{
    zqWString plain;
    if (path == nullptr || !plain.Assign(path) || plain.length < 2)
        return false;
    wchar_t* p = plain.buffer;
    for (wchar_t* c = p; *c != 0; ++c)
        if (*c == L'/')
            *c = L'\\';
    // "\\?\C:\x" and "\\.\C:\x" are "C:\x"; "\\?\UNC\server\share" is "\\server\share".
    if (p[0] == L'\\' && p[1] == L'\\' && (p[2] == L'?' || p[2] == L'.') && p[3] == L'\\') {
        if (_wcsnicmp(p + 4, L"UNC\\", 4) == 0)
            Respell(&plain, 0, 8, L"\\\\");
        else
            Respell(&plain, 0, 4, L"");
        p = plain.buffer;
    }
    bool drive = IsDriveLetter(p[0]) && p[1] == L':' && p[2] == L'\\';
    bool share = p[0] == L'\\' && p[1] == L'\\' && p[2] != 0 && p[2] != L'\\' && p[2] != L'?' && p[2] != L'.';
    if (!drive && !share)
        return false;
    if (!FillToFit(canonical, [&](wchar_t* buffer, DWORD room) {
            return LengthOrRoom(GetFullPathNameW(plain.Get(), room, buffer, nullptr));
        }).ok || canonical->length == 0)
        return false;
    // Trailing dots and blanks of every part name nothing of their own: "C:\Windows." is the
    // Windows folder.
    int out = 0, partStart = 0;
    for (int i = 0; i <= canonical->length; ++i) {
        wchar_t c = canonical->buffer[i];
        if (c == L'\\' || c == 0) {
            while (out > partStart + 1 && (canonical->buffer[out - 1] == L'.' || canonical->buffer[out - 1] == L' '))
                --out;
            partStart = out + 1;
        }
        canonical->buffer[out++] = c;
    }
    canonical->length = out - 1;
    while (canonical->length > 3 && canonical->buffer[canonical->length - 1] == L'\\')
        canonical->buffer[--canonical->length] = 0;
    return true;
}

bool CanonicalPath(const wchar_t* path, zqWString* canonical)
{
    if (!FullPath(path, canonical))
        return false;
    // Short names made long, for what exists; what exists but cannot be told by its long name
    // is undecidable. A generated short name always holds a "~"; a path without one is read
    // as it stands (the lookup of every part would cost more than the removal).
    if (wcschr(canonical->Get(), L'~') == nullptr)
        return true;
    zqWString longPath;
    Result made = FillToFit(&longPath, [&](wchar_t* buffer, DWORD room) {
        return LengthOrRoom(GetLongPathNameW(canonical->Get(), buffer, room));
    });
    if (made.ok && longPath.length > 0)
        return canonical->Assign(longPath.Get());
    if (made.error == ERROR_NOT_ENOUGH_MEMORY || made.error == ERROR_INSUFFICIENT_BUFFER)
        return false;
    // Not there: the path stands as it is written. What is there but cannot be told is undecidable.
    return GetFileAttributesW(canonical->Get()) == INVALID_FILE_ATTRIBUTES;
}

namespace {

typedef DWORD(WINAPI* GetFinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);

// Looked up once: Windows XP has no such call.
GetFinalPathFn finalPathCall = nullptr;
bool finalPathLookedUp = false;

GetFinalPathFn FinalPathCall()
{
    if (!finalPathLookedUp) {
        finalPathCall = reinterpret_cast<GetFinalPathFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
        finalPathLookedUp = true;
    }
    return finalPathCall;
}

}  // namespace

bool CanTellFinalPaths() { return FinalPathCall() != nullptr; }

bool FinalPathOf(HANDLE object, zqWString* path)
{
    GetFinalPathFn finalPath = FinalPathCall();
    return finalPath != nullptr &&
           FillToFit(path, [&](wchar_t* buffer, DWORD room) {
               return LengthOrRoom(finalPath(object, buffer, room, VOLUME_NAME_DOS));
           }).ok &&
           path->length > 0;
}

bool FinalPath(const wchar_t* link, zqWString* path)
{
    if (FinalPathCall() == nullptr)
        return false;
    FileHandle target(CreateFileW(link, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return target.Valid() && FinalPathOf(target.Get(), path);
}

bool ObjectNameOf(HANDLE object, zqWString* name)
{
    typedef LONG(WINAPI * NtQueryObjectFn)(HANDLE, int, void*, ULONG, ULONG*);
    struct NameInformation {
        USHORT length;
        USHORT maximumLength;
        wchar_t* buffer;
    };
    NtQueryObjectFn queryObject = reinterpret_cast<NtQueryObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    const int kObjectNameInformation = 1;
    // Most names fit the first block; a longer one is asked again with the size the system gives.
    HeapArray<NameInformation> block(1024 / sizeof(NameInformation));
    ULONG needed = 0;
    LONG status = -1;
    for (int round = 0; round < 2 && block.Valid() && queryObject != nullptr; ++round) {
        status = queryObject(object, kObjectNameInformation, block.Get(), static_cast<ULONG>(block.count * sizeof(NameInformation)),
                             &needed);
        if (status == 0 || needed <= block.count * sizeof(NameInformation) ||
            !block.Resize(needed / sizeof(NameInformation) + 1))
            break;
    }
    if (status != 0)
        return false;
    const NameInformation* information = block.Get();
    if (!name->Reserve(information->length / sizeof(wchar_t)))
        return false;
    memcpy(name->buffer, information->buffer, information->length);
    name->length = information->length / sizeof(wchar_t);
    name->buffer[name->length] = 0;
    return true;
}
