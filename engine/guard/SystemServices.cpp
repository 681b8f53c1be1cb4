// The services the system ships, the enumerators every product shares, and the devices the
// system's own drivers run: refused alike through [drivers], [registry] and [devices].
#include <wchar.h>

#include "guard/Guard.h"
#include "guard/KeyRules.h"
#include "guard/PlaceTables.h"
#include "registry/RegistryKey.h"

namespace {

const wchar_t* const kSharedEnumerators[] = {
    L"ROOT",    L"PCI",     L"USB",     L"HID",     L"ACPI",    L"ACPI_HAL", L"SWD",   L"SCSI",  L"STORAGE",
    L"DISPLAY", L"HDAUDIO", L"BTH",     L"BTHENUM", L"BTHLE",   L"BTHLEDEVICE", L"USBSTOR", L"IDE", L"PCIIDE",
    L"SW",      L"UMB",     L"HTREE",   L"MONITOR", L"UEFI",    L"1394",    L"PCMCIA", L"ISAPNP", L"FDC",
    L"SD",      L"NVME",    L"USBPRINT", L"WPDBUSENUMROOT", L"TS_USB_HUB_ENUMERATOR", L"INTELAUDIO",
    L"SWMUXBUS", L"COMPOSITEBUS", L"VMBUS", L"LPTENUM", L"SERENUM", L"FLOPPY", L"GENDISK",
};

// The services and drivers Windows needs, by name.
const wchar_t* const kSystemServices[] = {
    L"ACPI", L"atapi", L"disk", L"partmgr", L"volmgr", L"volmgrx", L"volsnap", L"Ntfs", L"pci", L"storahci",
    L"stornvme", L"iaStorV", L"msahci", L"mountmgr", L"fltmgr", L"ksecdd", L"ksecpkg", L"cng", L"Tcpip",
    L"Tcpip6", L"NDIS", L"Wdf01000", L"FileInfo", L"CLFS", L"spaceport", L"EhStorClass", L"intelide",
    L"pciide", L"USBSTOR", L"usbhub", L"usbehci", L"usbxhci", L"HidUsb", L"kbdclass", L"mouclass", L"i8042prt",
    L"BasicDisplay", L"vga", L"VgaSave", L"RDPDR", L"rdyboost", L"afd", L"NetBT", L"HTTP", L"nsiproxy", L"Mup",
    L"RDBSS", L"Beep", L"Null", L"PEAUTH", L"swenum", L"umbus", L"mssmbios", L"msisadrv", L"WdFilter",
    L"WdBoot", L"WdNisDrv", L"RpcSs", L"RpcEptMapper", L"DcomLaunch", L"PlugPlay", L"Power", L"Eventlog",
    L"EventSystem", L"Winmgmt", L"Schedule", L"Spooler", L"LSM", L"SamSs", L"Netlogon", L"LanmanServer",
    L"LanmanWorkstation", L"Dhcp", L"Dnscache", L"nsi", L"NlaSvc", L"netprofm", L"BFE", L"MpsSvc", L"ProfSvc",
    L"gpsvc", L"Themes", L"AudioSrv", L"AudioEndpointBuilder", L"CryptSvc", L"TrustedInstaller", L"wuauserv",
    L"BITS", L"msiserver", L"SENS", L"ShellHWDetection", L"W32Time", L"WinHttpAutoProxySvc", L"Wcmsvc",
    L"WinDefend", L"WdNisSvc", L"SecurityHealthService", L"TermService", L"UmRdpService", L"SessionEnv", L"EFS",
    L"KeyIso", L"VaultSvc", L"Appinfo", L"AppIDSvc", L"BrokerInfrastructure", L"CoreMessagingRegistrar",
    L"StateRepository", L"TimeBrokerSvc", L"SystemEventsBroker", L"UserManager", L"StorSvc", L"FontCache",
    L"lmhosts", L"Browser", L"wscsvc", L"seclogon", L"RasMan", L"Netman", L"iphlpsvc", L"WlanSvc", L"WinRM",
    L"DPS", L"WdiServiceHost", L"WdiSystemHost", L"DeviceInstall", L"DsmSvc", L"hidserv", L"StiSvc",
    L"wudfsvc", L"WUDFRd", L"WudfPf", L"luafv", L"Winsock", L"WinSock2",
};

bool EndsWith(const wchar_t* text, const wchar_t* end)
{
    size_t length = wcslen(text), size = wcslen(end);
    return length >= size && wcscmp(text + length - size, end) == 0;
}

// The image lies in one of the system's own folders: a product's own driver in the drivers
// folder, or in the driver store, is none.
bool LiesInSystemFolder(const ProtectedPlaces& places, const wchar_t* image)
{
    const wchar_t* name = wcsrchr(image, L'\\');
    zqWString folder;
    if (name == nullptr || !FormatInto(folder, L"%.*s", static_cast<int>(name - image), image))
        return true;
    LowerCase(folder.buffer);
    if (EndsWith(folder.Get(), L"\\system32\\drivers") || EndsWith(folder.Get(), L"\\syswow64\\drivers") ||
        wcsstr(folder.Get(), L"\\driverstore\\") != nullptr)
        return false;
    return IsProtectedFolder(places, folder.Get());
}

// The subkeys of a key below HKEY_LOCAL_MACHINE. False when the key is not there; a listing
// that cannot be read whole is the caller's to refuse (*whole false).
bool ListSubkeys(const wchar_t* path, StringList* names, bool* whole)
{
    RegKey key;
    *whole = true;
    if (!OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, &key).ok)
        return false;
    *whole = SubkeyNames(key.Get(), names).ok;
    return true;
}

