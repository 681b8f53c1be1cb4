#include "run/CleaningRun.h"

#include <windows.h>
#include <wchar.h>

#include "phases/PhaseDriver.h"
#include "shared/StopSignal.h"
#include "platform/Process.h"
#include "platform/SystemPaths.h"
#include "phases/TargetExpansion.h"
#include "run/RunVerdict.h"
#include "foundation/Handles.h"
#include "script/CleanScript.h"
#include "script/PrepareScript.h"
#include "shared/RunLog.h"
#include "shared/StatusBlock.h"

namespace {

const char kClosingLine[] =
    "--------------------------------------------------------------------------------------------\n";

// Reads the prepared copy into the model. A script path with no room for the copy's suffix
// gives no copy at all: a cut name would open some other file.
void ReadPreparedScript(const wchar_t* scriptPath, zqCleanScript& script)
{
    zqWString copyPath;
    if (!PreparedCopyPath(scriptPath, &copyPath))
        return;
    StdioFile copy(_wfopen(copyPath.Get(), L"rb"));
    if (!copy.Valid())
        return;
    script.Read(copy.Get());
    // A line refused whole is never cut or split into entries; the log says which and why.
    for (int i = 0; i < script.notes.count; ++i) {
        const ScriptNote* note = script.notes.At(i);
        if (note->reason == NoteReason::Refused)
            WriteLog(1, "Script line %i refused: %s\n", note->line, ProblemText(note->problem));
    }
}

// True when the launcher's folder is one the run deletes (exact text, case significant).
bool StartedFromFolderToDelete(const StringList& folders, const wchar_t* workDir)
{
    for (int i = 0; i < folders.count; ++i) {
        if (wcscmp(folders.At(i)->Get(), workDir) == 0)
            return true;
    }
    return false;
}

// Place codes of the service host's refusals: no status block, or one without a working
// directory (the library and the tool would be taken from the drive root).
const int kErrorNoBlock = 760;
const int kErrorNoWorkDir = 761;

// The backup folder the script names, checked (and, for a run, made) once the lists say which
// folders the run removes; what stands in its way is logged and reported before the phases.
void StartRunBackup(RunContext& run)
{
    Backup& backup = run.backup;
    StartBackup(&backup, run.script->backupFolder.Get(), run.places, run.lists.folders, run.mode == RunMode::Clean);
    if (!backup.asked)
        return;
    run.report.backupFolder.Assign(backup.folder.Get());
    run.report.backupError = backup.error;
    run.report.backupReason = backup.refusal;
    if (backup.refusal != nullptr)
        WriteLog(1, "Backup folder refused: %S (%s)\n", backup.folder.Get(), backup.refusal);
    else if (backup.error != 0 && !backup.made)
        WriteLog(1, "Backup folder cannot be made: %S (Err:%i)\n", backup.folder.Get(), static_cast<int>(backup.error));
    LogBackupTrouble(run);
}

void LogManifestTrouble(const Backup& backup, const Result& written)
{
    if (!written.ok)
        WriteLog(1, "Backup manifest cannot be written: %S\\manifest.json (Err:%i)\n", backup.folder.Get(),
                 static_cast<int>(written.error));
}

// The phases in their order; false when one ended the run.
bool RunPhases(RunContext& run)
{
    for (int i = 0; i < kPhaseCount; ++i) {
        if (!RunPhase(run, kPhases[i], i + 1))
            return false;
        // After every phase: a summary of the journal for whoever reads the backup.
        if (run.backup.made && run.backup.entries.count > 0 && i + 1 < kPhaseCount)
            LogManifestTrouble(run.backup, WriteManifest(run.backup, run.report.script.Get()));
    }
    return true;
}

// What the run itself stands on: never removed, nor scheduled for the next restart.
void AddRunFiles(RunContext& run, const wchar_t* scriptPath)
{
    zqWString path;
    if (ProgramPath(&path).ok)
        AddRunFile(&run.places, path.Get());
    AddRunFile(&run.places, scriptPath);
    if (PreparedCopyPath(scriptPath, &path))
        AddRunFile(&run.places, path.Get());
    AddRunFile(&run.places, RunLogPath());
    if (ReportName(run.mode) != nullptr && SystemDriveFile(ReportName(run.mode), &path))
        AddRunFile(&run.places, path.Get());
}

// Everything after the set-up; returns at the first reason to end the run. The script is read
// into script, and from then on only read. blockError: why there is no status block.
void RunSteps(RunContext& run, zqCleanScript& script, HANDLE block, DWORD blockError)
{
    if (block == nullptr) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorNoBlock, static_cast<int>(blockError));
        return;
    }
    wchar_t workDir[kBlockPathUnits];
    ReadBlockWorkDir(block, workDir);
    if (workDir[0] == 0) {
        WriteLog(1, "zqclean error(%i)\n", kErrorNoWorkDir);
        return;
    }
    wchar_t scriptPath[kBlockPathUnits];
    ReadBlockScriptPath(block, scriptPath);
    run.report.script.Assign(scriptPath);
    WriteLog(1, "Ininame: %S\n", scriptPath);
    ReadPreparedScript(scriptPath, script);
    run.script = &script;
    if (StopRequested())
        return;
    run.workDir = workDir;
    run.report.workDir.Assign(workDir);
    // A tool that has not ended by its time, or when a stop is requested, is ended.
    run.tools.timeoutMs = run.script->toolTimeoutSeconds * 1000;
    run.tools.stop = StopEvent();
    AskProtectedPlaces(&run.places);
    AddRunFiles(run, scriptPath);
    if (run.mode == RunMode::Restore) {
        if (RunPhase(run, kRestorePhase, 1))
            WriteLog(0, "%s", kClosingLine);
        run.report.completed = !StopRequested();
        return;
    }

    ExpandTargetLists(script, *run.paths, run.lists);

    // Kept to the end: the driver-store library and the assembly tool are looked for there.
    if (StartedFromFolderToDelete(run.lists.folders, workDir)) {
        WriteBlockStatus(block, kStatusRefused);
        run.report.status = kStatusRefused;
        return;
    }
    StartRunBackup(run);
    bool completed = RunPhases(run);
    // Also after a stop request: the manifest, or no folder when nothing was saved.
    if (run.backup.asked)
        LogManifestTrouble(run.backup, FinishBackup(&run.backup, run.report.script.Get()));
    if (!completed)
        return;
    WriteLog(0, "%s", kClosingLine);
    run.report.completed = true;
}

}  // namespace

