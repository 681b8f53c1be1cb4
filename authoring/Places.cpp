#include "authoring/Places.h"

#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

#include "foundation/Handles.h"
#include "platform/ExpandPath.h"
#include "platform/Paths.h"
#include "platform/SystemPaths.h"

namespace {

const struct {
    PlaceUse use;
    const wchar_t* root;
} kPlaces[] = {
    {PlaceUse::ProductTree, L"%ProgramFiles%"},
#ifdef _WIN64
    {PlaceUse::ProductTree, L"%ProgramFiles(x86)%"},
#else
    {PlaceUse::ProductTree, L"%ProgramW6432%"},  // the 64-bit folder, on 64-bit Windows
#endif
    {PlaceUse::ProductTree, L"%ProgramData%"},
    {PlaceUse::DriveRoot, L"%SystemDrive%\\"},
    {PlaceUse::OwnEntries, L"%SystemRoot%"},
    {PlaceUse::OwnEntries, L"%SystemRoot%\\system32"},
    {PlaceUse::OwnEntries, L"%SystemRoot%\\system32\\drivers"},
#ifdef _WIN64
    {PlaceUse::OwnEntries, L"%SystemRoot%\\SysWOW64"},
#endif
    {PlaceUse::InfFolder, L"%SystemRoot%\\inf"},
    {PlaceUse::DriverStore, L"%SystemRoot%\\system32\\DriverStore\\FileRepository"},
    {PlaceUse::DriverStore, L"%SystemRoot%\\system32\\DRVSTORE"},
    {PlaceUse::AssemblyCache, L"%SystemRoot%\\assembly\\GAC_MSIL"},
    {PlaceUse::AssemblyCache, L"%SystemRoot%\\assembly\\GAC_32"},
    {PlaceUse::AssemblyCache, L"%SystemRoot%\\assembly\\GAC_64"},
    {PlaceUse::AssemblyCache, L"%SystemRoot%\\assembly\\GAC"},
    {PlaceUse::AssemblyCache, L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_MSIL"},
    {PlaceUse::AssemblyCache, L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_32"},
    {PlaceUse::AssemblyCache, L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_64"},
    {PlaceUse::SoftwareKeys, L"SOFTWARE"},
    {PlaceUse::ServiceKeys, L"SYSTEM\\CurrentControlSet\\Services"},
    {PlaceUse::DeviceKeys, L"SYSTEM\\CurrentControlSet\\Enum"},
    {PlaceUse::InterfaceKeys, L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses"},
};

// Never recorded: the profiles, what the system keeps for itself on the drive root, its error
// reports, caches and update stores. (The Windows folder's own Temp, Prefetch, Logs, WinSxS and
// SoftwareDistribution are never entered: only the Windows folder's own entries are recorded.)
const wchar_t* const kNeverRecordedFolders[] = {
    L"%SystemDrive%\\Users", L"%SystemDrive%\\Documents and Settings", L"%SystemDrive%\\System Volume Information",
    L"%SystemDrive%\\$Recycle.Bin", L"%SystemDrive%\\RECYCLER", L"%SystemDrive%\\Recovery",
    L"%SystemDrive%\\$WinREAgent", L"%SystemDrive%\\$Windows.~BT", L"%SystemDrive%\\$Windows.~WS",
    L"%SystemDrive%\\$GetCurrent", L"%SystemDrive%\\$SysReset", L"%SystemDrive%\\Windows.old",
    L"%SystemDrive%\\Config.Msi", L"%SystemDrive%\\PerfLogs", L"%SystemRoot%\\Temp",
    L"%ProgramData%\\Microsoft\\Windows\\WER", L"%ProgramData%\\Microsoft\\Windows Defender",
    L"%ProgramData%\\Microsoft\\Search", L"%ProgramData%\\Microsoft\\Diagnosis",
    L"%ProgramData%\\Microsoft\\Windows\\Caches", L"%ProgramData%\\Microsoft\\Network\\Downloader",
    L"%ProgramData%\\Microsoft\\Windows\\DeliveryOptimization", L"%ProgramData%\\Microsoft\\Windows\\AppRepository",
    L"%ProgramData%\\USOShared", L"%ProgramData%\\USOPrivate", L"%ProgramFiles%\\WindowsApps",
};

// The registry's servicing and update bookkeeping: large, and changed by updates alone.
const wchar_t* const kNeverRecordedKeys[] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SideBySide\\Winners",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Appx",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate",
    L"SOFTWARE\\Microsoft\\Windows Defender",
};

// The references whose folders the system names itself.
const struct {
    const wchar_t* variable;
    int folder;
} kNamedFolders[] = {
    {L"ProgramFiles", CSIDL_PROGRAM_FILES},
    {L"ProgramFiles(x86)", CSIDL_PROGRAM_FILESX86},
    {L"CommonProgramFiles", CSIDL_PROGRAM_FILES_COMMON},
    {L"CommonProgramFiles(x86)", CSIDL_PROGRAM_FILES_COMMONX86},
    {L"ProgramData", CSIDL_COMMON_APPDATA},
    {L"SystemRoot", CSIDL_WINDOWS},
};

// The folder the system names for a reference, whether the variable is set here or not (XP
// has no ProgramData, and keeps its common application data all the same).
bool NamedFolder(const wchar_t* variable, zqWString* path)
{
    for (const auto& named : kNamedFolders)
        if (_wcsicmp(variable, named.variable) == 0)
            return ShellFolder(named.folder, path).ok;
    return false;
}

// A folder text that may begin with a reference, resolved to a full path.
bool ExpandedFolder(const wchar_t* text, zqWString* folder)
{
    const wchar_t* end = text[0] == L'%' ? wcschr(text + 1, L'%') : nullptr;
    zqWString variable, value, joined;
    if (end != nullptr && FormatInto(variable, L"%.*s", static_cast<int>(end - text - 1), text + 1) &&
        (NamedFolder(variable.Get(), &value) || ReferenceValue(variable.Get(), &value)) &&
        FormatInto(joined, L"%s%s", value.Get(), end + 1))
        text = joined.Get();
    zqWString expanded;
    return ExpandPath(text, &expanded).ok && FullPath(expanded.Get(), folder);
}

void Skip(Places* places, const wchar_t* folder)
{
    if (folder != nullptr && folder[0] != 0)
        AppendUnique(places->skipped, places->skippedIndex, folder);
}

}  // namespace

bool ReferenceValue(const wchar_t* variable, zqWString* value)
{
    if (!EnvironmentValue(variable, value).ok || value->length == 0)
        return false;
    NamedFolder(variable, value);  // the folder the system names for it, where it names one
    return true;
}

void FindPlaces(Places* places, const wchar_t* const* workDirs)
{
    places->count = 0;
    for (const auto& row : kPlaces) {
        WalkedPlace& place = places->list[places->count];
        bool key = IsKeyPlace(row.use);
        if ((key && !place.root.Assign(row.root)) || (!key && !ExpandedFolder(row.root, &place.root)))
            continue;
        if (FindPlace(*places, row.use, place.root.Get()) >= 0)
            continue;  // the same folder by two names (a 32-bit system has no second one)
        place.use = row.use;
        if (!key && row.use != PlaceUse::DriveRoot)
            Skip(places, place.root.Get());  // recorded by its own place only
        ++places->count;
    }
    zqWString folder;
    for (const wchar_t* text : kNeverRecordedFolders)
        if (ExpandedFolder(text, &folder))
            Skip(places, folder.Get());
    for (; workDirs != nullptr && *workDirs != nullptr; ++workDirs)
        if ((*workDirs)[0] != 0 && FullPath(*workDirs, &folder))
            Skip(places, folder.Get());
}

int FindPlace(const Places& places, PlaceUse use, const wchar_t* root)
{
    for (int i = 0; i < places.count; ++i)
        if (places.list[i].use == use && SameText(places.list[i].root.Get(), root))
            return i;
    return -1;
}

int PlaceOfFolder(const Places& places, const wchar_t* path)
{
    size_t length = wcslen(path);
    int found = -1;
    size_t foundLength = 0;
    for (int i = 0; i < places.count; ++i) {
        const WalkedPlace& place = places.list[i];
        size_t rootLength = static_cast<size_t>(place.root.length);
        if (IsKeyPlace(place.use) || !IsAtOrBelow(path, length, place.root.Get(), rootLength))
            continue;
        // The deepest root wins: system32's own entries before the Windows folder's.
        if (found < 0 || rootLength > foundLength) {
            found = i;
            foundLength = rootLength;
        }
    }
    return found;
}

bool IsSkippedFolder(const Places& places, const wchar_t* path)
{
    return TextIndexContains(places.skippedIndex, path);
}

bool IsSkippedKey(const wchar_t* path)
{
    for (const wchar_t* key : kNeverRecordedKeys)
        if (SameText(path, key))
            return true;
#ifndef _WIN64
    // The 32-bit view lists the key that stores it, below the classes too: its keys are
    // recorded where the view shows them.
    const wchar_t* name = wcsrchr(path, L'\\');
    if (name != nullptr && SameText(name + 1, L"Wow6432Node"))
        return true;
#endif
    return false;
}
