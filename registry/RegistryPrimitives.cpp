#include "registry/RegistryPrimitives.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "registry/RegistryLinks.h"

namespace {

// A subkey name of the longest length the registry allows, plus its terminator.
const DWORD kNameChars = 256;

// The registry functions return their error instead of setting it; the callers log the
// thread's last error, so it is stored there.
BOOL FailWith(LONG error)
{
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
}

// Counts of subkeys and values, and the longest value name (in characters, without its
// terminator: up to 16,383).
void CountsOf(HKEY key, DWORD* subkeys, DWORD* values, DWORD* longestValueName = nullptr)
{
    DWORD longest = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subkeys, nullptr, nullptr,
                                   values, &longest, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
        *subkeys = *values = longest = 0;
    if (longestValueName != nullptr)
        *longestValueName = longest;
}

// Deletes the values of an open key one by one, whatever the length of their names.
BOOL RemoveValuesW(HKEY key)
{
    DWORD subkeys, values, longest;
    CountsOf(key, &subkeys, &values, &longest);
    HeapBlock block(malloc((longest + 1) * sizeof(wchar_t)));
    wchar_t* name = static_cast<wchar_t*>(block.Get());
    if (values > 0 && name == nullptr)
        return FailWith(ERROR_NOT_ENOUGH_MEMORY);
    for (DWORD i = 0; i < values; ++i) {
        DWORD length = longest + 1;
        if (RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            continue;
        LONG result = RegDeleteValueW(key, name);
        if (result != ERROR_SUCCESS)
            return FailWith(result);
    }
    return TRUE;
}

// Deletes an emptied key through its own handle. A key goes with its values, so they are only
// deleted one by one when the key itself is refused (the refusal is then reported, as it would
// have been after the values); a link is never stripped of the value that makes it one.
BOOL DeleteEmptiedKeyW(HKEY key)
{
    LONG result = DeleteOpenKey(key);
    if (result == ERROR_SUCCESS)
        return TRUE;
    if (IsLinkKey(key))
        return FailWith(result);
    if (!RemoveValuesW(key))
        return FALSE;
    result = DeleteOpenKey(key);
    return result == ERROR_SUCCESS ? TRUE : FailWith(result);
}

// Removes every subkey of an open key, deepest keys first. Every key is opened as it is, so a
// link below is a key without subkeys of its own, deleted as itself: the key it names is never
// entered. Children are opened and deleted through the handle in hand rather than by their full
// path from the root: the same keys in the same order, without walking the path again for every
// key, and at any depth.
BOOL RemoveSubkeysW(HKEY key)
{
    DWORD subkeys, values;
    CountsOf(key, &subkeys, &values);
    // Index 0 every time: each successful round removes the first subkey.
    for (DWORD i = 0; i < subkeys; ++i) {
        wchar_t name[kNameChars];
        if (RegEnumKeyW(key, 0, name, kNameChars) != ERROR_SUCCESS)
            continue;
        RegKey child;
        LONG result = OpenKeyAsItIs(key, name, MAXIMUM_ALLOWED, child.Put());
        if (result != ERROR_SUCCESS)
            return FailWith(result);
        // A key that stays (a subkey that could not be enumerated, a refused deletion) is a
        // failure, not a success.
        if (!RemoveSubkeysW(child.Get()) || !DeleteEmptiedKeyW(child.Get()))
            return FALSE;
    }
    return TRUE;
}

}  // namespace

bool IsRootKeyPath(const wchar_t* path)
{
    // Empty, or backslashes only: the root itself.
    return path == nullptr || path[wcsspn(path, L"\\")] == 0;
}

BOOL DeleteKeyTreeW(HKEY root, const wchar_t* path)
{
    if (IsRootKeyPath(path))
        return FailWith(ERROR_ACCESS_DENIED);
    RegKey key;
    LONG result = OpenKeyAsItIs(root, path, MAXIMUM_ALLOWED, key.Put());
    if (result != ERROR_SUCCESS)
        return FailWith(result);
    // A key directly below the root is emptied and kept; a link there has nothing of its own to
    // empty, and is not stripped of what makes it one.
    const wchar_t* first = path + wcsspn(path, L"\\");
    const wchar_t* after = first + wcscspn(first, L"\\");
    bool belowRoot = after[wcsspn(after, L"\\")] == 0;
    if (belowRoot && IsLinkKey(key.Get()))
        return FailWith(ERROR_ACCESS_DENIED);
    if (!RemoveSubkeysW(key.Get()))
        return FALSE;
    return belowRoot ? RemoveValuesW(key.Get()) : DeleteEmptiedKeyW(key.Get());
}

BOOL DeleteKeyAloneW(HKEY root, const wchar_t* path)
{
    if (IsRootKeyPath(path))
        return FailWith(ERROR_ACCESS_DENIED);
    RegKey key;
    LONG result = OpenKeyAsItIs(root, path, MAXIMUM_ALLOWED, key.Put());
    if (result == ERROR_SUCCESS) {
        DWORD subkeys, values;
        CountsOf(key.Get(), &subkeys, &values);
        result = subkeys > 0 ? ERROR_ACCESS_DENIED : DeleteOpenKey(key.Get());
    }
    return result == ERROR_SUCCESS ? TRUE : FailWith(result);
}

bool ReadStringValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, zqWString* text)
{
    RegKey key;
    DWORD type = 0, size = 0;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    int units = static_cast<int>(size / sizeof(wchar_t));
    if (!text->Reserve(units + 1))
        return false;
    DWORD got = static_cast<DWORD>(units) * sizeof(wchar_t);
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(text->buffer), &got) !=
            ERROR_SUCCESS ||
        got > static_cast<DWORD>(units) * sizeof(wchar_t))
        return false;
    text->buffer[got / sizeof(wchar_t)] = 0;
    text->length = static_cast<int>(wcslen(text->buffer));
    return true;
}

int ListSubkeyNamesA(const char* path, char*** names)
{
    *names = nullptr;
    RegKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path, key.Put()) != ERROR_SUCCESS)
        return 0;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        subkeys = 0;
    if (subkeys == 0)
        return 0;
    char** array = static_cast<char**>(malloc(subkeys * sizeof(char*)));
    if (array == nullptr)
        return 0;
    *names = array;
    int stored = 0;
    for (DWORD i = 0; i < subkeys; ++i) {
        char name[kNameChars];
        if (RegEnumKeyA(key.Get(), i, name, kNameChars) != ERROR_SUCCESS)
            continue;
        char* copy = _strdup(name);
        if (copy != nullptr)
            array[stored++] = copy;
    }
    return stored;
}

HKEY RootKeyFromName(wchar_t* name)
{
    if (name == nullptr)
        return nullptr;
    // Only ASCII letters change, so no other letter can turn into a root name.
    for (wchar_t* c = name; *c != 0; ++c) {
        if (*c >= L'a' && *c <= L'z')
            *c = static_cast<wchar_t>(*c - L'a' + L'A');
    }
    static const struct {
        const wchar_t* name;
        HKEY root;
    } roots[] = {
        {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKEY_USERS", HKEY_USERS},
        {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const auto& entry : roots) {
        if (wcscmp(name, entry.name) == 0)
            return entry.root;
    }
    return nullptr;
}
