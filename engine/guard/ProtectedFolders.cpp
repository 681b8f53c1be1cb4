#include <shlobj.h>
#include <wchar.h>

#include "foundation/StringList.h"
#include "guard/Guard.h"
#include "guard/PlaceTables.h"
#include "platform/ExpandPath.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/SystemPaths.h"
#include "registry/RegistryKey.h"

namespace {

// A folder the system names: protected when it was read; one that could not be read in full
// leaves the tables untold, and then every folder is protected.
void AddNamedFolder(ProtectedPlaces* places, const Result& named, const zqWString& folder)
{
    if (named.ok)
        AddFolder(places, folder.Get());
    else if (CutShort(named))
        places->untold = true;
}

void AddEnvironmentFolder(ProtectedPlaces* places, const wchar_t* variable)
{
    zqWString value;
    AddNamedFolder(places, EnvironmentValue(variable, &value), value);
}

void AddShellFolders(ProtectedPlaces* places)
{
    static const int shellFolders[] = {
        CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
        CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_COMMON_DOCUMENTS,
        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP,
        CSIDL_PROFILE, CSIDL_FONTS};
    zqWString folder;
    for (int csidl : shellFolders)
        AddNamedFolder(places, ShellFolder(csidl, &folder), folder);
}

void AddRegistryFolder(ProtectedPlaces* places, HKEY key, const wchar_t* value, bool withSubfolders)
{
    zqWString raw, path;
    Result read = ReadStringValue(key, value, &raw);
    if (read.ok)
        read = ExpandText(raw.Get(), &path);
    AddNamedFolder(places, read, path);
    if (read.ok && withSubfolders)
        AddSubfolders(places, path.Get(), false);  // the profiles below the Users folder
}

// The profiles: the Users folder with every folder in it, and the place of every profile.
void AddProfiles(ProtectedPlaces* places)
{
    RegKey list;
    if (!OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", KEY_READ, &list).ok)
        return;
    AddRegistryFolder(places, list.Get(), L"ProfilesDirectory", true);
    AddRegistryFolder(places, list.Get(), L"ProgramData", false);
    StringList names;
    if (CutShort(SubkeyNames(list.Get(), &names)))
        places->untold = true;
    for (int i = 0; i < names.count; ++i) {
        RegKey profile;
        if (OpenKey(list.Get(), names.At(i)->Get(), KEY_READ, &profile).ok)
            AddRegistryFolder(places, profile.Get(), L"ProfileImagePath", false);
    }
}

}  // namespace

void AskProtectedPlaces(ProtectedPlaces* places)
{
    zqWString windows, folder, drivers;
    Result named = WindowsFolder(&windows);
    if (!named.ok)
        AddNamedFolder(places, named, windows);
    AddNamedFolder(places, SystemWindowsFolder(&folder), folder);
    named = SystemFolder(&folder);
    AddNamedFolder(places, named, folder);
    if (named.ok && FormatInto(drivers, L"%s\\drivers", folder.Get()))
        AddFolder(places, drivers.Get());
    AddNamedFolder(places, SystemWow64Folder(&folder), folder);
    static const wchar_t* const variables[] = {
        L"SystemRoot", L"windir", L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"CommonProgramFiles",
        L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramData", L"ALLUSERSPROFILE", L"PUBLIC",
        L"USERPROFILE", L"SystemDrive"};
    for (const wchar_t* variable : variables)
        AddEnvironmentFolder(places, variable);
    AddShellFolders(places);
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
    if (places.untold)
        return true;
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
