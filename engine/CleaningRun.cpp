#include "engine/CleaningRun.h"

#include <windows.h>
#include <wchar.h>

#include "engine/PhaseDriver.h"
#include "engine/StopSignal.h"
#include "engine/SystemPaths.h"
#include "engine/TargetExpansion.h"
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
    StdioFile copy;
    if (_wfopen_s(copy.Put(), copyPath.Get(), L"rt") != 0 || !copy.Valid())
        return;
    script.Read(copy.Get());
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

// Everything after the set-up; returns at the first reason to end the run.
void RunSteps(RunContext& run, HANDLE block)
{
    wchar_t scriptPath[kBlockPathUnits];
    ReadBlockScriptPath(block, scriptPath);
    WriteLog(1, "Ininame: %S\n", scriptPath);
    ReadPreparedScript(scriptPath, *run.script);
    if (StopRequested())
        return;

    ExpandTargetLists(*run.script, *run.paths);

    // Kept to the end: the driver-store library and the assembly tool are looked for there.
    wchar_t workDir[kBlockPathUnits];
    ReadBlockWorkDir(block, workDir);
    if (StartedFromFolderToDelete(*run.script, workDir)) {
        WriteBlockStatus(block, kStatusRefused);
        return;
    }
    run.workDir = workDir;

    for (int i = 0; i < kPhaseCount; ++i) {
        if (!RunPhase(run, kPhases[i]))
            return;
    }
    WriteLog(0, "%s", kClosingLine);
}

}  // namespace

int RunCleaning()
{
    zqCleanScript script;
    // Closed when the run returns; the launcher keeps its own handle to the section.
    KernelHandle block(OpenStatusBlock());
    SystemPaths paths;
    InitSystemPaths(paths, script);
    RunContext run;
    run.script = &script;
    run.paths = &paths;
    RunSteps(run, block.Get());
    FreeSystemPaths(paths);
    return 1;
}
