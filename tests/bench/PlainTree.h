// The plainest folder-tree removal, shared by the benchmark programs.
#pragma once

#include <windows.h>
#include <wchar.h>

#include <string>

#include "foundation/Handles.h"

namespace bench {

// Files and subfolders first, then the folder; clearAttributes makes read-only files
// deletable first. Returns the number of files and folders removed.
inline int PlainDeleteTree(const std::wstring& folder, bool clearAttributes = false)
{
    int removed = 0;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find.Valid()) {
        do {
            if (!wcscmp(data.cFileName, L".") || !wcscmp(data.cFileName, L".."))
                continue;
            std::wstring child = folder + L"\\" + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removed += PlainDeleteTree(child, clearAttributes);
            } else {
                if (clearAttributes)
                    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                removed += DeleteFileW(child.c_str()) ? 1 : 0;
            }
        } while (FindNextFileW(find.Get(), &data));
    }
    find.Close();
    return removed + (RemoveDirectoryW(folder.c_str()) ? 1 : 0);
}

}  // namespace bench
