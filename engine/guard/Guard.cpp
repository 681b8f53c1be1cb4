#include "guard/Guard.h"

#include <wchar.h>

#include "platform/Paths.h"

namespace {

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

bool InList(const wchar_t* name, const wchar_t* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (_wcsicmp(name, list[i]) == 0)
            return true;
    return false;
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
