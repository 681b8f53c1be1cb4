// Files: every copy of each [files] entry (and each [maskedfiles] match) found through the
// system's search order and in each search directory.
#include <windows.h>
#include <wchar.h>

#include "platform/LocalPlace.h"
#include "platform/Paths.h"
#include "platform/Search.h"
#include "guard/Guard.h"
#include "phases/PhaseSources.h"
#include "phases/TargetExpansion.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"

namespace {

// The entry as written decides, not the path found.
bool IsActiveXControl(const wchar_t* entry)
{
    size_t length = wcslen(entry);
    return length > 4 && _wcsicmp(entry + length - 4, L".ocx") == 0;
}

// Offers every copy of one entry: pass 0 takes the system's default search order, pass p the
// search directory p - 1. False when the phase must stop.
bool OfferCopies(const RunLists& lists, const wchar_t* entry, PhaseRun& phase)
{
    bool activeX = IsActiveXControl(entry);
    // The copy processed last for this entry: a lookup that finds it again is skipped.
    zqWString last, full;
    for (int pass = 0; pass <= lists.searchDirs.count; ++pass) {
        const wchar_t* directory = pass > 0 ? lists.searchDirs.At(pass - 1)->Get() : nullptr;
        HeapBlock found(SearchPathAlloc(directory, entry));
        // The search takes no path beyond 260 characters; a full path of that length is taken as
        // it stands.
        if (!found.Valid() && pass == 0 && FullPath(entry, &full) && full.length >= MAX_PATH && PathIsThere(full.Get()))
            found.Reset(_wcsdup(full.Get()));
        // A full path on another machine is refused as it is written, whether it answers or not.
        if (!found.Valid() && pass == 0 && FullPath(entry, &full) && IsNetworkPath(full.Get(), nullptr))
            found.Reset(_wcsdup(full.Get()));
        if (!found.Valid())
            continue;
        const wchar_t* path = static_cast<const wchar_t*>(found.Get());
        if (last.length > 0 && _wcsicmp(path, last.Get()) == 0)
            continue;
        Target target = {TargetKind::File, path};
        target.shown = path;
        target.unregisterFirst = activeX;
        bool goOn = OfferTarget(phase, target);
        last.Assign(path);
        if (!goOn)
            return false;
    }
    return true;
}

}  // namespace

PhaseStart StartFiles(RunContext& run)
{
    return ExpandMaskedFiles(*run.script, *run.paths, run.places, run.lists) ? PhaseStart::Go : PhaseStart::EndRun;
}

void OfferFiles(RunContext& run, PhaseRun& phase)
{
    const zqList<zqWString>& files = run.lists.files;
    for (int i = 0; i < files.count; ++i) {
        ReachItem(phase, i);
        if (!OfferCopies(run.lists, files.At(i)->Get(), phase))
            return;
    }
}
