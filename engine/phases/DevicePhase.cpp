// The [devices] entries, "ENUMERATOR\REST": the device keys below the enumerator whose
// identifier begins with REST, and their device interface keys in every interface class.
#include <windows.h>
#include <wchar.h>

#include <new>

#include "phases/DeviceKeys.h"
#include "guard/Guard.h"
#include "phases/PhaseSources.h"
#include "foundation/Handles.h"
#include "foundation/StringList.h"
#include "registry/RegistryKey.h"
#include "script/CleanScript.h"

namespace {

const wchar_t kDeviceClasses[] = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";

// The names of the subkeys of a key below HKEY_LOCAL_MACHINE; none when it is not there.
void ListSubkeys(const wchar_t* path, StringList* names)
{
    RegKey key;
    if (OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, &key).ok)
        SubkeyNames(key.Get(), names);
}

wchar_t AsciiUpper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

void UpperCase(wchar_t* text)
{
    for (; text != nullptr && *text != 0; ++text)
        *text = AsciiUpper(*text);
}

// Whether name, upper-cased, begins with the upper-case prefix.
bool BeginsWith(const wchar_t* name, const wchar_t* prefix, size_t prefixLength)
{
    for (size_t i = 0; i < prefixLength; ++i) {
        if (name[i] == 0 || AsciiUpper(name[i]) != prefix[i])
            return false;
    }
    return true;
}

// Per interface class that has interface keys: element 0 is the class key path, the others
// the names of its interface keys.
void ReadInterfaceClasses(zqList<StringList>& classes)
{
    StringList classNames;
    ListSubkeys(kDeviceClasses, &classNames);
    zqWString classPath;
    for (int i = 0; i < classNames.count; ++i) {
        StringList* list = new (std::nothrow) StringList;
        if (list == nullptr || !FormatInto(classPath, L"%s\\%s", kDeviceClasses, classNames.At(i)->Get())) {
            delete list;
            continue;
        }
        AppendEntry(*list, classPath.Get());
        ListSubkeys(classPath.Get(), list);
        if (list->count > 1)
            classes.AppendOwned(list);
        else
            delete list;
    }
}

// Appends the key at folder\name.
void AppendKey(StringList& keys, const wchar_t* folder, const wchar_t* name)
{
    zqWString key;
    if (FormatInto(key, L"%s\\%s", folder, name))
        AppendEntry(keys, key.Get());
}

}  // namespace

bool FindDeviceKeys(const zqCleanScript& script, StringList& keys)
{
    zqList<StringList> classes;
    ReadInterfaceClasses(classes);

    bool found = false;
    zqWString entry, written, enumeratorPath, pattern;
    for (int i = 0; i < script.devices.count; ++i) {
        if (!entry.Assign(script.devices.At(i)->Get()) || entry.buffer == nullptr)
            continue;  // empty
        wchar_t* separator = wcschr(entry.buffer, L'\\');
        // Without an enumerator the Enum key itself would be searched, and the enumerators
        // below it taken for devices: a stray "\\" line would remove them all.
        if (separator == nullptr || separator == entry.buffer)
            continue;
        *separator = 0;
        const wchar_t* enumerator = entry.buffer;
        wchar_t* rest = separator + 1;
        if (!written.Assign(rest) || !FormatInto(enumeratorPath, L"SYSTEM\\CurrentControlSet\\Enum\\%s", enumerator))
            continue;
        UpperCase(rest);
        size_t restLength = wcslen(rest);
        // On an enumerator that the system and every other product share, an entry names one
        // whole device id: a shorter one would take every device whose id begins so.
        bool shared = IsSharedEnumerator(enumerator);

        // A blank device id takes the whole enumerator. On an enumerator that the system and
        // every other product share, the entry stands for that enumerator's key, which the
        // guard refuses.
        if (wcsspn(rest, L" \t") == restLength) {
            rest[0] = 0;
            restLength = 0;
            if (shared) {
                AppendEntry(keys, enumeratorPath.Get());
                found = true;
                continue;
            }
        }
        StringList deviceNames;
        ListSubkeys(enumeratorPath.Get(), &deviceNames);
        bool whole = false, partial = false;
        for (int k = 0; k < deviceNames.count; ++k) {
            const wchar_t* name = deviceNames.At(k)->Get();
            if (!BeginsWith(name, rest, restLength))
                continue;
            if (shared && name[restLength] != 0) {
                partial = true;
                continue;
            }
            AppendKey(keys, enumeratorPath.Get(), name);
            found = whole = true;
        }
        // Only part of a device id: the entry stands for that key, which the guard refuses.
        if (partial && !whole) {
            AppendKey(keys, enumeratorPath.Get(), written.Get());
            found = true;
            continue;
        }

        if (classes.count == 0 || !FormatInto(pattern, shared ? L"##?#%s#%s#" : L"##?#%s#%s", enumerator, rest))
            continue;
        UpperCase(pattern.buffer);
        size_t patternLength = static_cast<size_t>(pattern.length);
        for (int c = 0; c < classes.count; ++c) {
            const StringList* list = classes.At(c);
            const wchar_t* classPath = list->At(0)->Get();
            for (int k = 1; k < list->count; ++k) {
                const wchar_t* name = list->At(k)->Get();
                if (BeginsWith(name, pattern.Get(), patternLength)) {
                    AppendKey(keys, classPath, name);
                    found = true;
                }
            }
        }
    }
    return found;
}

void OfferDeviceKeys(RunContext& run, PhaseRun& phase)
{
    StringList& keys = run.lists.deviceKeys;
    if (!FindDeviceKeys(*run.script, keys))
        return;
    CountItems(phase, keys.count);  // its items are the keys found
    for (int i = 0; i < keys.count; ++i) {
        ReachItem(phase, i);
        const wchar_t* keyPath = keys.At(i)->Get();
        Target target = {TargetKind::DeviceKey, keyPath, HKEY_LOCAL_MACHINE};
        target.shown = keyPath;
        if (!OfferTarget(phase, target))
            return;
    }
}
