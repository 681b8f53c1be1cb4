// Saving a target into the run's backup before it is removed: moved there where one rename can
// take it, otherwise copied (files, folder trees, driver-store folders, assembly cache folders)
// or exported (keys and values, as .reg text); recorded in the journal either way.
#include "backup/BackupRecords.h"

#include <wchar.h>

#include "platform/Copy.h"
#include "platform/Paths.h"
#include "registry/RegExport.h"

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
bool SaveAssembly(const wchar_t* folder, BackupEntry* entry, bool* found)
{
    // The simple name: an assembly may be given with its version and key ("Name, Version=...").
    const wchar_t* assembly = entry->original.Get();
    int number = entry->number;
    zqWString name, source, target, relative;
    if (!FormatInto(name, L"%.*s", static_cast<int>(wcscspn(assembly, L", ")), assembly))
        return false;
    *found = false;
    for (size_t k = 0; k < sizeof kAssemblyCaches / sizeof kAssemblyCaches[0]; ++k) {
        wchar_t expanded[MAX_PATH];
        DWORD length = ExpandEnvironmentStringsW(kAssemblyCaches[k], expanded, MAX_PATH);
        if (length == 0 || length > MAX_PATH || !FormatInto(source, L"%s\\%s", expanded, name.Get()) ||
            GetFileAttributesW(source.Get()) == INVALID_FILE_ATTRIBUTES)
            continue;
        zqWString own;
        if (!FormatInto(own, L"%s\\%d", folder, number) || !MakeFolders(own.Get()) ||
            !FormatInto(target, L"%s\\%u", own.Get(), static_cast<unsigned>(k)) || !CopyTree(source.Get(), target.Get()))
            return false;
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
    return true;
}

bool SaveRegistry(const wchar_t* folder, const SealKey& seal, const Target& target, BackupEntry* entry)
{
    zqWString text, file, extended, relative;
    if (!text.Assign(kRegFileHeader) ||
        !ExportRegistry(target.root, target.path, target.kind == TargetKind::RegistryValue ? target.valueName : nullptr, &text))
        return false;
    // Sealed as the file's bytes will be: a restore imports nothing but what the run wrote.
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.Get()), static_cast<size_t>(text.length) * sizeof(wchar_t));
    entry->regSeal = SealOf(seal, bytes.data(), bytes.size());
    return !entry->regSeal.empty() && FormatInto(relative, L"%d.reg", entry->number) && FormatInto(file, L"%s\\%s", folder, relative.Get()) &&
           ExtendedPath(file.Get(), &extended) && WriteRegFile(extended.Get(), text) && AddSaved(entry, relative.Get());
}

// The entry's own folder in the backup, and the name path takes there: "<n>\<name>".
bool OwnPlace(const wchar_t* folder, int number, const wchar_t* path, zqWString* relative, zqWString* target)
{
    zqWString own;
    return FormatInto(own, L"%s\\%d", folder, number) && MakeFolders(own.Get()) &&
           FormatInto(*relative, L"%d\\%s", number, LastPart(path)) && FormatInto(*target, L"%s\\%s", folder, relative->Get());
}

// Copies path (a file, or a folder tree) into the entry's own folder, under its own name.
bool SaveCopy(const wchar_t* folder, const wchar_t* path, bool tree, BackupEntry* entry)
{
    zqWString target, relative;
    if (!OwnPlace(folder, entry->number, path, &relative, &target))
        return false;
    return (tree ? CopyTree(path, target.Get()) : CopyFileWithTimes(path, target.Get())) && AddSaved(entry, relative.Get());
}

BackupEntry* NewEntry(const Target& target, int number)
{
    BackupEntry* entry = new (std::nothrow) BackupEntry;
    if (entry == nullptr || !entry->original.Assign(target.path) ||
        !entry->valueName.Assign(target.valueName != nullptr ? target.valueName : L"")) {
        delete entry;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
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
        RegKey key;
        LONG result = RegOpenKeyExW(target.root, target.path, 0, KEY_READ, key.Put());
        if (result == ERROR_SUCCESS && target.kind == TargetKind::RegistryValue)
            result = RegQueryValueExW(key.Get(), target.valueName, nullptr, nullptr, nullptr, nullptr);
        return !IsGone(static_cast<DWORD>(result));
    }
    case TargetKind::Assembly:
        return true;
    default:
        return PathIsThere(target.path) || !IsGone(GetLastError());
    }
}

