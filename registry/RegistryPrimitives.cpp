#include "registry/RegistryPrimitives.h"

#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "registry/RegistryKey.h"
#include "registry/RegistryLinks.h"

namespace {

// Deletes the values of an open key one by one, whatever the length of their names.
Result RemoveValues(HKEY key, const KeyCounts& counts)
{
    zqWString name;
    if (counts.values > 0 && !name.Reserve(static_cast<int>(counts.longestValueName) + 1))
        return NoMemory();
    for (DWORD i = 0; i < counts.values; ++i) {
        DWORD length = static_cast<DWORD>(name.capacity);
        if (RegEnumValueW(key, 0, name.buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        Result deleted = FromStatus(RegDeleteValueW(key, name.Get()));
        if (!deleted.ok)
            return deleted;
    }
    return Succeeded();
}

// Deletes an emptied key through its own handle. A key goes with its values, so they are only
// deleted one by one when the key itself is refused (the refusal is then reported, as it would
// have been after the values); a link is never stripped of the value that makes it one.
Result DeleteEmptiedKey(HKEY key)
{
    Result deleted = FromStatus(DeleteOpenKey(key));
    if (deleted.ok || IsLinkKey(key))
        return deleted;
    KeyCounts counts;
    CountsOf(key, &counts);
    Result emptied = RemoveValues(key, counts);
    return emptied.ok ? FromStatus(DeleteOpenKey(key)) : emptied;
}

// Removes every subkey of an open key, deepest keys first. Every key is opened as it is, so a
// link below is a key without subkeys of its own, deleted as itself: the key it names is never
// entered. Children are opened and deleted through the handle in hand rather than by their full
// path from the root: the same keys in the same order, without walking the path again for every
// key, and at any depth.
Result RemoveSubkeys(HKEY key, REGSAM view)
{
    KeyCounts counts;
    CountsOf(key, &counts);
    zqWString name;
    if (counts.subkeys > 0 && !name.Reserve(static_cast<int>(counts.longestSubkey) + 1))
        return NoMemory();
    // Index 0 every time: each successful round removes the first subkey.
    for (DWORD i = 0; i < counts.subkeys; ++i) {
        DWORD length = static_cast<DWORD>(name.capacity);
        if (RegEnumKeyExW(key, 0, name.buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        RegKey child;
        Result opened = FromStatus(OpenKeyAsItIs(key, name.Get(), MAXIMUM_ALLOWED | view, child.Put()));
        if (!opened.ok)
            return opened;
        // A key that stays (a subkey that could not be enumerated, a refused deletion) is a
        // failure, not a success.
        Result removed = RemoveSubkeys(child.Get(), view);
        if (!removed.ok)
            return removed;
        removed = DeleteEmptiedKey(child.Get());
        if (!removed.ok)
            return removed;
    }
    return Succeeded();
}

}  // namespace

bool IsRootKeyPath(const wchar_t* path)
{
    // Empty, or backslashes only: the root itself.
    return path == nullptr || path[wcsspn(path, L"\\")] == 0;
}

namespace {

// The key a removal takes, opened as it is: never a root itself.
Result OpenForRemoval(HKEY root, const wchar_t* path, REGSAM view, RegKey* key)
{
    if (IsRootKeyPath(path))
        return FailedBy(ERROR_ACCESS_DENIED);
    return FromStatus(OpenKeyAsItIs(root, path, MAXIMUM_ALLOWED | view, key->Put()));
}

}  // namespace

Result DeleteKeyTree(HKEY root, const wchar_t* path, REGSAM view)
{
    RegKey key;
    Result opened = OpenForRemoval(root, path, view, &key);
    if (!opened.ok)
        return opened;
    // A key directly below the root is emptied and kept; a link there has nothing of its own to
    // empty, and is not stripped of what makes it one.
    const wchar_t* first = path + wcsspn(path, L"\\");
    const wchar_t* after = first + wcscspn(first, L"\\");
    bool belowRoot = after[wcsspn(after, L"\\")] == 0;
    if (belowRoot && IsLinkKey(key.Get()))
        return FailedBy(ERROR_ACCESS_DENIED);
    Result removed = RemoveSubkeys(key.Get(), view);
    if (!removed.ok)
        return removed;
    if (!belowRoot)
        return DeleteEmptiedKey(key.Get());
    KeyCounts counts;
    CountsOf(key.Get(), &counts);
    return RemoveValues(key.Get(), counts);
}

Result DeleteKeyAlone(HKEY root, const wchar_t* path, REGSAM view)
{
    RegKey key;
    Result opened = OpenForRemoval(root, path, view, &key);
    if (!opened.ok)
        return opened;
    KeyCounts counts;
    CountsOf(key.Get(), &counts);
    return counts.subkeys > 0 ? FailedBy(ERROR_ACCESS_DENIED) : FromStatus(DeleteOpenKey(key.Get()));
}

Result DeleteValue(HKEY root, const wchar_t* path, const wchar_t* valueName, REGSAM view)
{
    RegKey key;
    Result opened = OpenKey(root, path, KEY_SET_VALUE, &key, view);
    return opened.ok ? FromStatus(RegDeleteValueW(key.Get(), valueName)) : opened;
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
