#include "registry/RegistryKey.h"

#include <wchar.h>

#include "foundation/FillToFit.h"

namespace {

// More than the registry allows a key's name (255 characters).
const int kLongestKeyName = 1024;

}  // namespace

Result OpenKey(HKEY parent, const wchar_t* path, REGSAM access, RegKey* key, REGSAM view, DWORD options)
{
    return FromStatus(RegOpenKeyExW(parent, path != nullptr ? path : L"", options, access | view, key->Put()));
}

Result CountsOf(HKEY key, KeyCounts* counts)
{
    *counts = KeyCounts();
    return FromStatus(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &counts->subkeys, &counts->longestSubkey,
                                       nullptr, &counts->values, &counts->longestValueName, &counts->longestData,
                                       nullptr, nullptr));
}

Result SubkeyNames(HKEY key, StringList* names)
{
    KeyCounts counts;
    Result result = CountsOf(key, &counts);
    zqWString name;
    if (!result.ok || counts.subkeys == 0)
        return result;
    if (!name.Reserve(static_cast<int>(counts.longestSubkey) + 1))
        return NoMemory();
    for (DWORD i = 0;;) {
        DWORD length = static_cast<DWORD>(name.capacity);
        LONG status = RegEnumKeyExW(key, i, name.buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA && name.capacity < kLongestKeyName) {
            // A subkey made meanwhile may have a longer name than the key reported.
            if (!name.Reserve(name.capacity * 2))
                return NoMemory();
            continue;
        }
        if (status == ERROR_NO_MORE_ITEMS)
            return Succeeded();
        if (status != ERROR_SUCCESS)
            return FromStatus(status);
        name.length = static_cast<int>(length);
        int count = names->count;
        AppendEntry(*names, name.Get());
        if (names->count == count)
            return NoMemory();
        ++i;
    }
}

Result Probe(HKEY root, const wchar_t* path, const wchar_t* valueName, REGSAM view)
{
    // Whatever access the key grants: a key that lets its holder do anything at all is there.
    RegKey key;
    Result opened = OpenKey(root, path, MAXIMUM_ALLOWED, &key, view);
    if (!opened.ok || valueName == nullptr)
        return opened;
    return FromStatus(RegQueryValueExW(key.Get(), valueName, nullptr, nullptr, nullptr, nullptr));
}

Result ReadStringValue(HKEY key, const wchar_t* valueName, zqWString* text)
{
    DWORD type = REG_SZ;
    Result read = FillToFit(
        text,
        [&](wchar_t* buffer, DWORD room) {
            DWORD bytes = room * sizeof(wchar_t);
            LONG status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
            if (status == ERROR_MORE_DATA)
                return Filled{static_cast<DWORD>(bytes / sizeof(wchar_t)) + 1, ERROR_SUCCESS};
            if (status != ERROR_SUCCESS)
                return Filled{0, static_cast<DWORD>(status)};
            DWORD units = static_cast<DWORD>(bytes / sizeof(wchar_t));
            // A text stored without its terminator still needs room for one.
            return Filled{units < room ? units : units + 1, ERROR_SUCCESS};
        },
        128);
    if (read.ok && type != REG_SZ && type != REG_EXPAND_SZ) {
        text->Reserve(0);
        return FailedBy(ERROR_INVALID_DATATYPE);
    }
    // The text is what the system's own readers take: up to its first terminator.
    if (read.ok)
        text->length = static_cast<int>(wcslen(text->buffer));
    return read;
}

Result ReadStringValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, zqWString* text, REGSAM view)
{
    RegKey key;
    Result opened = OpenKey(root, keyPath, KEY_QUERY_VALUE, &key, view);
    return opened.ok ? ReadStringValue(key.Get(), valueName, text) : opened;
}

Result ReadNumberValue(HKEY key, const wchar_t* valueName, DWORD* number)
{
    DWORD type = 0, size = sizeof *number;
    LONG status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(number), &size);
    if (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof *number))
        return FailedBy(ERROR_INVALID_DATATYPE);
    return FromStatus(status);
}

bool NativeKeyPath(HKEY root, const wchar_t* path, REGSAM view, zqWString* native)
{
    const wchar_t kSoftware[] = L"SOFTWARE\\";
    const size_t kLength = sizeof kSoftware / sizeof kSoftware[0] - 1;
    if (root == HKEY_LOCAL_MACHINE && view == KEY_WOW64_32KEY && _wcsnicmp(path, kSoftware, kLength) == 0)
        return FormatInto(*native, L"%.*sWow6432Node\\%s", static_cast<int>(kLength), path, path + kLength);
    return native->Assign(path);
}
