#include "engine/ActionPoint.h"

#include "engine/FileSystem.h"
#include "engine/Guard.h"
#include "registry/RegExport.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "registry/RegistryPrimitives.h"

namespace {

Outcome Removed() { return {OutcomeKind::Removed}; }
Outcome Failed(DWORD error, DWORD exitCode = 0) { return {OutcomeKind::Failed, error, exitCode}; }
Outcome Succeeded(bool done) { return done ? Removed() : Failed(GetLastError()); }
Outcome FromRegistry(LONG result)
{
    return result == ERROR_SUCCESS ? Removed() : Failed(static_cast<DWORD>(result));
}

Outcome FromFileRemoval(FileRemoval removal)
{
    switch (removal) {
    case FileRemoval::Removed: return Removed();
    case FileRemoval::Scheduled: return {OutcomeKind::RemovedAtRestart};
    case FileRemoval::Failed: break;
    }
    return Failed(GetLastError());
}

// An ActiveX control is unregistered while it is still there; the tool's verdict is its own.
// The system's own tool of the build's bitness runs, by full path: never one that lies in the
// program's or the working folder or along PATH.
void UnregisterControl(const wchar_t* path)
{
    zqWString tool, commandLine;
    if (SystemProgramPath(L"regsvr32.exe", &tool) &&
        FormatInto(commandLine, L"\"%s\" /S /U \"%s\"", tool.Get(), path))
        RunProcessAndWait(commandLine.buffer, nullptr);
}

// The INF counts; its precompiled companion goes the same way, unreported. A failure reports
// the error left after the companion's removal.
Outcome RemoveInf(const wchar_t* path)
{
    FileRemoval inf = RemoveNowOrAtRestart(path);
    const wchar_t* dot = wcsrchr(path, L'.');
    zqWString companion;
    if (dot != nullptr && FormatInto(companion, L"%.*spnf", static_cast<int>(dot - path + 1), path))
        RemoveNowOrAtRestart(companion.Get());
    if (inf == FileRemoval::Failed)
        return Failed(GetLastError());
    return FromFileRemoval(inf);
}

Outcome RemoveValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName)
{
    RegKey key;
    LONG result = RegOpenKeyW(root, keyPath, key.Put());
    if (result == ERROR_SUCCESS)
        result = RegDeleteValueW(key.Get(), valueName);
    return FromRegistry(result);
}

Outcome UninstallPackage(const DriverLibrary& library, const wchar_t* infPath)
{
    DWORD result = UninstallDriverPackage(library, infPath);
    if (result == kDifxSuccess || result == kDifxNoSuchDevinst)
        return Removed();
    return Failed(result);
}

// The tool's path is quoted, since the launcher's folder may hold blanks; the assembly name is
// passed as written. It runs in its own folder.
Outcome RemoveAssembly(const wchar_t* workDir, const wchar_t* assembly)
{
    zqWString commandLine;
    if (!FormatInto(commandLine, L"\"%s\\gacutil.exe\" /u %s /silent", workDir, assembly))
        return Failed(ERROR_NOT_ENOUGH_MEMORY, kNoExitCode);
    DWORD exitCode = RunProcessAndWait(commandLine.buffer, workDir[0] != 0 ? workDir : nullptr);
    DWORD error = GetLastError();
    return exitCode == 0 ? Removed() : Failed(error, exitCode);
}

