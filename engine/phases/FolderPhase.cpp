// Folders: each [folders] entry (and its 32-bit twin) with everything below it. Only a full path
// is taken, made absolute and plain; anything else would be looked up along the search order, which
// lands on system folders.
#include "platform/LocalPlace.h"
#include "platform/Paths.h"
#include "guard/Guard.h"
#include "phases/PhaseSources.h"

void OfferFolders(RunContext& run, PhaseRun& phase)
{
    const zqList<zqWString>& folders = run.lists.folders;
    zqWString full;
    for (int i = 0; i < folders.count; ++i) {
        ReachItem(phase, i);
        const wchar_t* entry = folders.At(i)->Get();
        Target target = {TargetKind::Folder, entry};
        target.shown = entry;  // no full path: the guard refuses it as written
        if (FullPath(entry, &full)) {
            // Not there: no line; a path on another machine is refused whether it answers or not.
            if (!PathIsThere(full.Get()) && !IsNetworkPath(full.Get(), nullptr))
                continue;
            target.path = target.shown = full.Get();
        } else if (entry[0] == 0) {
            continue;
        }
        if (!OfferTarget(phase, target))
            return;
    }
}
