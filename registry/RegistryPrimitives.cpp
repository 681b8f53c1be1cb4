#include "registry/RegistryPrimitives.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"

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

BOOL RemoveSubkeysW(HKEY key);

// Deletes the emptied key name below parent. A key goes with its values, so they are only
// deleted one by one when the key itself is refused (the refusal is then reported, as it
// would have been after the values).
BOOL DeleteEmptiedKeyW(HKEY parent, const wchar_t* name)
{
    LONG result = RegDeleteKeyW(parent, name);
    if (result == ERROR_SUCCESS)
        return TRUE;
    RegKey key;
    if (RegOpenKeyW(parent, name, key.Put()) == ERROR_SUCCESS && !RemoveValuesW(key.Get()))
        return FALSE;
    key.Close();
    result = RegDeleteKeyW(parent, name);
    return result == ERROR_SUCCESS ? TRUE : FailWith(result);
}

// Removes every subkey of an open key, deepest keys first. Children are opened and deleted
// through the handle in hand rather than by their full path from the root: the same keys in
// the same order, without walking the path again for every key, and at any depth.
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
        LONG result = RegOpenKeyW(key, name, child.Put());
        if (result != ERROR_SUCCESS)
            return FailWith(result);
        if (!RemoveSubkeysW(child.Get()))
            return FALSE;
        child.Close();
        // A key that stays (a subkey that could not be enumerated, a refused deletion) is a
        // failure, not a success.
        if (!DeleteEmptiedKeyW(key, name))
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
    LONG result = RegOpenKeyW(root, path, key.Put());
    if (result != ERROR_SUCCESS)
        return FailWith(result);
    if (!RemoveSubkeysW(key.Get()))
        return FALSE;

    HeapBlock copy(_wcsdup(path));
    wchar_t* parentPath = static_cast<wchar_t*>(copy.Get());
    wchar_t* last = copy.Valid() ? wcsrchr(parentPath, L'\\') : nullptr;
    // A key directly below the root is emptied and kept (and so is one whose parent path
    // cannot be formed for want of memory).
    if (last == nullptr)
        return RemoveValuesW(key.Get());
    key.Close();
    *last = 0;
    RegKey parent;
    result = RegOpenKeyW(root, parentPath, parent.Put());
    if (result != ERROR_SUCCESS)
        return FailWith(result);
    return DeleteEmptiedKeyW(parent.Get(), last + 1);
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
