#include "engine/Guard.h"

#include <shlobj.h>
#include <wchar.h>

#include <new>

#include "engine/FileSystem.h"
#include "registry/RegistryPrimitives.h"
#include "script/CleanScript.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Every letter, not only ASCII: a profile folder named with an umlaut matches in either case.
void LowerCase(wchar_t* text)
{
    int length = static_cast<int>(wcslen(text));
    if (length > 0)
        LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, text, length, text, length);
}

// "X:\" or "\\server\share" (with or without a final separator), and "\\server".
bool IsRootPath(const wchar_t* path)
{
    size_t length = wcslen(path);
    while (length > 1 && IsSeparator(path[length - 1]))
        --length;
    if (length == 2 && path[1] == L':')
        return true;
    if (length < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
        return length == 1 && IsSeparator(path[0]);
    int separators = 0;
    for (size_t i = 2; i < length; ++i)
        separators += IsSeparator(path[i]) ? 1 : 0;
    return separators <= 1;
}

// --- folders --------------------------------------------------------------------------------

// Adds the folder and every folder above it, lower-cased.
void AddFolder(ProtectedPlaces* places, const wchar_t* path)
{
    zqWString canonical;
    if (path == nullptr || path[0] == 0 || !CanonicalPath(path, &canonical))
        return;
    LowerCase(canonical.buffer);
    for (;;) {
        AppendUnique(places->folders, places->folderIndex, canonical.Get());
        wchar_t* cut = wcsrchr(canonical.buffer, L'\\');
        if (cut == nullptr || IsRootPath(canonical.Get()))
            return;
        // "C:\Windows" goes up to "C:\", a share's folder up to the share.
        if (cut == canonical.buffer + 2 && canonical.buffer[1] == L':')
            cut[1] = 0;
        else
            *cut = 0;
        canonical.length = static_cast<int>(wcslen(canonical.buffer));
    }
}

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

// Every folder directly below folder (the profiles below the Users folder).
void AddSubfolders(ProtectedPlaces* places, const wchar_t* folder)
{
    zqWString pattern, child;
    if (!FormatInto(pattern, L"%s\\*", folder))
        return;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    if (!listing.Valid())
        return;
    do {
        if (!IsDotEntry(entry.cFileName) && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            FormatInto(child, L"%s\\%s", folder, entry.cFileName))
            AddFolder(places, child.Get());
    } while (FindNextFileW(listing.Get(), &entry));
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
        AddSubfolders(places, path);
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

// Core files of the system, for systems without a protected-file check of their own: refused by
// name in a protected folder.
const wchar_t* const kCoreFiles[] = {
    L"ntoskrnl.exe", L"ntkrnlpa.exe", L"hal.dll",      L"ntdll.dll",    L"kernel32.dll", L"kernelbase.dll",
    L"user32.dll",   L"gdi32.dll",    L"advapi32.dll", L"msvcrt.dll",   L"shell32.dll",  L"ole32.dll",
    L"rpcrt4.dll",   L"sechost.dll",  L"combase.dll",  L"ucrtbase.dll", L"win32k.sys",   L"ci.dll",
    L"smss.exe",     L"csrss.exe",    L"wininit.exe",  L"winlogon.exe", L"services.exe", L"lsass.exe",
    L"svchost.exe",  L"explorer.exe", L"userinit.exe", L"winload.exe",  L"winload.efi",  L"bootmgr",
    L"ntldr",        L"ntdetect.com", L"boot.ini",     L"win.ini",      L"system.ini",   L"regsvr32.exe",
    L"cmd.exe",      L"ntfs.sys",     L"disk.sys",     L"acpi.sys",     L"pci.sys",      L"volmgr.sys",
    L"partmgr.sys",  L"classpnp.sys", L"fltmgr.sys",   L"ksecdd.sys",   L"cng.sys",      L"tcpip.sys",
    L"ndis.sys",     L"mountmgr.sys", L"storport.sys", L"atapi.sys",    L"wdf01000.sys",
};

// The system's own boot and core drivers, refused as [drivers] entries.
const wchar_t* const kSystemDrivers[] = {
    L"ACPI",    L"atapi",   L"disk",     L"partmgr", L"volmgr", L"volmgrx", L"volsnap", L"Ntfs",
    L"pci",     L"storahci", L"stornvme", L"iaStorV", L"msahci", L"mountmgr", L"fltmgr", L"ksecdd",
    L"cng",     L"Tcpip",   L"NDIS",     L"Wdf01000", L"FileInfo", L"CLFS", L"spaceport", L"EhStorClass",
    L"intelide", L"pciide", L"USBSTOR",  L"usbhub",  L"usbehci", L"usbxhci", L"HidUsb", L"kbdclass",
    L"mouclass", L"i8042prt", L"BasicDisplay", L"vga", L"VgaSave", L"RDPDR", L"WinDefend", L"rdyboost",
};

const wchar_t* const kSharedEnumerators[] = {
    L"ROOT",    L"PCI",     L"USB",     L"HID",     L"ACPI",    L"ACPI_HAL", L"SWD",   L"SCSI",  L"STORAGE",
    L"DISPLAY", L"HDAUDIO", L"BTH",     L"BTHENUM", L"BTHLE",   L"BTHLEDEVICE", L"USBSTOR", L"IDE", L"PCIIDE",
    L"SW",      L"UMB",     L"HTREE",   L"MONITOR", L"UEFI",    L"1394",    L"PCMCIA", L"ISAPNP", L"FDC",
    L"SD",      L"NVME",    L"USBPRINT", L"WPDBUSENUMROOT", L"TS_USB_HUB_ENUMERATOR", L"INTELAUDIO",
};

bool InList(const wchar_t* name, const wchar_t* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (_wcsicmp(name, list[i]) == 0)
            return true;
    return false;
}

// --- registry -----------------------------------------------------------------------------

// The shared keys, in canonical form ("HKLM\...", "HKU\*\..." for every user's hive); the keys
// above them are protected as well.
const wchar_t* const kSharedKeys[] = {
    L"HKLM\\SOFTWARE\\CLASSES\\CLSID", L"HKLM\\SOFTWARE\\CLASSES\\INTERFACE",
    L"HKLM\\SOFTWARE\\CLASSES\\TYPELIB", L"HKLM\\SOFTWARE\\CLASSES\\APPID",
    L"HKLM\\SOFTWARE\\CLASSES\\*\\SHELLEX\\CONTEXTMENUHANDLERS",
    L"HKLM\\SOFTWARE\\CLASSES\\DIRECTORY\\SHELLEX\\CONTEXTMENUHANDLERS",
    L"HKLM\\SOFTWARE\\CLASSES\\DIRECTORY\\BACKGROUND\\SHELLEX\\CONTEXTMENUHANDLERS",
    L"HKLM\\SOFTWARE\\CLASSES\\FOLDER\\SHELLEX\\CONTEXTMENUHANDLERS",
    L"HKLM\\SOFTWARE\\CLASSES\\DRIVE\\SHELLEX\\CONTEXTMENUHANDLERS",
    L"HKLM\\SOFTWARE\\CLASSES\\ALLFILESYSTEMOBJECTS\\SHELLEX\\CONTEXTMENUHANDLERS",
    L"HKLM\\SOFTWARE\\CLASSES\\EXEFILE", L"HKLM\\SOFTWARE\\CLASSES\\DLLFILE", L"HKLM\\SOFTWARE\\CLASSES\\LNKFILE",
    L"HKLM\\SOFTWARE\\CLASSES\\.EXE", L"HKLM\\SOFTWARE\\CLASSES\\.DLL", L"HKLM\\SOFTWARE\\CLASSES\\.LNK",
    L"HKLM\\SOFTWARE\\CLASSES\\COMPONENT CATEGORIES", L"HKLM\\SOFTWARE\\CLASSES\\MIME\\DATABASE",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCEEX",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNSERVICES",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\APP PATHS",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHAREDDLLS",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHELL EXTENSIONS\\APPROVED",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHELLSERVICEOBJECTDELAYLOAD",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\SHELLICONOVERLAYIDENTIFIERS",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\BROWSER HELPER OBJECTS",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\SHELLEXECUTEHOOKS",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\DESKTOP\\NAMESPACE",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\MYCOMPUTER\\NAMESPACE",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\INSTALLER",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SIDEBYSIDE",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\WINLOGON",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\IMAGE FILE EXECUTION OPTIONS",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PROFILELIST",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTS",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\SVCHOST",
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\DRIVERS32",
    L"HKLM\\SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY", L"HKLM\\SOFTWARE\\MICROSOFT\\.NETFRAMEWORK",
    L"HKLM\\SOFTWARE\\MICROSOFT\\ACTIVE SETUP\\INSTALLED COMPONENTS", L"HKLM\\SOFTWARE\\MICROSOFT\\OLE",
    L"HKLM\\SOFTWARE\\MICROSOFT\\RPC", L"HKLM\\SOFTWARE\\MICROSOFT\\FUSION",
    L"HKLM\\SOFTWARE\\POLICIES", L"HKLM\\SOFTWARE\\CLIENTS", L"HKLM\\SOFTWARE\\REGISTEREDAPPLICATIONS",
    L"HKLM\\SOFTWARE\\WOW6432NODE",
    L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES", L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\CLASS",
    L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES",
    L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER\\ENVIRONMENT",
    L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SAFEBOOT", L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NETWORK",
    L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\PRINT", L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NLS",
    L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\LSA", L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\COMPUTERNAME",
    L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\HARDWARE PROFILES\\CURRENT", L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\ENUM",
    L"HKLM\\SYSTEM\\SELECT", L"HKLM\\SYSTEM\\SETUP", L"HKLM\\SYSTEM\\MOUNTEDDEVICES", L"HKLM\\SYSTEM\\WPA",
    L"HKLM\\SYSTEM\\DRIVERDATABASE", L"HKLM\\SAM", L"HKLM\\SECURITY", L"HKLM\\HARDWARE", L"HKLM\\BCD00000000",
    L"HKLM\\COMPONENTS", L"HKLM\\SCHEMA", L"HKLM\\DRIVERS",
    L"HKU\\*\\SOFTWARE\\CLASSES", L"HKU\\*\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN",
    L"HKU\\*\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE",
    L"HKU\\*\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER",
    L"HKU\\*\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES",
    L"HKU\\*\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL",
    L"HKU\\*\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", L"HKU\\*\\SOFTWARE\\POLICIES",
    L"HKU\\*\\CONTROL PANEL", L"HKU\\*\\ENVIRONMENT", L"HKU\\*\\KEYBOARD LAYOUT", L"HKU\\*\\NETWORK",
    L"HKU\\*\\CONSOLE", L"HKU\\*\\APPEVENTS",
};

// The shared keys with every key above them, made once.
struct KeyTable {
    zqList<zqWString> keys;
    TextIndex index;
};

void AddKeyAndAbove(KeyTable* table, const wchar_t* key)
{
    zqWString text;
    if (!text.Assign(key))
        return;
    for (;;) {
        AppendUnique(table->keys, table->index, text.Get());
        wchar_t* cut = wcsrchr(text.buffer, L'\\');
        if (cut == nullptr)
            return;
        *cut = 0;
        text.length = static_cast<int>(cut - text.buffer);
    }
}

const KeyTable kNoKeys;

const KeyTable& SharedKeys()
{
    static KeyTable* table = nullptr;
    if (table == nullptr) {
        table = new (std::nothrow) KeyTable;
        if (table == nullptr)
            return kNoKeys;
        for (const wchar_t* key : kSharedKeys)
            AddKeyAndAbove(table, key);
        for (const wchar_t* enumerator : kSharedEnumerators) {
            zqWString key;
            if (FormatInto(key, L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\ENUM\\%s", enumerator)) {
                _wcsupr(key.buffer);
                AddKeyAndAbove(table, key.Get());
            }
        }
    }
    return *table;
}

// Replaces the segment at [at, at + length) of key by replacement.
bool Respell(zqWString* key, size_t at, size_t length, const wchar_t* replacement)
{
    zqWString respelled;
    if (!FormatInto(respelled, L"%.*s%s%s", static_cast<int>(at), key->Get(), replacement, key->Get() + at + length))
        return false;
    return key->Assign(respelled.Get());
}

// The key as the table spells it: "HKLM\..." or "HKU\*\...", upper case, single separators,
// the control sets as CURRENTCONTROLSET and the 32-bit and per-user views folded in.
bool CanonicalKey(HKEY root, const wchar_t* path, zqWString* key)
{
    const wchar_t* prefix = root == HKEY_LOCAL_MACHINE    ? L"HKLM"
                            : root == HKEY_USERS          ? L"HKU"
                            : root == HKEY_CURRENT_USER   ? L"HKU\\*"
                            : root == HKEY_CLASSES_ROOT   ? L"HKLM\\SOFTWARE\\CLASSES"
                            : root == HKEY_CURRENT_CONFIG ? L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\HARDWARE PROFILES\\CURRENT"
                                                          : nullptr;
    zqWString rest;
    if (prefix == nullptr || !rest.Assign(path != nullptr ? path : L""))
        return false;
    // Single separators, none at either end.
    int out = 0;
    for (int i = 0; i < rest.length; ++i) {
        if (rest.buffer[i] != L'\\' || (out > 0 && rest.buffer[out - 1] != L'\\'))
            rest.buffer[out++] = rest.buffer[i];
    }
    while (out > 0 && rest.buffer[out - 1] == L'\\')
        --out;
    rest.Reserve(out);
    if (!FormatInto(*key, out > 0 ? L"%s\\%s" : L"%s", prefix, rest.Get()))
        return false;
    _wcsupr(key->buffer);
    // Every hive of HKEY_USERS is one user's: "HKU\<hive>\..." is "HKU\*\...".
    if (wcsncmp(key->Get(), L"HKU\\", 4) == 0 && key->buffer[4] != L'*') {
        size_t hive = wcscspn(key->Get() + 4, L"\\");
        if (!Respell(key, 4, hive, L"*"))
            return false;
    }
    const wchar_t* controlSet = wcsstr(key->Get(), L"HKLM\\SYSTEM\\CONTROLSET");
    if (controlSet == key->Get() && iswdigit(key->buffer[22]) && iswdigit(key->buffer[23]) && iswdigit(key->buffer[24]) &&
        (key->buffer[25] == 0 || key->buffer[25] == L'\\') && !Respell(key, 12, 13, L"CURRENTCONTROLSET"))
        return false;
    // The 32-bit view and the user's classes mirror the machine's keys.
    static const wchar_t* const mirrors[][2] = {
        {L"HKLM\\SOFTWARE\\WOW6432NODE\\", L"HKLM\\SOFTWARE\\"},
        {L"HKLM\\SOFTWARE\\CLASSES\\WOW6432NODE\\", L"HKLM\\SOFTWARE\\CLASSES\\"},
        {L"HKU\\*\\SOFTWARE\\CLASSES\\", L"HKLM\\SOFTWARE\\CLASSES\\"},
        {L"HKU\\*\\SOFTWARE\\WOW6432NODE\\", L"HKU\\*\\SOFTWARE\\"},
    };
    for (const auto& mirror : mirrors) {
        size_t length = wcslen(mirror[0]);
        if (wcsncmp(key->Get(), mirror[0], length) == 0 && !Respell(key, 0, length, mirror[1]))
            return false;
    }
    return true;
}

}  // namespace

bool IsSystemDriver(const ProtectedPlaces& places, const wchar_t* serviceKey)
{
    const wchar_t* name = wcsrchr(serviceKey, L'\\');
    name = name != nullptr ? name + 1 : serviceKey;
    if (InList(name, kSystemDrivers, sizeof kSystemDrivers / sizeof kSystemDrivers[0]))
        return true;
    zqWString keyPath;
    if (name == serviceKey && !FormatInto(keyPath, L"SYSTEM\\CurrentControlSet\\Services\\%s", name))
        return true;  // undecidable: refused
    if (name == serviceKey)
        serviceKey = keyPath.Get();
    RegKey key;
    wchar_t image[MAX_PATH];
    DWORD size = sizeof image - sizeof(wchar_t);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), L"ImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(image), &size) != ERROR_SUCCESS)
        return false;
    image[size / sizeof(wchar_t)] = 0;
    // "\SystemRoot\System32\drivers\x.sys", "System32\drivers\x.sys", "\??\C:\...", "%SystemRoot%\...".
    const wchar_t* text = image;
    zqWString path;
    wchar_t windows[MAX_PATH];
    if (GetWindowsDirectoryW(windows, MAX_PATH) == 0)
        return false;
    if (_wcsnicmp(text, L"\\??\\", 4) == 0)
        text += 4;
    if (_wcsnicmp(text, L"\\SystemRoot\\", 12) == 0)
        FormatInto(path, L"%s\\%s", windows, text + 12);
    else if (_wcsnicmp(text, L"System32\\", 9) == 0)
        FormatInto(path, L"%s\\%s", windows, text);
    else
        path.Assign(text);
    wchar_t expanded[MAX_PATH];
    DWORD length = ExpandEnvironmentStringsW(path.Get(), expanded, MAX_PATH);
    zqWString canonical;
    return length > 0 && length <= MAX_PATH && CanonicalPath(expanded, &canonical) &&
           IsProtectedFile(places, canonical.Get());
}

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
    // The Windows folder's own system folders, in both views.
    static const wchar_t* const windowsFolders[] = {
        L"", L"System32", L"System32\\drivers", L"SysWOW64", L"SysWOW64\\drivers", L"Sysnative", L"inf", L"WinSxS",
        L"Fonts", L"assembly", L"Microsoft.NET", L"servicing", L"Boot", L"Temp"};
    zqWString folder;
    for (const wchar_t* below : windowsFolders) {
        if (windows.length > 0 && FormatInto(folder, below[0] != 0 ? L"%s\\%s" : L"%s", windows.Get(), below))
            AddFolder(places, folder.Get());
    }
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
}

