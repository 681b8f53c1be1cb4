// The plainest Win32 program that does the removals of a cleaning script: the yardstick for
// the cleaner's own run. It reads zqclean.ini (the current folder's, or the one named on the
// command line), then in the cleaner's order: scans the INF files of %SystemRoot%\inf for the
// [infs] and [drivers] texts and deletes the selected ones with their .pnf, deletes the driver
// service keys, the [files] (bare names along the search path and in the search folders,
// paths as given) and the [maskedfiles] matches, the [folders] trees (and their 32-bit twins
// under Program Files (x86)), and the [registry] keys and values. No service, no log: one
// line of counts on stdout at the end.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "foundation/Handles.h"
#include "tests/bench/PlainTree.h"

namespace {

struct Script {
    std::vector<std::string> folders, exFolders, files, maskedFiles, registry, drivers, infs;
};

std::wstring Wide(const std::string& text)
{
    wchar_t buffer[2048];
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer, 2048);
    return length > 0 ? std::wstring(buffer) : std::wstring();
}

std::wstring Expand(const std::wstring& text)
{
    wchar_t buffer[2048];
    DWORD length = ExpandEnvironmentStringsW(text.c_str(), buffer, 2048);
    return length > 0 && length <= 2048 ? std::wstring(buffer) : text;
}

bool ReadWhole(const std::wstring& path, std::vector<char>& bytes)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid())
        return false;
    DWORD size = GetFileSize(file.Get(), nullptr);
    if (size == INVALID_FILE_SIZE)
        return false;
    bytes.resize(size + 1);
    DWORD got = 0;
    if (size > 0 && !ReadFile(file.Get(), bytes.data(), size, &got, nullptr))
        return false;
    bytes[got] = 0;
    return true;
}

bool ReadScript(const std::wstring& path, Script& script)
{
    std::vector<char> bytes;
    if (!ReadWhole(path, bytes))
        return false;
    std::vector<std::string>* section = nullptr;
    const char* p = bytes.data();
    while (*p) {
        const char* end = strchr(p, '\n');
        if (end == nullptr)
            end = p + strlen(p);
        std::string line(p, end);
        p = *end ? end + 1 : end;
        while (!line.empty() && (signed char)line.back() <= 32)
            line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[' && line.back() == ']') {
            const char* name = line.c_str();
            section = !_stricmp(name, "[folders]")       ? &script.folders
                      : !_stricmp(name, "[exfolders]")   ? &script.exFolders
                      : !_stricmp(name, "[files]")       ? &script.files
                      : !_stricmp(name, "[maskedfiles]") ? &script.maskedFiles
                      : !_stricmp(name, "[registry]")    ? &script.registry
                      : !_stricmp(name, "[drivers]")     ? &script.drivers
                      : !_stricmp(name, "[infs]")        ? &script.infs
                                                         : nullptr;
            continue;
        }
        if (section != nullptr)
            section->push_back(line);
    }
    return true;
}

// Seconds since the previous call (the first call starts the clock).
double Lap()
{
    static LARGE_INTEGER frequency, last;
    LARGE_INTEGER now;
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&last);
    }
    QueryPerformanceCounter(&now);
    double seconds = double(now.QuadPart - last.QuadPart) / double(frequency.QuadPart);
    last = now;
    return seconds;
}

