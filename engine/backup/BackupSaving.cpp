// Saving a target into the run's backup before it is removed: moved there where one rename can
// take it, otherwise copied (files, folder trees, driver-store folders, assembly cache folders)
// or exported (keys and values, as .reg text); recorded in the journal either way.
#include "backup/BackupRecords.h"

#include <wchar.h>

#include "platform/Copy.h"
#include "platform/ExpandPath.h"
#include "platform/Paths.h"
#include "registry/RegExport.h"
#include "registry/RegistryKey.h"

namespace {

// The folders in which the global assembly caches keep an assembly, by its simple name.
const wchar_t* const kAssemblyCaches[] = {
    L"%SystemRoot%\\assembly\\GAC_MSIL",          L"%SystemRoot%\\assembly\\GAC_32",
    L"%SystemRoot%\\assembly\\GAC_64",            L"%SystemRoot%\\assembly\\GAC",
    L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_MSIL", L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_32",
    L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_64",
};

const wchar_t* LastPart(const wchar_t* path)
{
    const wchar_t* cut = wcsrchr(path, L'\\');
    return cut != nullptr ? cut + 1 : path;
}

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Copies the assembly's folders out of every cache that holds it; the saved names are its
// files, for "gacutil /i". found: whether any cache holds it at all.
Result SaveAssembly(const wchar_t* folder, BackupEntry* entry, bool* found)
{
    // The simple name: an assembly may be given with its version and key ("Name, Version=...").
    const wchar_t* assembly = entry->original.Get();
    int number = entry->number;
    zqWString name, cache, source, own, target, relative;
    if (!FormatInto(name, L"%.*s", static_cast<int>(wcscspn(assembly, L", ")), assembly))
        return NoMemory();
    *found = false;
    for (size_t k = 0; k < sizeof kAssemblyCaches / sizeof kAssemblyCaches[0]; ++k) {
        Result expanded = ExpandText(kAssemblyCaches[k], &cache);
        if (!expanded.ok)
            return expanded;  // a cache that cannot be named could hold it: nothing is removed
        if (!FormatInto(source, L"%s\\%s", cache.Get(), name.Get()))
            return NoMemory();
        if (GetFileAttributesW(source.Get()) == INVALID_FILE_ATTRIBUTES)
            continue;
        if (!FormatInto(own, L"%s\\%d", folder, number) || !FormatInto(target, L"%s\\%u", own.Get(), static_cast<unsigned>(k)))
            return NoMemory();
        Result copied = MakeFolders(own.Get());
        if (copied.ok)
            copied = CopyTree(source.Get(), target.Get());
        if (!copied.ok)
            return copied;
        // One saved file per version folder: <version>__<key>\<name>.dll.
        WIN32_FIND_DATAW version;
        zqWString pattern;
        FormatInto(pattern, L"%s\\*", target.Get());
        FindHandle listing(FindFirstFileW(pattern.Get(), &version));
        while (listing.Valid()) {
            if (version.cFileName[0] != L'.' && (version.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                FormatInto(relative, L"%d\\%u\\%s\\%s.dll", number, static_cast<unsigned>(k), version.cFileName, name.Get()))
                AddSaved(entry, relative.Get());
            if (!FindNextFileW(listing.Get(), &version))
                break;
        }
        *found = true;
    }
    return Succeeded();
}

Result SaveRegistry(const wchar_t* folder, const SealKey& seal, const Target& target, BackupEntry* entry)
{
    zqWString text, file, extended, relative;
    if (!text.Assign(kRegFileHeader))
        return NoMemory();
    Result saved = ExportRegistry(target.root, target.path, target.kind == TargetKind::RegistryValue ? target.valueName : nullptr,
                                  &text, target.view);
    if (!saved.ok)
        return saved;
    // Sealed as the file's bytes will be: a restore imports nothing but what the run wrote.
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.Get()), static_cast<size_t>(text.length) * sizeof(wchar_t));
    entry->regSeal = SealOf(seal, bytes.data(), bytes.size());
    if (entry->regSeal.empty())
        return FailedBy(ERROR_CANNOT_COPY);
    if (!FormatInto(relative, L"%d.reg", entry->number) || !FormatInto(file, L"%s\\%s", folder, relative.Get()) ||
        !ExtendedPath(file.Get(), &extended))
        return NoMemory();
    saved = WriteRegFile(extended.Get(), text);
    return saved.ok && !AddSaved(entry, relative.Get()) ? NoMemory() : saved;
}

