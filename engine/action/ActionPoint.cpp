#include "action/ActionPoint.h"

#include <wchar.h>

#include "action/Preview.h"
#include "action/Restore.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Removal.h"
#include "registry/RegistryPrimitives.h"

namespace {

Outcome Removed() { return {OutcomeKind::Removed}; }
Outcome FromResult(const Result& result) { return result.ok ? Removed() : FailedWith(result.error); }
Outcome FromFileRemoval(const Result& result, bool atRestart)
{
    return result.ok && atRestart ? Outcome{OutcomeKind::RemovedAtRestart} : FromResult(result);
}

// An ActiveX control is unregistered while it is still there; the tool's verdict is its own,
// but one that has not ended within its time (or when a stop is requested) is ended, and the
// control stays. The system's own tool of the build's bitness runs, by full path: never one that
// lies in the program's or the working folder or along PATH.
Result UnregisterControl(const wchar_t* path, const ToolLimits& limits)
{
    zqWString tool, commandLine;
    DWORD exitCode = 0;
    if (!SystemProgramPath(L"regsvr32.exe", &tool) || !FormatInto(commandLine, L"\"%s\" /S /U \"%s\"", tool.Get(), path))
        return Succeeded();
    Result ran = RunProcessAndWait(commandLine.buffer, nullptr, limits, &exitCode);
    return ran.ok || (ran.error != ERROR_TIMEOUT && ran.error != ERROR_CANCELLED) ? Succeeded() : ran;
}

// The INF counts, with its own error; its precompiled companion goes the same way, unreported.
Outcome RemoveInf(const wchar_t* path)
{
    bool atRestart = false, companionAtRestart = false;
    Result inf = RemoveNowOrAtRestart(path, &atRestart);
    zqWString companion;
    if (PnfPath(path, &companion))
        RemoveNowOrAtRestart(companion.Get(), &companionAtRestart);
    return FromFileRemoval(inf, atRestart);
}

Outcome UninstallPackage(const DriverLibrary& library, const wchar_t* infPath, bool* restart)
{
    DWORD result = UninstallDriverPackage(library, infPath, restart);
    if (result == kDifxSuccess || result == kDifxNoSuchDevinst)
        return Removed();
    return FailedWith(result);
}

// The tool's path is quoted, since the launcher's folder may hold blanks; the assembly name is
// passed as written. It runs in its own folder. A tool that ran and said no has no system error.
Outcome RemoveAssembly(const wchar_t* workDir, const wchar_t* assembly, const ToolLimits& limits)
{
    zqWString commandLine;
    DWORD exitCode = kNoExitCode;
    if (!FormatInto(commandLine, L"\"%s\\gacutil.exe\" /u %s /silent", workDir, assembly))
        return FailedWith(ERROR_NOT_ENOUGH_MEMORY, kNoExitCode);
    Result ran = RunProcessAndWait(commandLine.buffer, workDir[0] != 0 ? workDir : nullptr, limits, &exitCode);
    return ran.ok && exitCode == 0 ? Removed() : FailedWith(ran.error, exitCode);
}

// The removal itself, once the guard and the backup have let it through.
Outcome Remove(ActionContext& run, const Target& target)
{
    bool atRestart = false;
    switch (target.kind) {
    case TargetKind::DriverPackage:
        return UninstallPackage(run.driverLibrary, target.path, &run.restartNeeded);
    case TargetKind::InfFile:
        return RemoveInf(target.path);
    case TargetKind::File: {
        Result unregistered = target.unregisterFirst ? UnregisterControl(target.path, run.tools) : Succeeded();
        if (!unregistered.ok)
            return FromResult(unregistered);
        Result removed = RemoveNowOrAtRestart(target.path, &atRestart);
        return FromFileRemoval(removed, atRestart);
    }
    case TargetKind::Assembly:
        return RemoveAssembly(run.workDir, target.path, run.tools);
    case TargetKind::Folder: {
        Result removed = DeleteFolderTree(target.path, KeepProtectedFolders(run.places), &atRestart);
        return FromFileRemoval(removed, atRestart);
    }
    case TargetKind::RegistryKey:
        if (target.keyOnly)
            return FromResult(DeleteKeyAlone(target.root, target.path, target.view));
        return FromResult(DeleteKeyTree(target.root, target.path, target.view));
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        return FromResult(DeleteKeyTree(target.root, target.path, target.view));
    case TargetKind::RegistryValue:
        return FromResult(DeleteValue(target.root, target.path, target.valueName, target.view));
    }
    return FailedWith(ERROR_INVALID_PARAMETER);
}

}  // namespace

Outcome Act(ActionContext& run, const Target& asked)
{
    // A file or folder is acted on at the place the guard judged: its folder followed through
    // every link, so that what goes is what was judged.
    zqWString place;
    Outcome refusal = {OutcomeKind::Refused};
    if (IsRefused(run.places, asked, &refusal.error, &refusal.reason, &place))
        return refusal;
    Target target = asked;
    if (target.kind == TargetKind::File || target.kind == TargetKind::Folder || target.kind == TargetKind::InfFile)
        target.path = place.Get();
    if (run.mode == RunMode::Restore) {
        if (IsRefusedForWriting(run.places, asked, &refusal.error, &refusal.reason))
            return refusal;
        return RestoreTarget(run, target);
    }
    // Saved first, when a backup is asked for: what cannot be saved and recorded is not
    // removed (a preview says so too, when the backup folder is refused).
    if (run.mode == RunMode::Preview)
        return run.backup.asked && run.backup.error != 0 ? FailedWith(run.backup.error) : Foresee(target);
    int saved = -1;
    if (run.backup.asked) {
        SaveStep step = SaveStep::NothingThere;
        Result save = SaveForRemoval(&run.backup, target, &step, &saved);
        if (!save.ok)
            return FailedWith(save.error);
        if (step == SaveStep::Moved) {
            Outcome moved = {OutcomeKind::Removed};
            RecordOutcome(&run.backup, saved, moved);
            return moved;
        }
    }
    Outcome outcome = Remove(run, target);
    RecordOutcome(&run.backup, saved, outcome);
    return outcome;
}
