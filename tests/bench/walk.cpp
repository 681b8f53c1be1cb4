// The plainest program that walks what a snapshot records: the yardstick for -snapshot and
// -draft. It takes the place list and the folders and keys never recorded from the program
// (the same places), and walks them with nothing else: FindFirstFileExW with the basic
// information level and large fetches, RegEnumKeyExW and RegEnumValueW with each value's data.
// No sorting, no hashing, no file: one line of counts on stdout at the end.
//
//   bench_walk          (the current folder is left out, as a launch's working folder is)
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "authoring/Places.h"

namespace {

unsigned long folders, files, keys, values;

void WalkFolder(const Places& places, const WalkedPlace& place)
{
    bool tree = place.use == PlaceUse::ProductTree || place.use == PlaceUse::DriveRoot ||
                place.use == PlaceUse::AssemblyCache;
    std::vector<std::wstring> pending = {place.root.Get()};
    while (!pending.empty()) {
        std::wstring folder = pending.back();
        pending.pop_back();
        bool rootFiles = place.use != PlaceUse::DriveRoot || folder != place.root.Get();
        std::wstring base = folder.back() == L'\\' ? folder : folder + L"\\";
        WIN32_FIND_DATAW data;
        std::wstring pattern = L"\\\\?\\" + base + L"*";
        HANDLE found = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                        FIND_FIRST_EX_LARGE_FETCH);
        if (found == INVALID_HANDLE_VALUE)
            continue;
        do {
            bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (!wcscmp(data.cFileName, L".") || !wcscmp(data.cFileName, L"..") || (!isFolder && !rootFiles))
                continue;
            std::wstring child = base + data.cFileName;
            if (isFolder && IsSkippedFolder(places, child.c_str()))
                continue;
            ++(isFolder ? folders : files);
            if (isFolder && tree && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                pending.push_back(child);
        } while (FindNextFileW(found, &data));
        FindClose(found);
    }
}

void WalkKey(HKEY key, const std::wstring& path, std::vector<BYTE>& data)
{
    static wchar_t name[16384];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 16383, size = static_cast<DWORD>(data.size()), type = 0;
        LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &size);
        if (result == ERROR_MORE_DATA && size > data.size()) {
            data.resize(size);
            --index;
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        ++values;
    }
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 16383;
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::wstring child = path + L"\\" + name;
        if (IsSkippedKey(child.c_str()))
            continue;
        ++keys;
        HKEY opened;
        if (RegOpenKeyExW(key, name, kKeyOpenOptions, KEY_READ | kKeyView, &opened) != ERROR_SUCCESS)
            continue;
        WalkKey(opened, child, data);
        RegCloseKey(opened);
    }
}

}  // namespace

int wmain()
{
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    const wchar_t* workDirs[] = {current, nullptr};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Places places;
    FindPlaces(&places, workDirs);
    std::vector<BYTE> data(64 * 1024);
    for (int p = 0; p < places.count; ++p) {
        const WalkedPlace& place = places.list[p];
        HKEY root;
        if (!IsKeyPlace(place.use)) {
            WalkFolder(places, place);
        } else if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, place.root.Get(), 0, KEY_READ | kKeyView, &root) ==
                   ERROR_SUCCESS) {
            WalkKey(root, place.root.Get(), data);
            RegCloseKey(root);
        }
    }
    QueryPerformanceCounter(&end);
    printf("walked %d places: %lu folders, %lu files, %lu keys, %lu values in %.3f seconds\n", places.count, folders,
           files, keys, values,
           static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