bool FullPath(const wchar_t* path, zqWString* canonical)
{
    zqWString plain;
    if (path == nullptr || !plain.Assign(path) || plain.length < 2)
        return false;
    wchar_t* p = plain.buffer;
    for (wchar_t* c = p; *c != 0; ++c)
        if (*c == L'/')
            *c = L'\\';
    // "\\?\C:\x" and "\\.\C:\x" are "C:\x"; "\\?\UNC\server\share" is "\\server\share".
    if (p[0] == L'\\' && p[1] == L'\\' && (p[2] == L'?' || p[2] == L'.') && p[3] == L'\\') {
        if (_wcsnicmp(p + 4, L"UNC\\", 4) == 0)
            Respell(&plain, 0, 8, L"\\\\");
        else
            Respell(&plain, 0, 4, L"");
        p = plain.buffer;
    }
    bool drive = ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) && p[1] == L':' && p[2] == L'\\';
    bool share = p[0] == L'\\' && p[1] == L'\\' && p[2] != 0 && p[2] != L'\\' && p[2] != L'?' && p[2] != L'.';
    if (!drive && !share)
        return false;
    DWORD needed = GetFullPathNameW(plain.Get(), 0, nullptr, nullptr);
    if (needed == 0 || !canonical->Reserve(static_cast<int>(needed)))
        return false;
    DWORD got = GetFullPathNameW(plain.Get(), needed, canonical->buffer, nullptr);
    if (got == 0 || got >= needed)
        return false;
    canonical->length = static_cast<int>(got);
    // Trailing dots and blanks of every part name nothing of their own: "C:\Windows." is the
    // Windows folder.
    int out = 0, partStart = 0;
    for (int i = 0; i <= canonical->length; ++i) {
        wchar_t c = canonical->buffer[i];
        if (c == L'\\' || c == 0) {
            while (out > partStart + 1 && (canonical->buffer[out - 1] == L'.' || canonical->buffer[out - 1] == L' '))
                --out;
            partStart = out + 1;
        }
        canonical->buffer[out++] = c;
    }
    canonical->length = out - 1;
    while (canonical->length > 3 && canonical->buffer[canonical->length - 1] == L'\\')
        canonical->buffer[--canonical->length] = 0;
    return true;
}

