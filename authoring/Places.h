// The places products install into, which a snapshot records and a draft compares, and what
// is never recorded there: the profiles, the system's temporary folder and caches, the update
// stores, this program's working folders, and the registry's update bookkeeping.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "authoring/Listing.h"
#include "foundation/StringList.h"

enum class PlaceUse : uint8_t {
    ProductTree,    // a folder tree products install into: everything below it
    DriveRoot,      // the system drive's own folders, each with everything below it
    OwnEntries,     // the folder's own files and folders, not what lies below them
    InfFolder,      // the system INF folder's own files
    DriverStore,    // a driver store's package folders
    AssemblyCache,  // an assembly cache: every assembly's folders and files
    SoftwareKeys,   // HKLM\SOFTWARE in this build's registry view, with all below it
    ServiceKeys,    // the driver and service keys
    DeviceKeys,     // the enumerated devices
    InterfaceKeys,  // the device interface classes
};
const uint8_t kLastPlaceUse = static_cast<uint8_t>(PlaceUse::InterfaceKeys);

inline bool IsKeyPlace(PlaceUse use)
{
    return use >= PlaceUse::SoftwareKeys;
}

struct WalkedPlace {
    PlaceUse use = PlaceUse::ProductTree;
    zqWString root;  // a full folder path, or a key path below HKEY_LOCAL_MACHINE
};

struct Places {
    WalkedPlace list[kMaxPlaces];
    int count = 0;
    // Folders never entered nor recorded, by full path: the other places' roots, the working
    // folders, the system's own caches.
    StringList skipped;
    TextIndex skippedIndex{true};
};

#ifdef _WIN64
const uint32_t kBuild = 64;
// The 64-bit view holds the 32-bit one below its Wow6432Node keys, as the 64-bit run reads
// them; a registry link is recorded as itself and not followed (it leads to keys recorded
// under their own path).
const REGSAM kKeyView = KEY_WOW64_64KEY;
const DWORD kKeyOpenOptions = REG_OPTION_OPEN_LINK;
#else
// The 32-bit build sees its own view only, links followed as the 32-bit run follows them.
const uint32_t kBuild = 32;
const REGSAM kKeyView = KEY_WOW64_32KEY;
const DWORD kKeyOpenOptions = 0;
#endif

// The folder an environment reference stands for: the folder the system names for it where it
// names one (a service's environment may have been made before the users' was settled), else
// the variable's value. False when the variable is not set here.
bool ReferenceValue(const wchar_t* variable, zqWString* value);

// The places of this machine as this build sees them. workDirs (null-ended) are never
// recorded: the script, the tools and the draft live there.
void FindPlaces(Places* places, const wchar_t* const* workDirs);
// A place of this use and root (ignoring ASCII letter case) in places, or -1.
int FindPlace(const Places& places, PlaceUse use, const wchar_t* root);
// The folder place whose tree holds path (a root's own place before a drive root), or -1.
int PlaceOfFolder(const Places& places, const wchar_t* path);

bool IsSkippedFolder(const Places& places, const wchar_t* path);
// A key (path below HKEY_LOCAL_MACHINE) whose tree is never entered nor recorded.
bool IsSkippedKey(const wchar_t* path);
