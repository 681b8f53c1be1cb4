// .NET assemblies: each [.NET] entry is removed from the global assembly cache by the
// launcher's gacutil.exe.
#include "phases/PhaseSources.h"
#include "script/CleanScript.h"

void OfferAssemblies(RunContext& run, PhaseRun& phase)
{
    const zqList<zqWString>& assemblies = run.script->dotNet;
    for (int i = 0; i < assemblies.count; ++i) {
        ReachItem(phase, i);
        const wchar_t* assembly = assemblies.At(i)->Get();
        if (assembly[0] == 0)
            continue;
        Target target = {TargetKind::Assembly, assembly};
        target.shown = assembly;
        if (!OfferTarget(phase, target))
            return;
    }
}
