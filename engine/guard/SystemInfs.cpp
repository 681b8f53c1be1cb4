// The system's own INF files: the services they install, and the texts an [infs] entry may not
// be because they single out no product's INF files.
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <new>

#include "guard/Guard.h"
#include "guard/KeyRules.h"
#include "guard/PlaceTables.h"
#include "foundation/HeapArray.h"
#include "platform/ExpandPath.h"
#include "registry/RegistryKey.h"
#include "platform/Search.h"

namespace {

// What every INF file holds: its sections, keys, directives and signatures.
const wchar_t* const kInfWords[] = {
    L"Version", L"Signature", L"Provider", L"DriverVer", L"Class", L"ClassGuid", L"Manufacturer", L"CatalogFile",
    L"DestinationDirs", L"DefaultDestDir", L"SourceDisksNames", L"SourceDisksFiles", L"Strings", L"DefaultInstall",
    L"DefaultUninstall", L"ControlFlags", L"AddReg", L"DelReg", L"CopyFiles", L"DelFiles", L"RenFiles",
    L"AddService", L"DelService", L"ServiceBinary", L"ServiceType", L"StartType", L"ErrorControl",
    L"LoadOrderGroup", L"Dependencies", L"DisplayName", L"Description", L"Include", L"Needs", L"LayoutFile",
    L"PnpLockDown", L"DriverPackageType", L"DriverPackageDisplayName", L"ClassInstall32", L"Install", L"Services",
    L"HW", L"CoInstallers", L"Interfaces", L"AddInterface", L"LogConfig", L"Models", L"NT", L"NTx86", L"NTamd64",
    L"NTia64", L"NTarm", L"NTarm64", L"Chicago", L"95", L"DDInstall", L"WDF",
    L"KmdfLibraryVersion", L"UmdfLibraryVersion", L"UpdateInis", L"UpdateIniFields", L"Ini2Reg", L"BitReg",
    L"ProfileItems", L"RegisterDlls", L"UnregisterDlls", L"FeatureScore", L"Reboot", L"Restart", L"Security",
    L"DriverFile", L"ConfigPriority", L"HKR", L"HKLM", L"HKCR", L"HKCU", L"HKU", L"Windows", L"Microsoft",
    L"System", L"System32", L"Driver", L"Drivers", L"Device", L"Devices", L"Standard", L"Generic", L"Setup",
};

// Blanks and the marks around INF words: "[Version]", "Signature=", "$Windows NT$", "%Provider%".
const wchar_t kDecoration[] = L" \t[]=\"$%;,.:";

// Directory ids and flags: "%12%", "0x2".
bool IsNumber(const wchar_t* text, size_t length)
{
    bool hex = length > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    for (size_t i = hex ? 2 : 0; i < length; ++i)
        if (hex ? !iswxdigit(text[i]) : !iswdigit(text[i]))
            return false;
    return length > 0;
}

bool IsInfWord(const wchar_t* text, size_t length)
{
    if (IsNumber(text, length))
        return true;
    for (const wchar_t* word : kInfWords)
        if (wcslen(word) == length && _wcsnicmp(text, word, length) == 0)
            return true;
    return false;
}

// A text made of INF words alone: "DefaultInstall.NT", "Signature = $Windows NT$", "DriverVer=".
bool IsInfWordsOnly(const wchar_t* text)
{
    bool any = false;
    for (const wchar_t* c = text + wcsspn(text, kDecoration); *c != 0; c += wcsspn(c, kDecoration)) {
        size_t length = wcscspn(c, kDecoration);
        if (!IsInfWord(c, length))
            return false;
        any = true;
        c += length;
    }
    return any;
}

// "{4d36e97d-e325-11ce-bfc1-08002be10318}": a device setup class every driver of it names.
bool IsSetupClass(const wchar_t* text)
{
    const wchar_t* start = text + wcsspn(text, kDecoration);
    size_t length = wcscspn(start, L" \t\"");
    if (length != 38 || start[0] != L'{' || start[37] != L'}')
        return false;
    zqWString key;
    return FormatInto(key, L"SYSTEM\\CurrentControlSet\\Control\\Class\\%.38s", start) &&
           Probe(HKEY_LOCAL_MACHINE, key.Get(), nullptr).ok;
}

// An INF file's text, single-byte as the INF phase compares: UTF-16 text (with its mark) has
// every unit beyond one byte as '?'.
bool ReadInfText(const wchar_t* path, zqString* text)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024)
        return false;
    DWORD length = static_cast<DWORD>(size.QuadPart), got = 0;
    HeapArray<unsigned char> bytes(static_cast<size_t>(length) + 2);
    if (!bytes.Valid())
        return false;
    unsigned char* data = bytes.Get();
    if (!ReadFile(file.Get(), data, length, &got, nullptr))
        return false;
    data[got] = data[got + 1] = 0;
    bool little = got >= 2 && data[0] == 0xFF && data[1] == 0xFE, big = got >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    if (!little && !big)
        return text->Assign(reinterpret_cast<const char*>(data));
    int units = static_cast<int>(got / 2) - 1;
    if (!text->Reserve(units))
        return false;
    int out = 0;
    for (int i = 1; i <= units; ++i) {
        unsigned unit = little ? data[2 * i] | (data[2 * i + 1] << 8) : (data[2 * i] << 8) | data[2 * i + 1];
        if (unit == 0)
            break;
        text->buffer[out++] = unit <= 0xFF ? static_cast<char>(unit) : '?';
    }
    text->buffer[out] = 0;
    text->length = out;
    return true;
}

