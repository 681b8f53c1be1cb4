#include "engine/Guard.h"

#include <wchar.h>

#include "registry/RegistryPrimitives.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of path without its trailing separators (a lone separator is kept).
size_t TrimmedLength(const wchar_t* path)
{
    size_t length = wcslen(path);
    while (length > 1 && IsSeparator(path[length - 1]))
        --length;
    return length;
}

bool SameFolder(const wchar_t* path, size_t length, const wchar_t* folder)
{
    if (folder[0] == 0)
        return false;
    return TrimmedLength(folder) == length && _wcsnicmp(path, folder, length) == 0;
}

bool IsWindowsFolder(const wchar_t* path, size_t length)
{
    wchar_t windows[MAX_PATH];
    UINT got = GetWindowsDirectoryW(windows, MAX_PATH);
    if (got > 0 && got < MAX_PATH && SameFolder(path, length, windows))
        return true;
    got = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return got > 0 && got < MAX_PATH && SameFolder(path, length, windows);
}

}  // namespace

bool IsProtectedFolder(const wchar_t* path)
{
    if (path == nullptr || path[0] == 0)
        return false;
    size_t length = TrimmedLength(path);
    // "X:" or "X:\": a drive root.
    if (length == 2 && path[1] == L':')
        return true;
    if (length == 1 && IsSeparator(path[0]))
        return true;
    // "\\server" or "\\server\share" (also "\\?\X:" and "\\?\UNC\server\share"): a root.
    if (length >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        const wchar_t* rest = path + 2;
        size_t restLength = length - 2;
        if (restLength >= 2 && (rest[0] == L'?' || rest[0] == L'.') && IsSeparator(rest[1])) {
            rest += 2;
            restLength -= 2;
            if (restLength == 2 && rest[1] == L':')
                return true;
            if (restLength < 4 || _wcsnicmp(rest, L"UNC", 3) != 0 || !IsSeparator(rest[3]))
                return false;
            rest += 4;
            restLength -= 4;
        }
        int separators = 0;
        for (size_t i = 0; i < restLength; ++i)
            if (IsSeparator(rest[i]))
                ++separators;
        return separators <= 1;
    }
    return IsWindowsFolder(path, length);
}

bool IsRefused(const Target& target, DWORD* error)
{
    bool refused = false;
    switch (target.kind) {
    case TargetKind::Folder:
        refused = IsProtectedFolder(target.path);
        break;
    case TargetKind::RegistryKey:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        // Emptying a whole hive is never what a script means.
        refused = IsRootKeyPath(target.path);
        break;
    default:
        break;
    }
    if (refused)
        *error = ERROR_ACCESS_DENIED;
    return refused;
}
