// Driver packages: every driver-store folder whose name starts with a [drvpackages] entry is
// handed to the driver-install library with the entry's INF in it.
#include <windows.h>
#include <wchar.h>

#include <new>

#include "phases/PhaseSources.h"
#include "foundation/Handles.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "script/CleanScript.h"
#include "platform/ExpandPath.h"
#include "shared/RunLog.h"

namespace {

// Store roots in the order they are searched, and what follows the entry in a folder name.
const struct {
    const wchar_t* root;
    const wchar_t* folderSuffix;
} kStores[] = {
    {L"%SystemRoot%\\system32\\DRVSTORE", L"_"},
    {L"%SystemRoot%\\system32\\DriverStore\\FileRepository", L".inf_"},
};

// The first entry whose folder-name prefix starts the name (case-sensitive), or -1.
int ClaimingEntry(const zqList<zqWString>& prefixes, const wchar_t* name)
{
    for (int i = 0; i < prefixes.count; ++i) {
        const zqWString* prefix = prefixes.At(i);
        if (prefix != nullptr && prefix->length > 0 &&
            wcsncmp(name, prefix->Get(), static_cast<size_t>(prefix->length)) == 0)
            return i;
    }
    return -1;
}

// Offers the packages of one store; false when the phase must stop.
bool OfferStore(const zqList<zqWString>& packages, int store, PhaseRun& phase)
{
    zqWString expanded;
    if (!ExpandPath(kStores[store].root, &expanded).ok)
        return true;

    // The folder-name prefix of each entry, built once for the whole store.
    zqList<zqWString> prefixes;
    for (int i = 0; i < packages.count; ++i) {
        zqWString* prefix = new (std::nothrow) zqWString;
        if (prefix != nullptr && !FormatInto(*prefix, L"%s%s", packages.At(i)->Get(), kStores[store].folderSuffix))
            prefix->Reserve(0);
        prefixes.AppendOwned(prefix);
    }

    zqWString pattern, infPath;
    if (!FormatInto(pattern, L"%s\\*", expanded.Get()))
        return true;
    WIN32_FIND_DATAW found;
    FindHandle listing(FindFirstFileW(pattern.Get(), &found));
    if (!listing.Valid())
        return PassOver(phase);
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        int entry = ClaimingEntry(prefixes, found.cFileName);
        bool goOn;
        if (entry >= 0 && FormatInto(infPath, L"%s\\%s\\%s.inf", expanded.Get(), found.cFileName, packages.At(entry)->Get())) {
            Target target = {TargetKind::DriverPackage, infPath.Get()};
            target.shown = infPath.Get();
            goOn = OfferTarget(phase, target);
        } else {
            goOn = PassOver(phase);
        }
        if (!goOn)
            return false;
    } while (FindNextFileW(listing.Get(), &found));
    return PassOver(phase);
}

}  // namespace

PhaseStart StartDriverPackages(RunContext& run)
{
    switch (LoadDriverLibrary(run.workDir, &run.driverLibrary)) {
    case LibraryLoad::Ready:
        return PhaseStart::Go;
    case LibraryLoad::NotFound:
        WriteLog(1, "Cannot uninstall driver packages (DIFxAPI.dll not found.)\n");
        break;
    case LibraryLoad::Invalid:
        WriteLog(1, "Cannot uninstall driver packages (DIFxAPI.dll version is invalid.)\n");
        break;
    }
    return PhaseStart::Skip;
}

void OfferDriverPackages(RunContext& run, PhaseRun& phase)
{
    // Its items are the two stores: what a store holds is known only as it is listed.
    CountItems(phase, 2);
    for (int store = 0; store < 2; ++store) {
        ReachItem(phase, store);
        if (!OfferStore(run.script->drvPackages, store, phase))
            return;
    }
}

void FinishDriverPackages(RunContext& run)
{
    ReleaseDriverLibrary(&run.driverLibrary);
}
