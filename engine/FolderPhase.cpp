// Folders: each [folders] entry (and its 32-bit twin) with everything below it.
#include "engine/FileSystem.h"
#include "engine/PhaseSources.h"
#include "foundation/Handles.h"
#include "script/CleanScript.h"

void OfferFolders(RunContext& run, PhaseRun& phase)
{
    const zqList<zqWString>& folders = run.script->folders;
    for (int i = 0; i < folders.count; ++i) {
        HeapBlock resolved(SearchPathAlloc(nullptr, folders.At(i)->Get()));
        if (!resolved.Valid())
            continue;  // not there: no line
        const wchar_t* folder = static_cast<const wchar_t*>(resolved.Get());
        Target target = {TargetKind::Folder, folder};
        target.shown = folder;
        if (!OfferTarget(phase, target))
            return;
    }
}
