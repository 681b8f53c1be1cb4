// A restore: the newest backup of the folder that the script names that holds something to put
// back puts back, newest first, what its run removed (or may have removed before it ended).
// Nothing that exists again is overwritten.
#include <wchar.h>

#include "phases/PhaseSources.h"
#include "registry/RegExport.h"
#include "script/CleanScript.h"
#include "shared/RunLog.h"

PhaseStart StartRestore(RunContext& run)
{
    const wchar_t* folder = run.script->backupFolder.Get();
    if (folder[0] == 0) {
        WriteLog(1, "Cannot restore (the script names no backup folder.)\n");
        return PhaseStart::Skip;
    }
    Result found = FindRestorableBackup(folder, &run.backup);
    if (!found.ok) {
        WriteLog(1, "Cannot restore (no backup in %S: %i)\n", folder, static_cast<int>(found.error));
        return PhaseStart::Skip;
    }
    run.report.backupFolder.Assign(run.backup.folder.Get());
    // What anyone else may have written is not put back as the system account.
    if (OthersMayChangeBackup(run.backup)) {
        run.report.backupError = ERROR_ACCESS_DENIED;
        run.report.backupReason = "others may change the backup";
        WriteLog(1, "Cannot restore (others may change the backup %S)\n", run.backup.folder.Get());
        return PhaseStart::Skip;
    }
    WriteLog(1, "Restore from %S\n", run.backup.folder.Get());
    // The driver library, when there is one, takes packages back into the driver store.
    if (LoadDriverLibrary(run.workDir, &run.driverLibrary) != LibraryLoad::Ready)
        ReleaseDriverLibrary(&run.driverLibrary);
    return PhaseStart::Go;
}

void OfferRestoreItems(RunContext& run, PhaseRun& phase)
{
    zqWString shown;
    for (int i = run.backup.entries.count - 1; i >= 0; --i) {
        ReachItem(phase, run.backup.entries.count - 1 - i);
        const BackupEntry* entry = run.backup.entries.At(i);
        Target target = {entry->kind, entry->original.Get(), entry->root};
        target.valueName = entry->valueName.Get();
        target.keyOnly = entry->keyOnly;
        target.backupEntry = i;
        // A key is shown with its root, a value after a colon, as the script names them.
        const wchar_t* root = RootName(entry->root);
        if (root != nullptr)
            FormatInto(shown, entry->kind == TargetKind::RegistryValue ? L"%s\\%s:%s" : L"%s\\%s", root,
                       entry->original.Get(), entry->valueName.Get());
        else
            shown.Assign(entry->original.Get());
        target.shown = shown.Get();
        if (!OfferTarget(phase, target))
            return;
    }
}

void FinishRestore(RunContext& run)
{
    ReleaseDriverLibrary(&run.driverLibrary);
}
