// Driver services: the service key of every [drivers] entry, with everything below it.
#include <windows.h>
#include <wchar.h>

#include "phases/PhaseSources.h"
#include "registry/RegistryKey.h"
#include "foundation/zqString.h"
#include "script/CleanScript.h"

void OfferServiceKeys(RunContext& run, PhaseRun& phase)
{
    const zqList<zqWString>& drivers = run.script->drivers;
    zqWString keyPath;
    for (int i = 0; i < drivers.count; ++i) {
        ReachItem(phase, i);
        const wchar_t* name = drivers.At(i)->Get();
        // A name that is empty or made of separators alone would address the Services key.
        if (name[wcsspn(name, L"\\")] == 0)
            continue;
        if (!FormatInto(keyPath, L"SYSTEM\\CurrentControlSet\\Services\\%s", name))
            continue;
        if (!Probe(HKEY_LOCAL_MACHINE, keyPath.Get(), nullptr).ok)
            continue;  // not there: no line
        Target target = {TargetKind::ServiceKey, keyPath.Get(), HKEY_LOCAL_MACHINE};
        target.shown = keyPath.Get();
        if (!OfferTarget(phase, target))
            return;
    }
}