bool CanonicalPath(const wchar_t* path, zqWString* canonical)
{
    if (!FullPath(path, canonical))
        return false;
    // Short names made long, for what exists; what exists but cannot be told by its long name
    // is undecidable. A generated short name always holds a "~"; a path without one is read
    // as it stands (the lookup of every part would cost more than the removal).
    if (wcschr(canonical->Get(), L'~') == nullptr)
        return true;
    DWORD longNeeded = GetLongPathNameW(canonical->Get(), nullptr, 0);
    zqWString longPath;
    if (longNeeded == 0)
        return GetFileAttributesW(canonical->Get()) == INVALID_FILE_ATTRIBUTES;
    if (!longPath.Reserve(static_cast<int>(longNeeded)))
        return false;
    DWORD longGot = GetLongPathNameW(canonical->Get(), longPath.buffer, longNeeded);
    if (longGot == 0 || longGot >= longNeeded)
        return false;
    longPath.length = static_cast<int>(longGot);
    return canonical->Assign(longPath.Get());
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
    return TextIndexContains(places.folderIndex, lower.Get());
}

bool IsProtectedFile(const ProtectedPlaces& places, const wchar_t* canonical)
{
    if (places.isFileProtected != nullptr && places.isFileProtected(nullptr, canonical))
        return true;
    const wchar_t* name = wcsrchr(canonical, L'\\');
    if (name == nullptr || !InList(name + 1, kCoreFiles, sizeof kCoreFiles / sizeof kCoreFiles[0]))
        return false;
    zqWString folder;
    return !FormatInto(folder, L"%.*s", static_cast<int>(name - canonical), canonical) ||
           IsProtectedFolder(places, folder.Get());
}

