// The [registry] entries: "ROOT\key path" removes a key with everything below it,
// "ROOT\key path:value name" one value ("ROOT\key path:" the unnamed default value).
#include <windows.h>
#include <wchar.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "foundation/Handles.h"
#include "launcher/RunLog.h"
#include "registry/RegistryPrimitives.h"
#include "script/CleanScript.h"

namespace {

// A key path of backslashes only (or none) names the root itself.
bool NamesWholeRoot(const wchar_t* keyPath)
{
    for (; *keyPath != 0; ++keyPath) {
        if (*keyPath != L'\\')
            return false;
    }
    return true;
}

// Returns true when a key was removed.
bool RemoveKeyEntry(const wchar_t* entry, HKEY root, const wchar_t* keyPath)
{
    if (NamesWholeRoot(keyPath)) {
        // Emptying a whole hive is never what a script means.
        WriteLog(0, "K: %S...", entry);
        return WriteItemOutcome(false, ERROR_ACCESS_DENIED);
    }
    {
        RegKey probe;
        if (RegOpenKeyW(root, keyPath, probe.Put()) != ERROR_SUCCESS)
            return false;  // not present: no line
    }
    WriteLog(0, "K: %S...", entry);
    bool done = DeleteKeyTreeW(root, keyPath) != FALSE;
    return WriteItemOutcome(done, GetLastError());
}

// Returns true when a value was removed.
bool RemoveValueEntry(const wchar_t* entry, HKEY root, const wchar_t* keyPath,
                      const wchar_t* valueName)
{
    {
        RegKey probe;
        if (RegOpenKeyW(root, keyPath, probe.Put()) != ERROR_SUCCESS)
            return false;
        if (RegQueryValueExW(probe.Get(), valueName, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return false;
    }
    WriteLog(0, "V: %S...", entry);
    RegKey key;
    LONG result = RegOpenKeyW(root, keyPath, key.Put());
    if (result == ERROR_SUCCESS)
        result = RegDeleteValueW(key.Get(), valueName);
    key.Close();
    return WriteItemOutcome(result == ERROR_SUCCESS, static_cast<unsigned long>(result));
}

}  // namespace

bool RegistryPhase(zqCleanScript& script)
{
    WriteLog(1, "Delete registry keys(%i):\n", script.registry.count);
    int removed = 0;
    for (int i = 0; i < script.registry.count; ++i) {
        const zqWString* item = script.registry.At(i);
        const wchar_t* entry = item != nullptr ? item->Get() : L"";
        // The root name is upper-cased in place, so it is looked up in a copy and the log
        // shows the entry as written.
        HeapBlock copy(_wcsdup(entry));
        if (copy.Valid()) {
            wchar_t* text = static_cast<wchar_t*>(copy.Get());
            wchar_t* separator = wcschr(text, L'\\');
            if (separator != nullptr) {
                *separator = 0;
                HKEY root = RootKeyFromName(text);
                if (root != nullptr) {
                    wchar_t* keyPath = separator + 1;
                    wchar_t* colon = wcschr(keyPath, L':');
                    bool done;
                    if (colon == nullptr) {
                        done = RemoveKeyEntry(entry, root, keyPath);
                    } else {
                        *colon = 0;
                        done = RemoveValueEntry(entry, root, keyPath, colon + 1);
                    }
                    if (done)
                        ++removed;
                }
            }
        }
        if (StopRequested())
            break;
    }
    WriteLog(1, "%i registry keys are deleted\n", removed);
    return !StopRequested();
}
