// Files: every copy of each [files] entry (and each [maskedfiles] match) found through the
// system's search order and in each search directory.
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "platform/FolderListing.h"
#include "platform/LocalPlace.h"
#include "platform/Paths.h"
#include "platform/Search.h"
#include "guard/Guard.h"
#include "phases/PhaseSources.h"
#include "phases/TargetExpansion.h"
#include "foundation/Handles.h"
#include "foundation/HeapArray.h"
#include "foundation/zqString.h"

namespace {

// The entry as written decides, not the path found.
bool IsActiveXControl(const wchar_t* entry)
{
    size_t length = wcslen(entry);
    return length > 4 && _wcsicmp(entry + length - 4, L".ocx") == 0;
}

// A name the search looks for as written, whatever folder it is given: a drive path, or one
// that begins with two separators (a share, a device path). Only pass 0 can find it.
bool IsSearchedAsWritten(const wchar_t* entry)
{
    bool drive = ((entry[0] | 0x20) >= L'a' && (entry[0] | 0x20) <= L'z') && entry[1] == L':' &&
                 (entry[2] == L'\\' || entry[2] == L'/');
    return drive || ((entry[0] == L'\\' || entry[0] == L'/') && (entry[1] == L'\\' || entry[1] == L'/'));
}

// Offers every copy of one entry: pass 0 takes the system's default search order, pass p the
// search directory p - 1, which its listing may show to hold no such name without a search.
// False when the phase must stop.
bool OfferCopies(RunContext& run, const wchar_t* entry, FolderListing* const* listings, PhaseRun& phase)
{
    bool activeX = IsActiveXControl(entry);
    int passes = IsSearchedAsWritten(entry) ? 0 : run.lists.searchDirs.count;
    // The copy processed last for this entry: a lookup that finds it again is skipped.
    zqWString last, full;
    for (int pass = 0; pass <= passes; ++pass) {
        const wchar_t* directory = pass > 0 ? run.lists.searchDirs.At(pass - 1)->Get() : nullptr;
        const FolderListing* listing = pass > 0 && listings != nullptr ? listings[pass - 1] : nullptr;
        if (listing != nullptr && !run.lists.searchListings.stale && !MayHoldName(*listing, entry))
            continue;
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
        // The control's own unregistration may have written files anywhere.
        run.lists.searchListings.stale = run.lists.searchListings.stale || activeX;
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
    const zqList<zqWString>& searchDirs = run.lists.searchDirs;
    if (files.count == 0)
        return;
    // Every search folder listed once (the masks' listings serve again): a name is searched for
    // only where its folder's listing cannot rule it out. Without memory for them, everywhere.
    HeapArray<FolderListing*> block(static_cast<size_t>(searchDirs.count) + 1);
    FolderListing** listings = block.Get();
    for (int d = 0; listings != nullptr && d < searchDirs.count; ++d)
        listings[d] = ListingOf(run.lists.searchListings, searchDirs.At(d)->Get());
    for (int i = 0; i < files.count; ++i) {
        ReachItem(phase, i);
        if (!OfferCopies(run, files.At(i)->Get(), listings, phase))
            return;
    }
}
