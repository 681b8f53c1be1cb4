#include <shlobj.h>
#include <wchar.h>

#include "foundation/StringList.h"
#include "guard/PlaceTables.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace {

void AddEnvironmentFolder(ProtectedPlaces* places, const wchar_t* variable, const wchar_t* below = nullptr)
{
    wchar_t value[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(variable, value, MAX_PATH);
    zqWString path;
    if (length > 0 && length < MAX_PATH && FormatInto(path, below != nullptr ? L"%s\\%s" : L"%s", value, below))
        AddFolder(places, path.Get());
}

void AddShellFolder(ProtectedPlaces* places, int csidl)
{
    wchar_t path[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        AddFolder(places, path);
}

void AddRegistryFolder(ProtectedPlaces* places, HKEY key, const wchar_t* value, bool withSubfolders)
{
    wchar_t raw[MAX_PATH], path[MAX_PATH];
    DWORD size = sizeof raw - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return;
    raw[size / sizeof(wchar_t)] = 0;
    DWORD length = ExpandEnvironmentStringsW(raw, path, MAX_PATH);
    if (length == 0 || length > MAX_PATH)
        return;
    AddFolder(places, path);
    if (withSubfolders)
        AddSubfolders(places, path, false);  // the profiles below the Users folder
}

// The profiles: the Users folder with every folder in it, and the place of every profile.
void AddProfiles(ProtectedPlaces* places)
{
    RegKey list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_READ, list.Put()) != ERROR_SUCCESS)
        return;
    AddRegistryFolder(places, list.Get(), L"ProfilesDirectory", true);
    AddRegistryFolder(places, list.Get(), L"ProgramData", false);
    wchar_t name[256];
    for (DWORD i = 0; RegEnumKeyW(list.Get(), i, name, 256) == ERROR_SUCCESS; ++i) {
        RegKey profile;
        if (RegOpenKeyExW(list.Get(), name, 0, KEY_READ, profile.Put()) == ERROR_SUCCESS)
            AddRegistryFolder(places, profile.Get(), L"ProfileImagePath", false);
    }
}

}  // namespace

void AskProtectedPlaces(ProtectedPlaces* places)
{
    wchar_t path[MAX_PATH];
    UINT length = GetWindowsDirectoryW(path, MAX_PATH);
    zqWString windows;
    if (length > 0 && length < MAX_PATH)
        windows.Assign(path);
    if (GetSystemWindowsDirectoryW(path, MAX_PATH) - 1 < MAX_PATH - 1)
        AddFolder(places, path);
    zqWString drivers;
    if (GetSystemDirectoryW(path, MAX_PATH) - 1 < MAX_PATH - 1 && FormatInto(drivers, L"%s\\drivers", path)) {
        AddFolder(places, path);
        AddFolder(places, drivers.Get());
    }
    typedef UINT(WINAPI * GetSystemWow64DirectoryFn)(LPWSTR, UINT);
    GetSystemWow64DirectoryFn wow64 = reinterpret_cast<GetSystemWow64DirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemWow64DirectoryW")));
    if (wow64 != nullptr && wow64(path, MAX_PATH) - 1 < MAX_PATH - 1)
        AddFolder(places, path);
    static const wchar_t* const variables[] = {
        L"SystemRoot", L"windir", L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"CommonProgramFiles",
        L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramData", L"ALLUSERSPROFILE", L"PUBLIC",
        L"USERPROFILE", L"SystemDrive"};
    for (const wchar_t* variable : variables)
        AddEnvironmentFolder(places, variable);
    static const int shellFolders[] = {
        CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
        CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_COMMON_DOCUMENTS,
        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP,
        CSIDL_PROFILE, CSIDL_FONTS};
    for (int csidl : shellFolders)
        AddShellFolder(places, csidl);
    AddProfiles(places);

    places->sfc.Reset(LoadTrustedLibrary(L"sfc.dll", false));
    if (places->sfc.Valid())
        places->isFileProtected = reinterpret_cast<SfcIsFileProtectedFn>(
            reinterpret_cast<void*>(GetProcAddress(places->sfc.Get(), "SfcIsFileProtected")));
    AddSystemFolders(places, windows.Get());
    zqWString inf;
    if (windows.length > 0 && FormatInto(inf, L"%s\\inf", windows.Get()) && CanonicalPath(inf.Get(), &places->infFolder))
        LowerCase(places->infFolder.buffer);
}

void AddRunFile(ProtectedPlaces* places, const wchar_t* path)
{
    zqWString canonical;
    if (path == nullptr || path[0] == 0 || !CanonicalPath(path, &canonical))
        return;
    LowerCase(canonical.buffer);
    AppendUnique(places->runFiles, places->runFileIndex, canonical.Get());
    for (wchar_t* cut; (cut = wcsrchr(canonical.buffer, L'\\')) != nullptr;) {
        cut[cut == canonical.buffer + 2 ? 1 : 0] = 0;
        canonical.length = static_cast<int>(wcslen(canonical.buffer));
        AppendUnique(places->runFolders, places->runFolderIndex, canonical.Get());
        if (IsRootPath(canonical.Get()))
            return;
    }
}

bool IsProtectedFolder(const ProtectedPlaces& places, const wchar_t* path)
{
    // The "\\?\" form of a long path names the same folder.
    zqWString lower;
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        if (!FormatInto(lower, L"\\\\%s", path + 8))
            return true;
    } else if (!lower.Assign(wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path)) {
        return true;  // undecidable: refused
    }
    if (IsRootPath(lower.Get()))
        return true;
    LowerCase(lower.buffer);
    return TextIndexContains(places.folderIndex, lower.Get()) || InSystemTree(places, lower.Get());
}

bool IsProtectedSearchFolder(const ProtectedPlaces& places, const wchar_t* folder)
{
    zqWString full;
    Place place;
    if (!FullPath(folder, &full))
        return true;
    FindPlace(full.Get(), &places.placeCache, &place);
    return place.reach != Reach::Local || IsProtectedFolder(places, place.at.Get()) ||
           IsProtectedFolder(places, place.leads.Get());
}

namespace {

bool IsNotProtected(const wchar_t* folder, const void* places)
{
    return !IsProtectedFolder(*static_cast<const ProtectedPlaces*>(places), folder);
}

}  // namespace

EnterTest KeepProtectedFolders(const ProtectedPlaces& places)
{
    EnterTest test;
    test.MayEnter = IsNotProtected;
    test.context = &places;
    return test;
}