bool IsProtectedKey(HKEY root, const wchar_t* path)
{
    if (IsRootKeyPath(path))
        return true;
    zqWString key;
    if (!CanonicalKey(root, path, &key))
        return true;  // undecidable: refused
    const KeyTable& shared = SharedKeys();
    // A user's hive itself: "HKU\*".
    return wcscmp(key.Get(), L"HKU\\*") == 0 || TextIndexContains(shared.index, key.Get());
}

bool IsSharedEnumerator(const wchar_t* name)
{
    return InList(name, kSharedEnumerators, sizeof kSharedEnumerators / sizeof kSharedEnumerators[0]);
}

bool MaskHasNoLiteralName(const wchar_t* mask)
{
    const wchar_t* dot = wcsrchr(mask, L'.');
    const wchar_t* end = dot != nullptr ? dot : mask + wcslen(mask);
    for (const wchar_t* c = mask; c < end; ++c) {
        if (*c == L'[') {
            // A class is no literal: it stands for a choice.
            while (c < end && *c != L']')
                ++c;
            continue;
        }
        if (*c != L'*' && *c != L'?')
            return false;
    }
    return true;
}

bool IsRefused(const ProtectedPlaces& places, const Target& target, DWORD* error, const char** reason)
{
    *error = ERROR_ACCESS_DENIED;
    zqWString canonical;
    switch (target.kind) {
    case TargetKind::Folder:
        if (!FullPath(target.path, &canonical)) {
            *error = ERROR_BAD_PATHNAME;
            *reason = "not a full path: it would be looked up along the search order";
            return true;
        }
        *reason = "a folder that the system or every product needs";
        return !CanonicalPath(target.path, &canonical) || IsProtectedFolder(places, canonical.Get());
    case TargetKind::File:
    case TargetKind::InfFile:
        *reason = "a file that the system protects";
        return !CanonicalPath(target.path, &canonical) || IsProtectedFile(places, canonical.Get());
    case TargetKind::RegistryKey:
        *reason = "a registry key that the system or every product needs";
        return IsProtectedKey(target.root, target.path);
    case TargetKind::DeviceKey:
        *reason = "an enumerator or key that the system and every product share";
        return IsProtectedKey(target.root, target.path);
    case TargetKind::ServiceKey:
        *reason = "one of the system's own drivers";
        return IsProtectedKey(target.root, target.path) || IsSystemDriver(places, target.path);
    default:
        return false;
    }
}
