// The folder places: a new folder is drafted whole as a [folders] entry, written with its
// environment reference, one entry where the 64-bit run's twin takes the 32-bit copy along; a new
// file in a folder that was there is a [files] entry with its full path; a new package folder of
// the driver store a [drvpackages] entry, a new assembly of the assembly caches a [.NET] entry.
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "authoring/Comparison.h"
#include "authoring/Drafting.h"
#include "authoring/Noise.h"
#include "foundation/Handles.h"
#include "platform/Paths.h"

namespace {

// The references a folder entry may begin with; the longest that expands to the folder's
// beginning is taken (the first of those as long).
const wchar_t* const kReferences[] = {
    L"CommonProgramFiles", L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramFiles", L"ProgramFiles(x86)",
    L"ProgramW6432",       L"ProgramData",             L"SystemRoot",         L"SystemDrive",
};

const wchar_t* LastName(const wchar_t* path)
{
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash != nullptr ? slash + 1 : path;
}

bool EndsWith(const wchar_t* text, const wchar_t* ending)
{
    size_t length = wcslen(text), endingLength = wcslen(ending);
    return length >= endingLength && SameText(text + length - endingLength, ending);
}

// The folder as a [folders] entry, and where its written path begins after the reference.
void FolderEntry(const wchar_t* path, zqWString* entry, size_t* literal)
{
    size_t length = wcslen(path), best = 0;
    const wchar_t* reference = nullptr;
    zqWString value;
    for (const wchar_t* name : kReferences) {
        size_t got = ReferenceValue(name, &value) ? static_cast<size_t>(value.length) : 0;
        if (got > best && got < length && path[got] == L'\\' && IsAtOrBelow(path, length, value.Get(), got)) {
            best = got;
            reference = name;
        }
    }
    if (reference != nullptr && FormatInto(*entry, L"%%%s%%%s", reference, path + best)) {
        *literal = wcslen(reference) + 2;
        return;
    }
    entry->Assign(path);
    *literal = 0;
}

// What would make a [folders] line name another folder once read: it ends at its "=", a "%"
// may expand, runs of dots and of separators are shortened.
const char* FolderLineProblem(const wchar_t* written)
{
    if (wcschr(written, L'=') != nullptr)
        return "a [folders] line ends at its \"=\"";
    if (wcschr(written, L'%') != nullptr)
        return "a [folders] line expands what stands between \"%\" signs";
    if (wcsstr(written, L"...") != nullptr || wcsstr(written + 1, L"\\\\") != nullptr)
        return "a [folders] line shortens runs of dots and separators";
    return nullptr;
}

bool HoldsWorkDir(const DraftContext& context, const wchar_t* folder)
{
    return IsAtOrBelow(context.workDir, wcslen(context.workDir), folder, wcslen(folder));
}

// A folder that holds a recorded place (the driver store, the assembly caches) is the system's,
// however new: only what appears in the place is a product's.
bool HoldsPlace(const DraftContext& context, const wchar_t* folder)
{
    size_t length = wcslen(folder);
    for (int p = 0; p < context.places->count; ++p) {
        const zqWString& root = context.places->list[p].root;
        if (!IsKeyPlace(context.places->list[p].use) &&
            IsAtOrBelow(root.Get(), static_cast<size_t>(root.length), folder, length))
            return true;
    }
    return false;
}

// A new folder, drafted whole. True when nothing below it needs a look of its own.
bool DraftFolder(DraftContext& context, uint32_t item)
{
    const wchar_t* path = ItemText(*context.current, item);
    if (TextIndexContains(context.twinIndex, path))
        return true;  // the entry of its 64-bit twin takes it
    zqWString entry, why;
    size_t literal = 0;
    FolderEntry(path, &entry, &literal);
    const char* problem = nullptr;
    if (FitsScriptLine(entry.Get(), &problem) == LineFit::Fits)
        problem = FolderLineProblem(entry.Get() + literal);
    if (problem == nullptr && HoldsWorkDir(context, path))
        problem = "it holds the working folder";
    if (problem == nullptr && HoldsPlace(context, path))
        problem = "a folder the system keeps";
    if (problem != nullptr)
        FormatInto(why, L"%S", problem);
#ifdef _WIN64
    bool twinTaken = false;
    zqWString twinPath;
    if (problem == nullptr && TwinPath(context.paths, path, &twinPath) && PathIsThere(twinPath.Get())) {
        const wchar_t* twin = twinPath.Get();
        int place = PlaceOfFolder(*context.places, twin);
        int64_t found = place >= 0 ? FindPath(*context.current, place, twin) : -1;
        const Item* it = found >= 0 ? &context.current->items[found] : nullptr;
        Target target = {TargetKind::Folder, twin};
        DWORD error = 0;
        const char* reason = nullptr;
        if (it == nullptr || it->state != ItemState::New || it->kind != ItemKind::Folder)
            FormatInto(why, L"its 32-bit twin %s was there before, and the run removes the twin too", twin);
        else if (HoldsWorkDir(context, twin))
            FormatInto(why, L"its 32-bit twin %s holds the working folder", twin);
        else if (IsRefused(context.draft.guard, target, &error, &reason))
            FormatInto(why, L"its 32-bit twin %s is refused: %S", twin, reason);
        else
            twinTaken = true;
    }
#endif
    if (why.length > 0) {
        why.Append(L"; its new contents are drafted one by one");
        Note(context.draft, Section::Folders, entry.Get(), why.Get());
        return false;
    }
    Target target = {TargetKind::Folder, path};
    if (!Propose(context.draft, Section::Folders, entry.Get(), target))
        return false;  // refused: its new contents get a look of their own
#ifdef _WIN64
    if (twinTaken)
        AppendUnique(context.twins, context.twinIndex, twinPath.Get());
#endif
    return true;
}

void DraftFile(DraftContext& context, uint32_t item)
{
    const wchar_t* path = ItemText(*context.current, item);
    const char* noise = FileNoise(path);
    zqWString why;
    if (noise != nullptr && FormatInto(why, L"skipped as noise: %S", noise)) {
        Note(context.draft, Section::Files, path, why.Get());
    } else if (context.current->items[item].state == ItemState::Changed) {
        Note(context.draft, Section::Files, path, L"changed since the snapshot: it was there before");
    } else {
        Target target = {TargetKind::File, path};
        Propose(context.draft, Section::Files, path, target);
    }
}

// A new package folder of a driver store: "<name>.inf_..." in FileRepository, "<name>_..." in
// DRVSTORE. The entry takes every folder of both stores whose name begins so: all must be new.
bool DraftPackage(DraftContext& context, int place, uint32_t item)
{
    const wchar_t* path = ItemText(*context.current, item);
    const wchar_t* name = LastName(path);
    bool repository = EndsWith(context.places->list[place].root.Get(), L"\\FileRepository");
    const wchar_t* cut = repository ? wcsstr(name, L".inf_") : wcsrchr(name, L'_');
    zqWString package, inf, why;
    if (cut == nullptr || cut == name || !FormatInto(package, L"%.*s", static_cast<int>(cut - name), name)) {
        Note(context.draft, Section::DrvPackages, path, L"it is not named as the driver store names a package");
        return true;
    }
    if (!context.infPhasesRun) {
        Note(context.draft, Section::DrvPackages, package.Get(),
             L"a 32-bit run on 64-bit Windows leaves driver packages to zqclean64");
        return true;
    }
    if (!FormatInto(inf, L"%s\\%s.inf", path, package.Get()) || !PathIsThere(inf.Get())) {
        Note(context.draft, Section::DrvPackages, package.Get(), L"its folder holds no INF file of that name");
        return true;
    }
    const Listing& listing = *context.current;
    for (int store = PlaceOfUse(context, PlaceUse::DriverStore); store >= 0;
         store = PlaceOfUse(context, PlaceUse::DriverStore, store)) {
        zqWString prefix;
        bool storeIsRepository = EndsWith(context.places->list[store].root.Get(), L"\\FileRepository");
        if (!FormatInto(prefix, L"%s%s", package.Get(), storeIsRepository ? L".inf_" : L"_"))
            return true;
        for (uint32_t i = listing.placeStart[store]; i < listing.placeStart[store + 1]; ++i) {
            uint32_t other = listing.order[i];
            const wchar_t* otherPath = ItemText(listing, other);
            if (listing.items[other].state != ItemState::New &&
                DepthBelow(otherPath, static_cast<size_t>(context.places->list[store].root.length)) == 1 &&
                wcsncmp(LastName(otherPath), prefix.Get(), static_cast<size_t>(prefix.length)) == 0) {
                if (FormatInto(why, L"it would also take %s, which was there before", otherPath))
                    Note(context.draft, Section::DrvPackages, package.Get(), why.Get());
                return true;
            }
        }
    }
    Target target = {TargetKind::DriverPackage, inf.Get()};
    Propose(context.draft, Section::DrvPackages, package.Get(), target);
    return true;
}

// A new assembly folder: the tool removes every version of a name from every cache, so each
// cache's folder of that name must be new.
bool DraftAssembly(DraftContext& context, int place, uint32_t item)
{
    const WalkedPlace& cache = context.places->list[place];
    const wchar_t* path = ItemText(*context.current, item);
    const wchar_t* start = path + cache.root.length + 1;
    zqWString name, folder, why;
    if (!FormatInto(name, L"%.*s", static_cast<int>(wcscspn(start, L"\\")), start))
        return true;
    if (DepthBelow(path, static_cast<size_t>(cache.root.length)) > 1) {
        Note(context.draft, Section::DotNet, name.Get(),
             L"a new version of an assembly that was there before: [.NET] removes every version");
        return true;
    }
    for (int other = PlaceOfUse(context, PlaceUse::AssemblyCache); other >= 0;
         other = PlaceOfUse(context, PlaceUse::AssemblyCache, other)) {
        if (!FormatInto(folder, L"%s\\%s", context.places->list[other].root.Get(), name.Get()))
            return true;
        int64_t found = FindPath(*context.current, other, folder.Get());
        if (found >= 0 && context.current->items[found].state != ItemState::New) {
            if (FormatInto(why, L"another version of it was there before in %s: [.NET] removes every version",
                           folder.Get()))
                Note(context.draft, Section::DotNet, name.Get(), why.Get());
            return true;
        }
    }
    if (wcschr(name.Get(), L' ') != nullptr) {
        Note(context.draft, Section::DotNet, name.Get(),
             L"its name holds a blank: the tool would take it for several names");
        return true;
    }
    Target target = {TargetKind::Assembly, name.Get()};
    Propose(context.draft, Section::DotNet, name.Get(), target);
    return true;
}

bool FileChange(void* pass, int place, uint32_t item)
{
    DraftContext& context = *static_cast<DraftContext*>(pass);
    const WalkedPlace& where = context.places->list[place];
    const Item& it = context.current->items[item];
    const wchar_t* path = ItemText(*context.current, item);
    if (it.state == ItemState::Unrecorded) {
        Note(context.draft, Section::Folders, path, L"it could not be read when the snapshot was taken");
        return true;
    }
    bool folder = it.kind == ItemKind::Folder;
    if (folder && DepthBelow(path, static_cast<size_t>(where.root.length)) == 0) {
        Note(context.draft, Section::Folders, path,
             L"a folder the system keeps appeared since the snapshot; its new contents are drafted one by one");
        return false;
    }
    if (where.use == PlaceUse::AssemblyCache && folder)
        return DraftAssembly(context, place, item);
    if (where.use == PlaceUse::DriverStore && folder)
        return DraftPackage(context, place, item);
    if (where.use == PlaceUse::InfFolder && !folder) {
        if (EndsWith(path, L".inf"))
            return false;  // the INF files' own step drafted it
        zqWString inf;
        if (EndsWith(path, L".pnf") && FormatInto(inf, L"%.*s.inf", static_cast<int>(wcslen(path) - 4), path)) {
            if (TextIndexContains(context.deletedInfIndex, inf.Get()))
                return false;  // deleted with its INF file
            int64_t found = FindPath(*context.current, place, inf.Get());
            if (found >= 0 && context.current->items[found].state == ItemState::New) {
                Note(context.draft, Section::Files, path, L"its INF file stays");
                return false;
            }
        }
    }
    if (folder)
        return DraftFolder(context, item);
    DraftFile(context, item);
    return false;
}

}  // namespace

void DraftFilePlaces(DraftContext& context)
{
    for (int place = 0; place < context.places->count; ++place)
        if (!IsKeyPlace(context.places->list[place].use))
            ForEachChange(*context.current, place, FileChange, &context);
}
