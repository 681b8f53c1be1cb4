#include "engine/CleaningRun.h"

#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "engine/SystemPaths.h"
#include "engine/TargetExpansion.h"
#include "foundation/Handles.h"
#include "launcher/RunLog.h"
#include "launcher/StatusBlock.h"
#include "registry/SetupRegistration.h"
#include "script/CleanScript.h"

namespace {

const char kClosingLine[] =
    "--------------------------------------------------------------------------------------------\n";

// Reads the prepared copy ("<script>.srvc") into the model. A path with no room for the
// suffix is treated as having no copy: a cut name would open some other file.
void ReadPreparedScript(const wchar_t* scriptPath, zqCleanScript& script)
{
    wchar_t copyPath[260];
    size_t length = wcslen(scriptPath);
    if (length + 5 > 259)
        return;
    wcscpy(copyPath, scriptPath);
    wcscat(copyPath, L".srvc");
    StdioFile copy;
    if (_wfopen_s(copy.Put(), copyPath, L"rt") != 0 || !copy.Valid())
        return;
    script.Read(copy.Get());
}

// True when the launcher's folder is one the script deletes (exact text, case significant).
bool StartedFromFolderToDelete(const zqCleanScript& script, const wchar_t* workDir)
{
    for (int i = 0; i < script.folders.count; ++i) {
        const zqWString* entry = script.folders.At(i);
        if (entry != nullptr && wcscmp(entry->Get(), workDir) == 0)
            return true;
    }
    return false;
}

// Everything after the set-up; returns at the first reason to end the run.
void RunSteps(zqCleanScript& script, const SystemPaths& paths, HANDLE block)
{
    wchar_t scriptPath[260];
    ReadBlockScriptPath(block, scriptPath);
    WriteLog(1, "Ininame: %S\n", scriptPath);
    ReadPreparedScript(scriptPath, script);
    if (StopRequested())
        return;

    ExpandTargetLists(script, paths);

    // Kept to the end: the driver-store library and the assembly tool are looked for there.
    wchar_t workDir[260];
    ReadBlockWorkDir(block, workDir);
    if (StartedFromFolderToDelete(script, workDir)) {
        WriteBlockStatus(block, 1);
        return;
    }

    // A 32-bit build on 64-bit Windows cannot work on the driver store and the INF folder.
    if (!paths.isWow64) {
        if (!DriverPackagePhase(script, workDir))
            return;
        if (!InfPhase(script))
            return;
    }
    if (!DriverServicePhase(script))
        return;
    if (!ExpandMaskedFiles(script))
        return;
    if (StopRequested())
        return;
    if (!FilePhase(script))
        return;
    if (!DotNetPhase(script, workDir))
        return;
    if (!FolderPhase(script))
        return;
    if (!RegistryPhase(script))
        return;
    RemoveSetupRegistration();
    DevicePhase(script);
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
    RunSteps(script, paths, block.Get());
    FreeSystemPaths(paths);
    return 1;
}
