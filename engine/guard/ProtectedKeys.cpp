#include "guard/Guard.h"

#include <wchar.h>
#include <wctype.h>

#include <new>

#include "foundation/StringList.h"
#include "registry/RegistryPrimitives.h"

namespace {

const wchar_t* const kSharedEnumerators[] = {
    L"ROOT",    L"PCI",     L"USB",     L"HID",     L"ACPI",    L"ACPI_HAL", L"SWD",   L"SCSI",  L"STORAGE",
    L"DISPLAY", L"HDAUDIO", L"BTH",     L"BTHENUM", L"BTHLE",   L"BTHLEDEVICE", L"USBSTOR", L"IDE", L"PCIIDE",
    L"SW",      L"UMB",     L"HTREE",   L"MONITOR", L"UEFI",    L"1394",    L"PCMCIA", L"ISAPNP", L"FDC",
    L"SD",      L"NVME",    L"USBPRINT", L"WPDBUSENUMROOT", L"TS_USB_HUB_ENUMERATOR", L"INTELAUDIO",
};


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
    for (const wchar_t* enumerator : kSharedEnumerators)
        if (_wcsicmp(name, enumerator) == 0)
            return true;
    return false;
}