// Copies or exports the target into the entry's own place.
bool SaveByCopying(const wchar_t* folder, const SealKey& seal, const Target& target, BackupEntry* entry, bool* nothingThere)
{
    switch (target.kind) {
    case TargetKind::File:
        return SaveCopy(folder, target.path, false, entry);
    case TargetKind::Folder:
        return SaveCopy(folder, target.path, true, entry);
    case TargetKind::InfFile: {
        // The INF and its precompiled companion, when there is one.
        zqWString companion;
        const wchar_t* dot = wcsrchr(target.path, L'.');
        bool saved = SaveCopy(folder, target.path, false, entry);
        if (saved && dot != nullptr && FormatInto(companion, L"%.*spnf", static_cast<int>(dot - target.path + 1), target.path) &&
            GetFileAttributesW(companion.Get()) != INVALID_FILE_ATTRIBUTES)
            saved = SaveCopy(folder, companion.Get(), false, entry);
        return saved;
    }
    case TargetKind::DriverPackage: {
        // The package's whole folder in the driver store; saved[0] is its INF in the copy.
        zqWString store, relative;
        const wchar_t* cut = wcsrchr(target.path, L'\\');
        return cut != nullptr && FormatInto(store, L"%.*s", static_cast<int>(cut - target.path), target.path) &&
               SaveCopy(folder, store.Get(), true, entry) &&
               FormatInto(relative, L"%s\\%s", entry->saved.At(0)->Get(), cut + 1) && entry->saved.At(0)->Assign(relative.Get());
    }
    case TargetKind::Assembly: {
        bool found = false;
        bool saved = SaveAssembly(folder, entry, &found);
        *nothingThere = saved && !found;  // in no cache: the tool has nothing to lose either
        return saved;
    }
    case TargetKind::RegistryKey:
    case TargetKind::RegistryValue:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        return SaveRegistry(folder, seal, target, entry);
    }
    return false;
}

// Records the entry in the journal and takes it into the backup's list; false (the entry freed)
// when either cannot be.
bool Record(Backup* backup, BackupEntry* entry)
{
    if (!AppendRecord(backup, SavedRecord(*entry))) {
        delete entry;
        return false;
    }
    if (backup->entries.AppendOwned(entry))
        return true;
    AppendRecord(backup, OutcomeRecord(backup->entries.count, OutcomeKind::Failed));
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
}

// A file or folder is moved into the backup: one rename, which is its removal as well, so the
// record goes first. Anything in the way (another volume, a file in use, a folder holding one)
// leaves the target where it is, and it is copied into the same place instead.
SaveStep MoveOrCopy(Backup* backup, const Target& target, BackupEntry* entry)
{
    zqWString relative, moved, from, to;
    if (!OwnPlace(backup->folder.Get(), entry->number, target.path, &relative, &moved) ||
        !ExtendedPath(target.path, &from) || !ExtendedPath(moved.Get(), &to) || !AddSaved(entry, relative.Get())) {
        DWORD error = GetLastError();
        delete entry;
        SetLastError(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
        return SaveStep::Failed;
    }
    int number = entry->number;
    if (!Record(backup, entry))
        return SaveStep::Failed;
    if (MoveFileExW(from.Get(), to.Get(), 0))
        return SaveStep::Moved;
    bool copied = target.kind == TargetKind::Folder ? CopyTree(target.path, moved.Get())
                                                     : CopyFileWithTimes(target.path, moved.Get());
    if (copied)
        return SaveStep::Saved;
    DWORD error = GetLastError();
    RecordOutcome(backup, number, FailedWith(error));
    SetLastError(error != 0 ? error : ERROR_CANNOT_COPY);
    return SaveStep::Failed;
}

}  // namespace

SaveStep SaveForRemoval(Backup* backup, const Target& target, int* entryNumber)
{
    *entryNumber = -1;
    if (!IsThere(target))
        return SaveStep::NothingThere;
    if (backup->error != 0) {
        SetLastError(backup->error);
        return SaveStep::Failed;
    }
    int number = backup->entries.count;
    BackupEntry* entry = NewEntry(target, number);
    if (entry == nullptr)
        return SaveStep::Failed;
    if ((target.kind == TargetKind::File && !target.unregisterFirst) || target.kind == TargetKind::Folder) {
        SaveStep step = MoveOrCopy(backup, target, entry);
        *entryNumber = step == SaveStep::Failed ? -1 : number;
        return step;
    }
    bool nothingThere = false;
    if (!SaveByCopying(backup->folder.Get(), backup->seal, target, entry, &nothingThere) || nothingThere) {
        DWORD error = GetLastError();
        delete entry;
        SetLastError(error != 0 ? error : ERROR_CANNOT_COPY);
        return nothingThere ? SaveStep::NothingThere : SaveStep::Failed;
    }
    if (!Record(backup, entry))
        return SaveStep::Failed;
    *entryNumber = number;
    return SaveStep::Saved;
}