HKEY RootFromName(const std::string& name)
{
    if (!_stricmp(name.c_str(), "HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
    if (!_stricmp(name.c_str(), "HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
    if (!_stricmp(name.c_str(), "HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
    if (!_stricmp(name.c_str(), "HKEY_USERS")) return HKEY_USERS;
    if (!_stricmp(name.c_str(), "HKEY_CURRENT_CONFIG")) return HKEY_CURRENT_CONFIG;
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Lap();
    double lapScript, lapInfs, lapServices, lapFiles, lapFolders, lapRegistry;
    std::wstring scriptPath = argc >= 2 ? argv[1] : L"zqclean.ini";
    Script script;
    if (!ReadScript(scriptPath, script)) {
        fprintf(stderr, "bench_baseline: cannot read %S\n", scriptPath.c_str());
        return 2;
    }
    int infs = 0, services = 0, files = 0, folders = 0, keys = 0;
    lapScript = Lap();

    // INF files that name one of the texts, with their precompiled companions.
    std::vector<std::string> texts = script.infs;
    texts.insert(texts.end(), script.drivers.begin(), script.drivers.end());
    std::wstring infDir = Expand(L"%SystemRoot%\\inf");
    std::vector<std::wstring> selected;
    {
        WIN32_FIND_DATAW data;
        FindHandle find(FindFirstFileW((infDir + L"\\*.inf").c_str(), &data));
        std::vector<char> bytes;
        if (find.Valid()) {
            do {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    continue;
                std::wstring path = infDir + L"\\" + data.cFileName;
                if (!ReadWhole(path, bytes))
                    continue;
                for (const std::string& text : texts) {
                    if (strstr(bytes.data(), text.c_str()) != nullptr) {
                        selected.push_back(path);
                        break;
                    }
                }
            } while (FindNextFileW(find.Get(), &data));
        }
    }
    for (const std::wstring& path : selected) {
        if (DeleteFileW(path.c_str()))
            ++infs;
        DeleteFileW((path.substr(0, path.size() - 3) + L"pnf").c_str());
    }

    lapInfs = Lap();

    for (const std::string& driver : script.drivers) {
        std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + Wide(driver);
        if (RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()) == ERROR_SUCCESS)
            ++services;
    }

    lapServices = Lap();

    // Where bare names and masks are looked for, as the cleaner's files phase looks: PATH, the
    // drivers folder, the extra folders, the folders and their twins below Program Files (x86),
    // and the 32-bit twins of all of these (SysWOW64 for system32), each once.
    std::wstring programFiles = Expand(L"%ProgramFiles%");
    std::wstring programFilesX86 = Expand(L"%ProgramFiles(x86)%");
    std::wstring system32 = Expand(L"%SystemRoot%\\system32");
    std::wstring sysWow64 = Expand(L"%SystemRoot%\\SysWOW64");
    auto twin = [&](const std::wstring& path) {
        if (!_wcsnicmp(path.c_str(), system32.c_str(), system32.size()))
            return sysWow64 + path.substr(system32.size());
        if (!_wcsnicmp(path.c_str(), programFiles.c_str(), programFiles.size()))
            return programFilesX86 + path.substr(programFiles.size());
        return std::wstring();
    };
    auto addUnique = [](std::vector<std::wstring>& list, const std::wstring& path) {
        if (path.empty())
            return;
        for (const std::wstring& there : list)
            if (!_wcsicmp(there.c_str(), path.c_str()))
                return;
        list.push_back(path);
    };
    std::vector<std::wstring> folderList;
    for (const std::string& folder : script.folders)
        addUnique(folderList, Expand(Wide(folder.substr(0, folder.find('=')))));
    for (size_t i = 0, count = folderList.size(); i < count; ++i)
        addUnique(folderList, twin(folderList[i]));
    std::vector<std::wstring> searchDirs;
    {
        wchar_t pathVariable[8192];
        DWORD length = GetEnvironmentVariableW(L"PATH", pathVariable, 8192);
        if (length > 0 && length < 8192) {
            wchar_t* context = nullptr;
            for (wchar_t* token = wcstok_s(pathVariable, L";", &context); token != nullptr;
                 token = wcstok_s(nullptr, L";", &context))
                addUnique(searchDirs, Expand(token));
        }
    }
    addUnique(searchDirs, system32 + L"\\drivers");
    for (const std::string& folder : script.exFolders)
        addUnique(searchDirs, Expand(Wide(folder)));
    for (const std::wstring& folder : folderList)
        addUnique(searchDirs, folder);
    for (size_t i = 0, count = searchDirs.size(); i < count; ++i)
        addUnique(searchDirs, twin(searchDirs[i]));

    for (const std::string& entry : script.files) {
        std::wstring name = Wide(entry);
        if (name.find(L'\\') != std::wstring::npos || name.find(L'/') != std::wstring::npos) {
            files += DeleteFileW(name.c_str()) ? 1 : 0;
            continue;
        }
        wchar_t found[MAX_PATH];
        if (SearchPathW(nullptr, name.c_str(), nullptr, MAX_PATH, found, nullptr) > 0)
            files += DeleteFileW(found) ? 1 : 0;
        for (const std::wstring& dir : searchDirs)
            files += DeleteFileW((dir + L"\\" + name).c_str()) ? 1 : 0;
    }
    for (const std::string& entry : script.maskedFiles) {
        std::wstring mask = Wide(entry);
        for (const std::wstring& dir : searchDirs) {
            WIN32_FIND_DATAW data;
            FindHandle find(FindFirstFileW((dir + L"\\" + mask).c_str(), &data));
            if (!find.Valid())
                continue;
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    files += DeleteFileW((dir + L"\\" + data.cFileName).c_str()) ? 1 : 0;
            } while (FindNextFileW(find.Get(), &data));
        }
    }

    lapFiles = Lap();

    for (const std::wstring& folder : folderList)
        if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
            folders += bench::PlainDeleteTree(folder) > 0;

    lapFolders = Lap();

    for (const std::string& entry : script.registry) {
        size_t slash = entry.find('\\');
        if (slash == std::string::npos)
            continue;
        HKEY root = RootFromName(entry.substr(0, slash));
        if (root == nullptr)
            continue;
        std::string rest = entry.substr(slash + 1);
        size_t colon = rest.find(':');
        if (colon == std::string::npos) {
            keys += RegDeleteTreeW(root, Wide(rest).c_str()) == ERROR_SUCCESS;
        } else {
            RegKey key;
            if (RegOpenKeyExW(root, Wide(rest.substr(0, colon)).c_str(), 0, KEY_SET_VALUE,
                              key.Put()) == ERROR_SUCCESS)
                keys += RegDeleteValueW(key.Get(), Wide(rest.substr(colon + 1)).c_str()) ==
                        ERROR_SUCCESS;
        }
    }

    lapRegistry = Lap();

    printf("baseline: %d infs, %d services, %d files, %d folders, %d registry entries\n", infs,
           services, files, folders, keys);
    printf("baseline seconds: script %.3f infs %.3f services %.3f files %.3f folders %.3f "
           "registry %.3f\n", lapScript, lapInfs, lapServices, lapFiles, lapFolders, lapRegistry);
    return 0;
}