// Whether nobody holds the file open against its deletion now.
bool DeletableNow(const wchar_t* path)
{
    zqWString extended;
    FileHandle file;
    if (ExtendedPath(path, &extended))
        file.Reset(CreateFileW(extended.Get(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.Valid();
}

// Whether everything in the tree is deletable now; a link is not entered.
bool TreeDeletableNow(const wchar_t* folder)
{
    zqWString pattern, child, extended;
    WIN32_FIND_DATAW entry;
    FindHandle listing;
    if (ExtendedPath(folder, &extended) && FormatInto(pattern, L"%s\\*", extended.Get()))
        listing.Reset(FindFirstFileW(pattern.Get(), &entry));
    while (listing.Valid()) {
        if (!IsDotEntry(entry.cFileName) && FormatInto(child, L"%s\\%s", folder, entry.cFileName)) {
            bool tree = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            if (tree ? !TreeDeletableNow(child.Get()) : !DeletableNow(child.Get()))
                return false;
        }
        if (!FindNextFileW(listing.Get(), &entry))
            break;
    }
    return true;
}

// A preview: what the run would do, and nothing done. What is held open now would go at the
// next restart.
Outcome Foresee(const Target& target)
{
    bool now = true;
    if (target.kind == TargetKind::File || target.kind == TargetKind::InfFile)
        now = DeletableNow(target.path);
    else if (target.kind == TargetKind::Folder)
        now = TreeDeletableNow(target.path) && DeletableNow(target.path);
    return {now ? OutcomeKind::WouldRemove : OutcomeKind::WouldRemoveAtRestart};
}

// --- restore ------------------------------------------------------------------------------

Outcome LeftAsItIs() { return {OutcomeKind::LeftAsItIs}; }
Outcome Restored(bool done) { return done ? Outcome{OutcomeKind::Restored} : Failed(GetLastError()); }

bool RegistryTargetExists(const Target& target)
{
    RegKey key;
    LONG result = RegOpenKeyExW(target.root, target.path, 0, KEY_READ, key.Put());
    if (result == ERROR_SUCCESS && target.kind == TargetKind::RegistryValue)
        result = RegQueryValueExW(key.Get(), target.valueName, nullptr, nullptr, nullptr, nullptr);
    return result == ERROR_SUCCESS;
}

// A copy of the backup back to where it came from, its folders made first.
bool CopyBack(const wchar_t* saved, const wchar_t* original, bool tree)
{
    zqWString parent;
    const wchar_t* cut = wcsrchr(original, L'\\');
    if (cut != nullptr && FormatInto(parent, L"%.*s", static_cast<int>(cut - original), original))
        MakeFolders(parent.Get());
    return tree ? CopyTree(saved, original) : CopyFileWithTimes(saved, original);
}

// A tool of the system folder, or of the working directory, on one saved file.
Outcome RunTool(const wchar_t* tool, const wchar_t* arguments, const wchar_t* file, const wchar_t* runDir)
{
    zqWString commandLine;
    if (!FormatInto(commandLine, L"\"%s\" %s \"%s\"", tool, arguments, file))
        return Failed(ERROR_NOT_ENOUGH_MEMORY, kNoExitCode);
    DWORD exitCode = RunProcessAndWait(commandLine.buffer, runDir);
    DWORD error = GetLastError();
    return exitCode == 0 ? Outcome{OutcomeKind::Restored} : Failed(error, exitCode);
}

Outcome Restore(RunContext& run, const Target& target)
{
    const BackupEntry* entry = run.backup.entries.At(target.backupEntry);
    if (entry == nullptr || entry->saved.count == 0)
        return Failed(ERROR_FILE_NOT_FOUND);
    zqWString saved, other, tool;
    FormatInto(saved, L"%s\\%s", run.backup.folder.Get(), entry->saved.At(0)->Get());
    switch (target.kind) {
    case TargetKind::File:
    case TargetKind::Folder:
        if (PathIsThere(target.path))
            return LeftAsItIs();
        return Restored(CopyBack(saved.Get(), target.path, target.kind == TargetKind::Folder));
    case TargetKind::InfFile: {
        if (PathIsThere(target.path))
            return LeftAsItIs();
        bool done = CopyBack(saved.Get(), target.path, false);
        // The precompiled companion goes back beside it.
        const wchar_t* cut = wcsrchr(target.path, L'\\');
        if (done && entry->saved.count > 1 && cut != nullptr &&
            FormatInto(saved, L"%s\\%s", run.backup.folder.Get(), entry->saved.At(1)->Get()) &&
            FormatInto(other, L"%.*s\\%s", static_cast<int>(cut - target.path), target.path,
                       wcsrchr(entry->saved.At(1)->Get(), L'\\') + 1))
            done = PathIsThere(other.Get()) || CopyBack(saved.Get(), other.Get(), false);
        return Restored(done);
    }
    case TargetKind::RegistryKey:
    case TargetKind::RegistryValue:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        if (RegistryTargetExists(target))
            return LeftAsItIs();
        if (!SystemProgramPath(L"reg.exe", &tool))
            return Failed(ERROR_FILE_NOT_FOUND, kNoExitCode);
        return RunTool(tool.Get(), L"import", saved.Get(), nullptr);
    case TargetKind::DriverPackage: {
        const wchar_t* cut = wcsrchr(target.path, L'\\');
        if (cut != nullptr && FormatInto(other, L"%.*s", static_cast<int>(cut - target.path), target.path) &&
            PathIsThere(other.Get()))
            return LeftAsItIs();
        if (!CanInstallDriverPackage(run.driverLibrary)) {
            // The line says where its copy lies, for the administrator to add it by hand.
            Outcome kept = {OutcomeKind::CopyKept};
            return kept;
        }
        DWORD result = InstallDriverPackage(run.driverLibrary, saved.Get());
        return result == kDifxSuccess ? Outcome{OutcomeKind::Restored} : Failed(result);
    }
    case TargetKind::Assembly: {
        // Every saved version goes back into the cache through the working directory's tool.
        if (!FormatInto(tool, L"%s\\gacutil.exe", run.workDir))
            return Failed(ERROR_NOT_ENOUGH_MEMORY, kNoExitCode);
        Outcome outcome = {OutcomeKind::Restored};
        for (int i = 0; i < entry->saved.count && outcome.kind == OutcomeKind::Restored; ++i) {
            FormatInto(saved, L"%s\\%s", run.backup.folder.Get(), entry->saved.At(i)->Get());
            outcome = RunTool(tool.Get(), L"/i", saved.Get(), run.workDir);
        }
        return outcome;
    }
    }
    return Failed(ERROR_INVALID_PARAMETER);
}

// The removal itself, once the guard and the backup have let it through.
Outcome Remove(RunContext& run, const Target& target)
{
    switch (target.kind) {
    case TargetKind::DriverPackage:
        return UninstallPackage(run.driverLibrary, target.path);
    case TargetKind::InfFile:
        return RemoveInf(target.path);
    case TargetKind::File:
        if (target.unregisterFirst)
            UnregisterControl(target.path);
        return FromFileRemoval(RemoveNowOrAtRestart(target.path));
    case TargetKind::Assembly:
        return RemoveAssembly(run.workDir, target.path);
    case TargetKind::Folder:
        return FromFileRemoval(DeleteFolderTree(target.path, &run.places));
    case TargetKind::RegistryKey:
        if (target.keyOnly)
            return FromRegistry(RegDeleteKeyW(target.root, target.path));
        return Succeeded(DeleteKeyTreeW(target.root, target.path) != FALSE);
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        return Succeeded(DeleteKeyTreeW(target.root, target.path) != FALSE);
    case TargetKind::RegistryValue:
        return RemoveValue(target.root, target.path, target.valueName);
    }
    return Failed(ERROR_INVALID_PARAMETER);
}

}  // namespace

Outcome Act(RunContext& run, const Target& target)
{
    Outcome refusal = {OutcomeKind::Refused};
    if (IsRefused(run.places, target, &refusal.error, &refusal.reason))
        return refusal;
    if (run.mode == RunMode::Preview)
        return Foresee(target);
    if (run.mode == RunMode::Restore)
        return Restore(run, target);
    // Saved first, when a backup is asked for: what cannot be saved is not removed.
    int saved = -1;
    if (run.backup.asked) {
        if (SaveByMoving(&run.backup, target, &saved)) {
            Outcome moved = {OutcomeKind::Removed};
            RecordOutcome(&run.backup, saved, moved);
            return moved;
        }
        if (!SaveTarget(&run.backup, target, &saved))
            return Failed(GetLastError());
    }
    Outcome outcome = Remove(run, target);
    RecordOutcome(&run.backup, saved, outcome);
    return outcome;
}
