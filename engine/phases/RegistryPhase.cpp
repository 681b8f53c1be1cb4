// Registry: "ROOT\key path" removes a key with everything below it, "ROOT\key path:value name"
// one value ("ROOT\key path:" the unnamed default value). Only keys and values that are there
// get a line.
#include <windows.h>
#include <wchar.h>

#include "phases/PhaseSources.h"
#include "foundation/zqString.h"
#include "registry/RegistryKey.h"
#include "registry/RegistryPrimitives.h"
#include "script/CleanScript.h"

namespace {

// Offers one entry, or passes it over when it is malformed or names nothing that is there.
bool OfferEntry(const wchar_t* entry, PhaseRun& phase)
{
    // The root name is upper-cased in place, so it is looked up in a copy; the line shows the
    // entry as written.
    zqWString copy;
    if (!copy.Assign(entry) || copy.buffer == nullptr)
        return PassOver(phase);
    wchar_t* separator = wcschr(copy.buffer, L'\\');
    if (separator == nullptr)
        return PassOver(phase);
    *separator = 0;
    HKEY root = RootKeyFromName(copy.buffer);
    if (root == nullptr)
        return PassOver(phase);
    wchar_t* keyPath = separator + 1;
    wchar_t* colon = wcschr(keyPath, L':');
    Target target = {TargetKind::RegistryKey, keyPath, root};
    target.shown = entry;
    if (colon != nullptr) {
        *colon = 0;
        target.kind = TargetKind::RegistryValue;
        target.valueName = colon + 1;
    }
    if (!Probe(root, keyPath, target.valueName).ok)
        return PassOver(phase);
    return OfferTarget(phase, target);
}

}  // namespace

void OfferRegistryEntries(RunContext& run, PhaseRun& phase)
{
    const zqList<zqWString>& entries = run.script->registry;
    for (int i = 0; i < entries.count; ++i) {
        ReachItem(phase, i);
        if (!OfferEntry(entries.At(i)->Get(), phase))
            return;
    }
}