// The entry's own folder in the backup, made, and the name path takes there: "<n>\<name>".
Result OwnPlace(const wchar_t* folder, int number, const wchar_t* path, zqWString* relative, zqWString* target)
{
    zqWString own;
    if (!FormatInto(own, L"%s\\%d", folder, number) || !FormatInto(*relative, L"%d\\%s", number, LastPart(path)) ||
        !FormatInto(*target, L"%s\\%s", folder, relative->Get()))
        return NoMemory();
    return MakeFolders(own.Get());
}

// Copies path (a file, or a folder tree) into the entry's own folder, under its own name.
Result SaveCopy(const wchar_t* folder, const wchar_t* path, bool tree, BackupEntry* entry)
{
    zqWString target, relative;
    Result saved = OwnPlace(folder, entry->number, path, &relative, &target);
    if (saved.ok)
        saved = tree ? CopyTree(path, target.Get()) : CopyFileWithTimes(path, target.Get());
    return saved.ok && !AddSaved(entry, relative.Get()) ? NoMemory() : saved;
}

// The entry of a target; a key of the 32-bit view is named as the native view names it, as a
// script entry would name it, so that a restore puts it back in that view.
BackupEntry* NewEntry(const Target& target, int number)
{
    BackupEntry* entry = new (std::nothrow) BackupEntry;
    bool registry = target.root != nullptr;
    if (entry == nullptr ||
        !(registry ? NativeKeyPath(target.root, target.path, target.view, &entry->original) : entry->original.Assign(target.path)) ||
        !entry->valueName.Assign(target.valueName != nullptr ? target.valueName : L"")) {
        delete entry;
        return nullptr;
    }
    entry->number = number;
    entry->kind = target.kind;
    entry->root = target.root;
    entry->keyOnly = target.keyOnly;
    return entry;
}

// What of the target is there to save now; false when nothing is (already gone).
bool IsThere(const Target& target)
{
    switch (target.kind) {
    case TargetKind::RegistryKey:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
    case TargetKind::RegistryValue: {
        Result there = Probe(target.root, target.path, target.kind == TargetKind::RegistryValue ? target.valueName : nullptr,
                             target.view);
        return there.ok || !IsGone(there.error);
    }
    case TargetKind::Assembly:
        return true;
    default: {
        zqWString extended;
        return !ExtendedPath(target.path, &extended) || GetFileAttributesW(extended.Get()) != INVALID_FILE_ATTRIBUTES ||
               !IsGone(GetLastError());
    }
    }
}

// Copies or exports the target into the entry's own place.
Result SaveByCopying(const wchar_t* folder, const SealKey& seal, const Target& target, BackupEntry* entry, bool* nothingThere)
{
    switch (target.kind) {
    case TargetKind::File:
        return SaveCopy(folder, target.path, false, entry);
    case TargetKind::Folder:
        return SaveCopy(folder, target.path, true, entry);
    case TargetKind::InfFile: {
        // The INF and its precompiled companion, when there is one.
        zqWString companion;
        Result saved = SaveCopy(folder, target.path, false, entry);
        if (saved.ok && PnfPath(target.path, &companion) && GetFileAttributesW(companion.Get()) != INVALID_FILE_ATTRIBUTES)
            saved = SaveCopy(folder, companion.Get(), false, entry);
        return saved;
    }
    case TargetKind::DriverPackage: {
        // The package's whole folder in the driver store; saved[0] is its INF in the copy.
        zqWString store, relative;
        const wchar_t* cut = wcsrchr(target.path, L'\\');
        if (cut == nullptr || !FormatInto(store, L"%.*s", static_cast<int>(cut - target.path), target.path))
            return FailedBy(ERROR_BAD_PATHNAME);
        Result saved = SaveCopy(folder, store.Get(), true, entry);
        if (saved.ok && (!FormatInto(relative, L"%s\\%s", entry->saved.At(0)->Get(), cut + 1) ||
                         !entry->saved.At(0)->Assign(relative.Get())))
            return NoMemory();
        return saved;
    }
    case TargetKind::Assembly: {
        bool found = false;
        Result saved = SaveAssembly(folder, entry, &found);
        *nothingThere = saved.ok && !found;  // in no cache: the tool has nothing to lose either
        return saved;
    }
    case TargetKind::RegistryKey:
    case TargetKind::RegistryValue:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        return SaveRegistry(folder, seal, target, entry);
    }
    return FailedBy(ERROR_INVALID_PARAMETER);
}