// Whether one of the device's instances (the subkeys of its key) is run by a system service.
bool RunBySystemService(const ProtectedPlaces& places, const wchar_t* deviceKey)
{
    StringList instances;
    bool whole = true;
    if (!ListSubkeys(deviceKey, &instances, &whole))
        return false;
    if (!whole)
        return true;  // undecidable: refused
    zqWString instanceKey, service;
    for (int i = 0; i < instances.count; ++i) {
        if (!FormatInto(instanceKey, L"%s\\%s", deviceKey, instances.At(i)->Get()))
            return true;
        Result read = ReadStringValue(HKEY_LOCAL_MACHINE, instanceKey.Get(), L"Service", &service);
        if (!read.ok && CutShort(read))
            return true;
        if (read.ok && service.length > 0 && IsSystemService(places, service.Get()))
            return true;
    }
    return false;
}

// Whether an id of the enumerator begins with the first idLength characters of id (any case).
bool BeginsOtherIds(const wchar_t* enumPath, const wchar_t* id, int idLength)
{
    StringList names;
    bool whole = true;
    if (!ListSubkeys(enumPath, &names, &whole))
        return false;
    for (int i = 0; i < names.count; ++i)
        if (_wcsnicmp(names.At(i)->Get(), id, static_cast<size_t>(idLength)) == 0)
            return true;
    return !whole;
}

}  // namespace

bool IsSharedEnumerator(const wchar_t* name)
{
    return InNameList(name, kSharedEnumerators);
}

bool IsSystemService(const ProtectedPlaces& places, const wchar_t* service)
{
    const wchar_t* name = wcsrchr(service, L'\\');
    name = name != nullptr ? name + 1 : service;
    if (name[0] == 0)
        return true;
    if (InNameList(name, kSystemServices) ||
        IsServiceOfSystemInfs(places, name))
        return true;
    zqWString keyPath;
    if (name == service && !FormatInto(keyPath, L"SYSTEM\\CurrentControlSet\\Services\\%s", name))
        return true;  // undecidable: refused
    const wchar_t* serviceKey = name == service ? keyPath.Get() : service;
    RegKey key;
    if (!OpenKey(HKEY_LOCAL_MACHINE, serviceKey, KEY_READ, &key).ok)
        return false;  // not there: nothing to tell it by beyond its name
    DWORD start = 0, type = 0;
    if (ReadNumberValue(key.Get(), L"Start", &start).ok && start <= SERVICE_SYSTEM_START)
        return true;  // loaded while the system starts
    zqWString image, file;
    Result read = ReadStringValue(key.Get(), L"ImagePath", &image);
    if (!read.ok && CutShort(read))
        return true;  // undecidable: refused
    if (!read.ok || image.length == 0) {
        // A driver without an image path is loaded from the drivers folder by its name.
        if (!ReadNumberValue(key.Get(), L"Type", &type).ok || !(type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) ||
            !FormatInto(image, L"System32\\drivers\\%s.sys", name))
            return false;
    }
    if (!CommandFile(image.Get(), &file))
        return true;  // undecidable: refused
    const wchar_t* fileName = wcsrchr(file.Get(), L'\\');
    if (fileName != nullptr && _wcsicmp(fileName + 1, L"svchost.exe") == 0)
        return true;  // the system's service host
    // A bare name tells no folder: only the file the system would find by it can tell.
    bool bare = wcschr(image.Get(), L'\\') == nullptr;
    return IsProtectedFile(places, file.Get()) || (!bare && LiesInSystemFolder(places, file.Get()));
}

bool IsSystemDevice(const ProtectedPlaces& places, const wchar_t* enumPath, const wchar_t* enumerator,
                    const wchar_t* below)
{
    if (below[0] == 0) {
        // The enumerator itself: a shared one, or a bus one of whose devices the system runs.
        if (IsSharedEnumerator(enumerator))
            return true;
        StringList ids;
        bool whole = true;
        if (!ListSubkeys(enumPath, &ids, &whole))
            return false;
        zqWString deviceKey;
        for (int i = 0; i < ids.count; ++i)
            if (!FormatInto(deviceKey, L"%s\\%s", enumPath, ids.At(i)->Get()) || RunBySystemService(places, deviceKey.Get()))
                return true;
        return !whole;
    }
    int idLength = static_cast<int>(wcscspn(below, L"\\"));
    zqWString deviceKey;
    if (!FormatInto(deviceKey, L"%s\\%.*s", enumPath, idLength, below))
        return true;
    // On a shared enumerator only a whole device id names a device: one that is not there but
    // begins the ids of others is only part of theirs.
    if (IsSharedEnumerator(enumerator) && !Probe(HKEY_LOCAL_MACHINE, deviceKey.Get(), nullptr).ok &&
        BeginsOtherIds(enumPath, below, idLength))
        return true;
    return RunBySystemService(places, deviceKey.Get());
}
