// The [devices] entries, "ENUMERATOR\REST": the device keys below the enumerator whose
// identifier begins with REST, and their device interface keys in every interface class.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "phases/DeviceKeys.h"
#include "guard/Guard.h"
#include "phases/PhaseSources.h"
#include "foundation/Handles.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "registry/RegistryPrimitives.h"
#include "script/CleanScript.h"

namespace {

const char kDeviceClasses[] = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";
// The path buffers of the device search; a path that does not fit is not used.
const size_t kClassPathBytes = 256, kEnumeratorPathBytes = 256, kPatternBytes = 256;
const size_t kDeviceKeyBytes = 512, kInterfaceKeyBytes = 1024;

struct SubkeyNames {
    char** names = nullptr;
    int count = 0;

    explicit SubkeyNames(const char* path) { count = ListSubkeyNamesA(path, &names); }
    ~SubkeyNames()
    {
        for (int i = 0; i < count; ++i)
            free(names[i]);
        free(names);
    }
    SubkeyNames(const SubkeyNames&) = delete;
    SubkeyNames& operator=(const SubkeyNames&) = delete;
};

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

void UpperCase(char* text)
{
    for (; *text != 0; ++text)
        *text = AsciiUpper(*text);
}

// Whether name, upper-cased, begins with the upper-case prefix.
bool BeginsWith(const char* name, const char* prefix, size_t prefixLength)
{
    for (size_t i = 0; i < prefixLength; ++i) {
        if (name[i] == 0 || AsciiUpper(name[i]) != prefix[i])
            return false;
    }
    return true;
}

// Per interface class that has interface keys: element 0 is the class key path, the others
// the names of its interface keys.
void ReadInterfaceClasses(zqList<zqList<zqString>>& classes)
{
    SubkeyNames classNames(kDeviceClasses);
    for (int i = 0; i < classNames.count; ++i) {
        char classPath[kClassPathBytes];
        // A cut path would name another class key.
        if (FormatA(classPath, sizeof classPath, "%s\\%s", kDeviceClasses,
                    classNames.names[i]) < 0)
            continue;
        SubkeyNames interfaces(classPath);
        if (interfaces.count == 0)
            continue;
        zqList<zqString>* list = new (std::nothrow) zqList<zqString>;
        if (list == nullptr)
            continue;
        zqString text;
        text.Assign(classPath);
        list->Append(text);
        for (int k = 0; k < interfaces.count; ++k) {
            text.Assign(interfaces.names[k]);
            list->Append(text);
        }
        classes.AppendOwned(list);
    }
}

void AppendKey(zqList<zqString>& keys, const char* keyPath)
{
    zqString key;
    key.Assign(keyPath);
    keys.Append(key);
}

}  // namespace

bool FindDeviceKeys(const zqCleanScript& script, zqList<zqString>& keys)
{
    zqList<zqList<zqString>> classes;
    ReadInterfaceClasses(classes);

    bool found = false;
    for (int i = 0; i < script.devices.count; ++i) {
        const zqWString* device = script.devices.At(i);
        if (device == nullptr)
            continue;
        zqString entry;
        if (!entry.Assign(device->Get()) || entry.buffer == nullptr)
            continue;  // not convertible, or empty
        char* separator = strchr(entry.buffer, '\\');
        // Without an enumerator the Enum key itself would be searched, and the enumerators
        // below it taken for devices: a stray "\\" line would remove them all.
        if (separator == nullptr || separator == entry.buffer)
            continue;
        *separator = 0;
        const char* enumerator = entry.buffer;
        char* rest = separator + 1;
        zqString written;
        written.Assign(rest);
        UpperCase(rest);
        size_t restLength = strlen(rest);
        zqWString wideEnumerator;
        // On an enumerator that the system and every other product share, an entry names one
        // whole device id: a shorter one would take every device whose id begins so.
        bool shared = !wideEnumerator.Assign(enumerator) || IsSharedEnumerator(wideEnumerator.Get());

        // Cut paths and patterns would name other keys; such an entry finds nothing there.
        char enumeratorPath[kEnumeratorPathBytes];
        bool pathFits = FormatA(enumeratorPath, sizeof enumeratorPath, "SYSTEM\\CurrentControlSet\\Enum\\%s",
                                enumerator) >= 0;
        // A blank device id takes the whole enumerator. On an enumerator that the system and
        // every other product share, the entry stands for that enumerator's key, which the
        // guard refuses.
        if (strspn(rest, " \t") == restLength) {
            rest[0] = 0;
            restLength = 0;
            if (shared) {
                if (pathFits) {
                    AppendKey(keys, enumeratorPath);
                    found = true;
                }
                continue;
            }
        }
        if (pathFits) {
            SubkeyNames deviceNames(enumeratorPath);
            bool whole = false, partial = false;
            for (int k = 0; k < deviceNames.count; ++k) {
                const char* name = deviceNames.names[k];
                if (!BeginsWith(name, rest, restLength))
                    continue;
                if (shared && name[restLength] != 0) {
                    partial = true;
                    continue;
                }
                char keyPath[kDeviceKeyBytes];
                if (FormatA(keyPath, sizeof keyPath, "%s\\%s", enumeratorPath, name) < 0)
                    continue;
                AppendKey(keys, keyPath);
                found = whole = true;
            }
            // Only part of a device id: the entry stands for that key, which the guard refuses.
            if (partial && !whole) {
                char keyPath[kDeviceKeyBytes];
                if (FormatA(keyPath, sizeof keyPath, "%s\\%s", enumeratorPath, written.Get()) >= 0) {
                    AppendKey(keys, keyPath);
                    found = true;
                }
                continue;
            }
        }

        if (classes.count == 0)
            continue;
        char pattern[kPatternBytes];
        if (FormatA(pattern, sizeof pattern, shared ? "##?#%s#%s#" : "##?#%s#%s", enumerator, rest) < 0)
            continue;
        UpperCase(pattern);
        size_t patternLength = strlen(pattern);
        for (int c = 0; c < classes.count; ++c) {
            const zqList<zqString>* list = classes.At(c);
            const char* classPath = list->At(0)->Get();
            for (int k = 1; k < list->count; ++k) {
                const char* name = list->At(k)->Get();
                if (!BeginsWith(name, pattern, patternLength))
                    continue;
                char keyPath[kInterfaceKeyBytes];
                if (FormatA(keyPath, sizeof keyPath, "%s\\%s", classPath, name) < 0)
                    continue;
                AppendKey(keys, keyPath);
                found = true;
            }
        }
    }
    return found;
}

void OfferDeviceKeys(RunContext& run, PhaseRun& phase)
{
    zqList<zqString>& keys = run.lists.deviceKeys;
    if (!FindDeviceKeys(*run.script, keys))
        return;
    CountItems(phase, keys.count);  // its items are the keys found
    zqWString keyPath;
    for (int i = 0; i < keys.count; ++i) {
        ReachItem(phase, i);
        if (!keyPath.Assign(keys.At(i)->Get()))
            continue;
        Target target = {TargetKind::DeviceKey, keyPath.Get(), HKEY_LOCAL_MACHINE};
        target.shown = keyPath.Get();
        if (!OfferTarget(phase, target))
            return;
    }
}