// Records the entry in the journal and takes it into the backup's list; fails (the entry freed)
// when either cannot be.
Result Record(Backup* backup, BackupEntry* entry)
{
    Result recorded = AppendRecord(backup, SavedRecord(*entry));
    if (!recorded.ok) {
        delete entry;
        return recorded;
    }
    if (backup->entries.AppendOwned(entry))
        return recorded;
    AppendRecord(backup, OutcomeRecord(backup->entries.count, OutcomeKind::Failed));
    return NoMemory();
}

// A file or folder is moved into the backup: one rename, which is its removal as well, so the
// record goes first. Anything in the way (another volume, a file in use, a folder holding one)
// leaves the target where it is, and it is copied into the same place instead.
Result MoveOrCopy(Backup* backup, const Target& target, BackupEntry* entry, SaveStep* step)
{
    zqWString relative, moved, from, to;
    Result placed = OwnPlace(backup->folder.Get(), entry->number, target.path, &relative, &moved);
    if (placed.ok && (!ExtendedPath(target.path, &from) || !ExtendedPath(moved.Get(), &to) || !AddSaved(entry, relative.Get())))
        placed = NoMemory();
    if (!placed.ok) {
        delete entry;
        return placed;
    }
    int number = entry->number;
    Result recorded = Record(backup, entry);
    if (!recorded.ok)
        return recorded;
    if (MoveFileExW(from.Get(), to.Get(), 0)) {
        *step = SaveStep::Moved;
        return recorded;
    }
    Result copied = target.kind == TargetKind::Folder ? CopyTree(target.path, moved.Get())
                                                       : CopyFileWithTimes(target.path, moved.Get());
    if (copied.ok) {
        *step = SaveStep::Saved;
        return copied;
    }
    RecordOutcome(backup, number, FailedWith(copied.error));
    return FailedBy(copied.error != 0 ? copied.error : ERROR_CANNOT_COPY);
}

}  // namespace

Result SaveForRemoval(Backup* backup, const Target& target, SaveStep* step, int* entryNumber)
{
    *entryNumber = -1;
    *step = SaveStep::NothingThere;
    if (!IsThere(target))
        return Succeeded();
    if (backup->error != 0)
        return FailedBy(backup->error);
    int number = backup->entries.count;
    BackupEntry* entry = NewEntry(target, number);
    if (entry == nullptr)
        return NoMemory();
    if ((target.kind == TargetKind::File && !target.unregisterFirst) || target.kind == TargetKind::Folder) {
        Result saved = MoveOrCopy(backup, target, entry, step);
        *entryNumber = saved.ok ? number : -1;
        return saved;
    }
    bool nothingThere = false;
    Result saved = SaveByCopying(backup->folder.Get(), backup->seal, target, entry, &nothingThere);
    if (!saved.ok || nothingThere) {
        delete entry;
        return saved.ok || saved.error != 0 ? saved : FailedBy(ERROR_CANNOT_COPY);
    }
    Result recorded = Record(backup, entry);
    if (!recorded.ok)
        return recorded;
    *entryNumber = number;
    *step = SaveStep::Saved;
    return recorded;
}
