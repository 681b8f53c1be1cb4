#include "engine/Phases.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "engine/FileSystem.h"
#include "engine/StopSignal.h"
#include "foundation/Handles.h"
#include "launcher/RunLog.h"
#include "script/CleanScript.h"

namespace {

// Length of path without its trailing separators (a lone separator is kept).
size_t TrimmedLength(const wchar_t* path)
{
    size_t length = wcslen(path);
    while (length > 1 && (path[length - 1] == L'\\' || path[length - 1] == L'/'))
        --length;
    return length;
}

bool SameFolder(const wchar_t* path, size_t length, const wchar_t* folder)
{
    if (folder[0] == 0)
        return false;
    size_t folderLength = TrimmedLength(folder);
    return folderLength == length && _wcsnicmp(path, folder, length) == 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

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
            if (restLength >= 4 && _wcsnicmp(rest, L"UNC", 3) == 0 && IsSeparator(rest[3])) {
                rest += 4;
                restLength -= 4;
            } else {
                return false;
            }
        }
        int separators = 0;
        for (size_t i = 0; i < restLength; ++i)
            if (IsSeparator(rest[i]))
                ++separators;
        return separators <= 1;
    }
    wchar_t windows[MAX_PATH];
    UINT got = GetWindowsDirectoryW(windows, MAX_PATH);
    if (got > 0 && got < MAX_PATH && SameFolder(path, length, windows))
        return true;
    got = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return got > 0 && got < MAX_PATH && SameFolder(path, length, windows);
}

bool FolderPhase(zqCleanScript& script)
{
    WriteLog(1, "Delete folders(%i):\n", script.folders.count);
    int deleted = 0;
    for (int i = 0; i < script.folders.count; ++i) {
        const zqWString* item = script.folders.At(i);
        const wchar_t* entry = item != nullptr ? item->Get() : L"";
        HeapBlock block(SearchPathAlloc(nullptr, entry));
        if (!block.Valid())
            continue;
        const wchar_t* folder = static_cast<const wchar_t*>(block.Get());
        WriteLog(0, "%S...", folder);
        if (IsProtectedFolder(folder)) {
            // A drive root or the Windows folder is never removed, whatever the script says.
            WriteItemOutcome(false, ERROR_ACCESS_DENIED);
        } else {
            bool done = DeleteFolderTree(folder) != 0;
            if (WriteItemOutcome(done, GetLastError()))
                ++deleted;
        }
        if (StopRequested())
            return false;
    }
    if (StopRequested())
        return false;
    WriteLog(1, "%i folders are deleted.\n", deleted);
    return true;
}