// The services an INF text installs: "AddService = name, flags, section".
void CollectServices(SystemInfs* infs, const char* text)
{
    zqWString service;
    for (const char* c = text; *c != 0; ++c) {
        if ((*c != 'A' && *c != 'a') || _strnicmp(c, "AddService", 10) != 0)
            continue;
        const char* name = c + 10 + strspn(c + 10, " \t");
        if (*name != '=')
            continue;
        ++name;
        name += strspn(name, " \t\"");
        int length = static_cast<int>(strcspn(name, ", \t\"\r\n;"));
        if (length == 0 || !service.Reserve(length))
            continue;
        for (int i = 0; i < length; ++i)
            service.buffer[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
        service.buffer[length] = 0;
        service.length = length;
        LowerCase(service.buffer);
        AppendUnique(infs->services, infs->serviceIndex, service.Get());
    }
}

// Reads the system's own INF files once: every INF file of the INF folder not named oem*.inf.
void ReadSystemInfs(const ProtectedPlaces& places)
{
    SystemInfs* infs = &places.infs;
    if (infs->read)
        return;
    infs->read = true;
    zqWString folder;
    wchar_t** paths = nullptr;
    int count = ExpandPath(L"%SystemRoot%\\inf", &folder).ok ? FindFilesByMask(folder.Get(), L"*.inf", &paths, 0) : -1;
    infs->whole = count >= 0;
    for (int i = 0; i < count; ++i) {
        const wchar_t* name = wcsrchr(paths[i], L'\\');
        if (name != nullptr && _wcsnicmp(name + 1, L"oem", 3) != 0) {
            zqString* text = new (std::nothrow) zqString;
            if (text != nullptr && ReadInfText(paths[i], text)) {
                CollectServices(infs, text->Get());
                infs->whole = infs->texts.AppendOwned(text) && infs->whole;
            } else {
                delete text;
                infs->whole = false;
            }
        }
        free(paths[i]);
    }
    free(paths);
}

}  // namespace

bool IsServiceOfSystemInfs(const ProtectedPlaces& places, const wchar_t* name)
{
    ReadSystemInfs(places);
    zqWString lowered;
    if (!places.infs.whole || !lowered.Assign(name))
        return true;  // undecidable: refused
    LowerCase(lowered.buffer);
    return TextIndexContains(places.infs.serviceIndex, lowered.Get());
}

bool IsRefusedInfText(const ProtectedPlaces& places, const wchar_t* text, DWORD* error, const char** reason)
{
    *error = ERROR_ACCESS_DENIED;
    int significant = 0;
    for (const wchar_t* c = text; *c != 0; ++c)
        significant += iswspace(*c) ? 0 : 1;
    if (significant < 4) {
        *reason = "an INF text shorter than four characters, which many INF files hold";
        return true;
    }
    if (IsInfWordsOnly(text) || IsSetupClass(text)) {
        *reason = "an INF section, key or setup class that every INF file of its kind holds";
        return true;
    }
    zqString needle;
    if (!needle.Assign(text) || needle.length == 0)
        return false;  // no single-byte text: the INF phase passes it over
    ReadSystemInfs(places);
    if (!places.infs.whole) {
        *reason = "the system's own INF files cannot all be read, so no text can be told apart from theirs";
        return true;
    }
    for (int i = 0; i < places.infs.texts.count; ++i) {
        if (strstr(places.infs.texts.At(i)->Get(), needle.Get()) != nullptr) {
            *reason = "a text that the system's own INF files hold";
            return true;
        }
    }
    return false;
}
