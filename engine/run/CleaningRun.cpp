#include "run/CleaningRun.h"

#include <windows.h>
#include <wchar.h>

#include "phases/PhaseDriver.h"
#include "shared/StopSignal.h"
#include "platform/Process.h"
#include "platform/SystemPaths.h"
#include "phases/TargetExpansion.h"
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

// True when the launcher's folder is one the script deletes (exact text, case significant).
bool StartedFromFolderToDelete(const zqCleanScript& script, const wchar_t* workDir)
{
    for (int i = 0; i < script.folders.count; ++i) {
        if (wcscmp(script.folders.At(i)->Get(), workDir) == 0)
            return true;
    }
    return false;
}

// Place codes of the service host's refusals: no status block, or one without a working
// directory (the library and the tool would be taken from the drive root).
const int kErrorNoBlock = 760;
const int kErrorNoWorkDir = 761;

// What the run itself stands on: never removed, nor scheduled for the next restart.
void AddRunFiles(RunContext& run, const wchar_t* scriptPath)
{
    zqWString path;
    if (ProgramPath(&path))
        AddRunFile(&run.places, path.Get());
    AddRunFile(&run.places, scriptPath);
    if (PreparedCopyPath(scriptPath, &path))
        AddRunFile(&run.places, path.Get());
    if (path.Assign(RunLogPath()))
        AddRunFile(&run.places, path.Get());
    char reportPath[MAX_PATH];
    SystemDriveFile(ReportName(run.mode), reportPath, sizeof reportPath);
    if (path.Assign(reportPath))
        AddRunFile(&run.places, path.Get());
}

// Everything after the set-up; returns at the first reason to end the run.
void RunSteps(RunContext& run, HANDLE block)
{
    if (block == nullptr) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorNoBlock, (int)GetLastError());
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
    ReadPreparedScript(scriptPath, *run.script);
    if (StopRequested())
        return;
    run.workDir = workDir;
    run.report.workDir.Assign(workDir);
    AskProtectedPlaces(&run.places);
    AddRunFiles(run, scriptPath);
    if (run.mode == RunMode::Restore) {
        if (RunPhase(run, kRestorePhase))
            WriteLog(0, "%s", kClosingLine);
        run.report.completed = !StopRequested();
        return;
    }

    ExpandTargetLists(*run.script, *run.paths);

    // Kept to the end: the driver-store library and the assembly tool are looked for there.
    if (StartedFromFolderToDelete(*run.script, workDir)) {
        WriteBlockStatus(block, kStatusRefused);
        run.report.status = kStatusRefused;
        return;
    }
    StartBackup(&run.backup, run.script->backupFolder.Get());

    for (int i = 0; i < kPhaseCount; ++i) {
        bool goOn = RunPhase(run, kPhases[i]);
        // After every phase: a run that ends unexpectedly still leaves a restorable backup.
        if (run.mode == RunMode::Clean && run.backup.asked && run.backup.error == 0)
            WriteManifest(run.backup, run.report.script.Get());
        if (!goOn)
            return;
    }
    WriteLog(0, "%s", kClosingLine);
    run.report.completed = true;
}

}  // namespace

int RunCleaning(RunMode mode)
{
    zqCleanScript script;
    // Closed when the run returns; the launcher keeps its own handle to the section.
    KernelHandle block(OpenStatusBlock());
    DWORD blockError = GetLastError();
    SystemPaths paths;
    InitSystemPaths(paths);
    SeedSearchDirs(script.searchDirs);
    RunContext run;
    run.script = &script;
    run.paths = &paths;
    run.mode = run.report.mode = mode;
    GetSystemTime(&run.report.start);
    SetLastError(blockError);
    RunSteps(run, block.Get());
    // Every launch that got as far as the cleaning leaves its report.
    if (block.Valid()) {
        char reportPath[MAX_PATH];
        SystemDriveFile(ReportName(mode), reportPath, sizeof reportPath);
        zqWString path;
        if (path.Assign(reportPath))
            WriteRunReport(run.report, script, path.Get());
    }
    FreeSystemPaths(paths);
    return 1;
}
