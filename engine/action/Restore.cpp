// A restore puts back what the newest backup holds of one item; nothing that exists again is
// overwritten, and nothing in the backup is trusted that could send a write elsewhere.
#include "action/Restore.h"

#include <wchar.h>

#include "foundation/Handles.h"
#include "platform/Copy.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Security.h"
#include "registry/RegFileCheck.h"
#include "registry/RegistryKey.h"

namespace {

Outcome LeftAsItIs() { return {OutcomeKind::LeftAsItIs}; }
Outcome Restored(const Result& done) { return done.ok ? Outcome{OutcomeKind::Restored} : FailedWith(done.error); }
Outcome Untrusted(const char* reason)
{
    Outcome refused = {OutcomeKind::Refused, ERROR_ACCESS_DENIED};
    refused.reason = reason;
    return refused;
}

// A copy of the backup back to where it came from, its folders made first. onlyMissing: a tree
// that stands there is completed, never overwritten.
Result CopyBack(const wchar_t* saved, const wchar_t* original, bool tree, bool onlyMissing = false)
{
    zqWString parent;
    const wchar_t* cut = wcsrchr(original, L'\\');
    if (cut != nullptr && FormatInto(parent, L"%.*s", static_cast<int>(cut - original), original))
        MakeFolders(parent.Get());
    return tree ? CopyTree(saved, original, onlyMissing) : CopyFileWithTimes(saved, original);
}

// A tool of the system folder, or of the working directory, on one saved file.
Outcome RunTool(const wchar_t* tool, const wchar_t* arguments, const wchar_t* file, const wchar_t* runDir,
                const ToolLimits& limits)
{
    zqWString commandLine;
    DWORD exitCode = kNoExitCode;
    if (!FormatInto(commandLine, L"\"%s\" %s \"%s\"", tool, arguments, file))
        return FailedWith(ERROR_NOT_ENOUGH_MEMORY, kNoExitCode);
    Result ran = RunProcessAndWait(commandLine.buffer, runDir, limits, &exitCode);
    return ran.ok && exitCode == 0 ? Outcome{OutcomeKind::Restored} : FailedWith(ran.error, exitCode);
}

// A key or value goes back through the system's "reg import", as the system account: only when
// its .reg file names nothing but the item's own key (and value), and nobody else may change it.
// A key that a run ended in the middle of removing is completed from it.
Outcome ImportRegistry(const ActionContext& run, const Target& target, const BackupEntry& entry, const wchar_t* saved)
{
    zqWString extended;
    if (!SavedFileKeepsSeal(run.backup, entry, saved))
        return Untrusted("its saved .reg file is not as its run wrote it");
    if (!ExtendedPath(saved, &extended) ||
        !RegFileStaysWithin(extended.Get(), target.root, target.path,
                            target.kind == TargetKind::RegistryValue ? target.valueName : nullptr))
        return Untrusted("its saved .reg file names more than the item's own key");
    if (OthersMayChange(saved))
        return Untrusted("others may change its saved .reg file");
    bool unfinished = !entry.settled && target.kind != TargetKind::RegistryValue;
    if (Probe(target.root, target.path, target.kind == TargetKind::RegistryValue ? target.valueName : nullptr).ok &&
        !unfinished)
        return LeftAsItIs();
    zqWString tool;
    if (!SystemProgramPath(L"reg.exe", &tool))
        return FailedWith(ERROR_FILE_NOT_FOUND, kNoExitCode);
    return RunTool(tool.Get(), L"import", saved, nullptr, run.tools);
}

// A file or folder that stands there again stays as it is; a folder tree that a run ended in the
// middle of removing is completed, what stands there kept.
Outcome CopyFileOrTreeBack(const Target& target, const BackupEntry& entry, const wchar_t* saved)
{
    bool tree = target.kind == TargetKind::Folder;
    if (!PathIsThere(target.path))
        return Restored(CopyBack(saved, target.path, tree));
    if (!tree || entry.settled)
        return LeftAsItIs();
    return Restored(CopyBack(saved, target.path, true, true));
}

}  // namespace

Outcome RestoreTarget(ActionContext& run, const Target& target)
{
    const BackupEntry* entry = run.backup.entries.At(target.backupEntry);
    // Only what the run itself recorded is put back: a record anyone changed, or wrote in its
    // place, lacks the seal that only the run's account can make.
    if (entry != nullptr && !entry->sealed)
        return Untrusted("its record in the backup is not as its run wrote it");
    if (entry != nullptr && !entry->savedInPlace)
        return Untrusted("its saved copy is named outside its own place in the backup");
    if (entry == nullptr || entry->saved.count == 0)
        return FailedWith(ERROR_FILE_NOT_FOUND);
    zqWString saved, other, tool;
    FormatInto(saved, L"%s\\%s", run.backup.folder.Get(), entry->saved.At(0)->Get());
    switch (target.kind) {
    case TargetKind::File:
    case TargetKind::Folder:
        return CopyFileOrTreeBack(target, *entry, saved.Get());
    case TargetKind::InfFile: {
        if (PathIsThere(target.path))
            return LeftAsItIs();
        Result done = CopyBack(saved.Get(), target.path, false);
        // The precompiled companion goes back beside it.
        if (done.ok && entry->saved.count > 1 &&
            FormatInto(saved, L"%s\\%s", run.backup.folder.Get(), entry->saved.At(1)->Get()) &&
            PnfPath(target.path, &other) && !PathIsThere(other.Get()))
            done = CopyBack(saved.Get(), other.Get(), false);
        return Restored(done);
    }
    case TargetKind::RegistryKey:
    case TargetKind::RegistryValue:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        return ImportRegistry(run, target, *entry, saved.Get());
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
        DWORD result = InstallDriverPackage(run.driverLibrary, saved.Get(), &run.restartNeeded);
        return result == kDifxSuccess ? Outcome{OutcomeKind::Restored} : FailedWith(result);
    }
    case TargetKind::Assembly: {
        // Every saved version goes back into the cache through the working directory's tool.
        if (!FormatInto(tool, L"%s\\gacutil.exe", run.workDir))
            return FailedWith(ERROR_NOT_ENOUGH_MEMORY, kNoExitCode);
        Outcome outcome = {OutcomeKind::Restored};
        for (int i = 0; i < entry->saved.count && outcome.kind == OutcomeKind::Restored; ++i) {
            FormatInto(saved, L"%s\\%s", run.backup.folder.Get(), entry->saved.At(i)->Get());
            outcome = RunTool(tool.Get(), L"/i", saved.Get(), run.workDir, run.tools);
        }
        return outcome;
    }
    }
    return FailedWith(ERROR_INVALID_PARAMETER);
}
