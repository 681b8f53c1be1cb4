// The cleaner's primitives against their plainest Win32 equivalents on identical data, A and B
// alternating, so that a busy machine slows both alike. Tells where a whole run loses time.
//
//   bench_parts [ROUNDS]      (default 3; works below HKLM\SOFTWARE\ZqBenchParts and C:\ZqBenchParts)
#include <windows.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Removal.h"
#include "platform/Search.h"
#include "foundation/Handles.h"
#include "tests/bench/PlainTree.h"
#include "shared/RunLog.h"
#include "registry/RegistryPrimitives.h"

namespace {

const wchar_t* kKey = L"SOFTWARE\\ZqBenchParts";
const wchar_t* kFolder = L"C:\\ZqBenchParts";

double Seconds()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

void SeedKeys(int groups, int keys)
{
    RegKey top;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, top.Put(), nullptr);
    for (int g = 0; g < groups; ++g) {
        wchar_t name[32];
        swprintf(name, 32, L"Group%02d", g);
        RegKey group;
        RegCreateKeyExW(top.Get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, group.Put(), nullptr);
        for (int k = 0; k < keys; ++k) {
            swprintf(name, 32, L"Key%03d", k);
            RegKey key;
            RegCreateKeyExW(group.Get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
            DWORD value = (DWORD)k;
            RegSetValueExW(key.Get(), L"Name", 0, REG_SZ, (const BYTE*)L"component", 20);
            RegSetValueExW(key.Get(), L"Flags", 0, REG_DWORD, (const BYTE*)&value, sizeof value);
        }
    }
}

void SeedFiles(int folders, int files)
{
    CreateDirectoryW(kFolder, nullptr);
    std::string bytes(700, 'x');
    for (int f = 0; f < folders; ++f) {
        std::wstring folder = std::wstring(kFolder) + L"\\Part" + std::to_wstring(f);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (int n = 0; n < files; ++n) {
            std::wstring path = folder + L"\\file" + std::to_wstring(n) + L".dat";
            FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD written;
            WriteFile(file.Get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        }
    }
}

// The same deletion, deepest keys first, on open handles: each child is opened below its
// parent's handle and deleted through it, instead of opening both by full path from the root.
// withValues: delete the values one by one before the key, as the cleaner does.
bool DeleteTreeAt(HKEY parent, const wchar_t* name, bool withValues)
{
    RegKey key;
    if (RegOpenKeyW(parent, name, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0, values = 0;
    RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
    for (DWORD i = 0; i < subkeys; ++i) {
        wchar_t child[256];
        if (RegEnumKeyW(key.Get(), 0, child, 256) != ERROR_SUCCESS)
            continue;
        if (!DeleteTreeAt(key.Get(), child, withValues))
            return false;
    }
    for (DWORD i = 0; withValues && i < values; ++i) {
        wchar_t value[256];
        DWORD length = 256;
        if (RegEnumValueW(key.Get(), 0, value, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        if (RegDeleteValueW(key.Get(), value) != ERROR_SUCCESS)
            return false;
    }
    key.Close();
    return RegDeleteKeyW(parent, name) == ERROR_SUCCESS;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void Report(const char* what, const std::vector<double>& ours, const std::vector<double>& plain)
{
    double a = Median(ours), b = Median(plain);
    printf("%-44s ours %8.3f s   plain %8.3f s   ratio %5.2f\n", what, a, b, b > 0 ? a / b : 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int rounds = argc >= 2 ? _wtoi(argv[1]) : 3;
    if (rounds < 1)
        rounds = 1;
    std::vector<double> regRelative, regRelativeNoValues;
    std::vector<double> regOurs, regPlain, dirOurs, dirPlain, listOurs, listPlain, logOurs, logPlain;
    wchar_t infDir[MAX_PATH];
    ExpandEnvironmentStringsW(L"%SystemRoot%\\inf", infDir, MAX_PATH);

    for (int round = 0; round < rounds; ++round) {
        // 5,000 keys with two values each: the recursive deletion against RegDeleteTreeW.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        SeedKeys(10, 500);
        double t = Seconds();
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kKey);
        regOurs.push_back(Seconds() - t);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        SeedKeys(10, 500);
        t = Seconds();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        regPlain.push_back(Seconds() - t);
        SeedKeys(10, 500);
        t = Seconds();
        DeleteTreeAt(HKEY_LOCAL_MACHINE, kKey, true);
        regRelative.push_back(Seconds() - t);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        SeedKeys(10, 500);
        t = Seconds();
        DeleteTreeAt(HKEY_LOCAL_MACHINE, kKey, false);
        regRelativeNoValues.push_back(Seconds() - t);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);

        // 3,000 files in 10 folders.
        bench::PlainDeleteTree(kFolder);
        SeedFiles(10, 300);
        t = Seconds();
        DeleteFolderTree(kFolder);
        dirOurs.push_back(Seconds() - t);
        bench::PlainDeleteTree(kFolder);
        SeedFiles(10, 300);
        t = Seconds();
        bench::PlainDeleteTree(kFolder);
        dirPlain.push_back(Seconds() - t);

        // Listing the INF folder for *.inf: with a status query per entry, and by the pattern.
        wchar_t** paths = nullptr;
        t = Seconds();
        int count = FindFilesByMask(infDir, L"*.inf", &paths, 0);
        listOurs.push_back(Seconds() - t);
        for (int i = 0; i < count; ++i)
            free(paths[i]);
        free(paths);
        t = Seconds();
        {
            std::vector<std::wstring> found;
            WIN32_FIND_DATAW data;
            FindHandle find(FindFirstFileW((std::wstring(infDir) + L"\\*.inf").c_str(), &data));
            if (find.Valid()) {
                do
                    found.push_back(std::wstring(infDir) + L"\\" + data.cFileName);
                while (FindNextFileW(find.Get(), &data));
            }
        }
        listPlain.push_back(Seconds() - t);

        // 1,000 log pieces as a cleaning run writes them (each written through at once, on one
        // held handle), against one buffered stream.
        SetRunLogPath("C:\\ZqBenchParts.log");
        DeleteFileW(L"C:\\ZqBenchParts.log");
        t = Seconds();
        {
            RunLogHold hold;
            for (int i = 0; i < 500; ++i) {
                WriteLog(0, "%S...", L"C:\\windows\\inf\\oemzqbench0000.inf");
                WriteLog(0, "OK\n");
            }
        }
        logOurs.push_back(Seconds() - t);
        DeleteFileW(L"C:\\ZqBenchParts.log");
        t = Seconds();
        {
            StdioFile file(fopen("C:\\ZqBenchParts.log", "at"));
            for (int i = 0; i < 500; ++i) {
                fprintf(file.Get(), "%S...", L"C:\\windows\\inf\\oemzqbench0000.inf");
                fprintf(file.Get(), "OK\n");
            }
        }
        logPlain.push_back(Seconds() - t);
        DeleteFileW(L"C:\\ZqBenchParts.log");
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
    bench::PlainDeleteTree(kFolder);

    Report("registry: DeleteKeyTreeW vs RegDeleteTreeW", regOurs, regPlain);
    Report("registry: on handles, values one by one", regRelative, regPlain);
    Report("registry: on handles, values with the key", regRelativeNoValues, regPlain);
    Report("folders: DeleteFolderTree vs FindFirstFile", dirOurs, dirPlain);
    Report("INF listing: FindFilesByMask vs pattern", listOurs, listPlain);
    Report("1,000 log pieces: WriteLog vs one stream", logOurs, logPlain);
    return 0;
}