int RunCleaning(RunMode mode)
{
    RunLogHold logHold;
    zqCleanScript script;
    // Closed when the run returns; the launcher keeps its own handle to the section.
    KernelHandle block(OpenStatusBlock());
    DWORD blockError = GetLastError();
    SystemPaths paths;
    InitSystemPaths(paths);
    RunContext run;
    SeedSearchDirs(run.lists.searchDirs);
    run.script = &script;
    run.paths = &paths;
    run.progress = MapProgress(block.Get());
    run.mode = run.report.mode = mode;
    GetSystemTime(&run.report.start);
    RunSteps(run, script, block.Get(), blockError);
    LaunchEnd end = SettleRunEnd(&run.report, run.restartNeeded, StopRequested(), ReadBlockConvention(block.Get()));
    // Every launch that got as far as the cleaning leaves its report.
    if (block.Valid()) {
        zqWString reportPath;
        Result written = SystemDriveFile(ReportName(mode), &reportPath) ? WriteRunReport(run.report, script, reportPath.Get())
                                                                        : NoMemory();
        if (!written.ok)
            WriteLog(1, "Report cannot be written: %S (Err:%i)\n", reportPath.Get(), static_cast<int>(written.error));
        // Told after the report: a launcher that learns how the run ended finds its report.
        WriteBlockRunEnd(block.Get(), end);
    }
    return 1;
}
