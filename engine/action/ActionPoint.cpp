#include "action/ActionPoint.h"

#include <wchar.h>

#include "action/Preview.h"
#include "action/Restore.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "platform/Process.h"
#include "platform/Removal.h"
#include "registry/RegistryPrimitives.h"

namespace {

Outcome Removed() { return {OutcomeKind::Removed}; }
Outcome Succeeded(bool done) { return done ? Removed() : FailedWith(GetLastError()); }
Outcome FromRegistry(LONG result)
{
    return result == ERROR_SUCCESS ? Removed() : FailedWith(static_cast<DWORD>(result));
}

Outcome FromFileRemoval(FileRemoval removal)
{
    switch (removal) {
    case FileRemoval::Removed: return Removed();
    case FileRemoval::Scheduled: return {OutcomeKind::RemovedAtRestart};
    case FileRemoval::Failed: break;
    }
    return FailedWith(GetLastError());
}

// An ActiveX control is unregistered while it is still there; the tool's verdict is its own,
// but one that has not ended within its time (or when a stop is requested) is ended, and the
// control stays. The system's own tool of the build's bitness runs, by full path: never one that
// lies in the program's or the working folder or along PATH.
bool UnregisterControl(const wchar_t* path, const ToolLimits& limits)
{
    zqWString tool, commandLine;
    if (!SystemProgramPath(L"regsvr32.exe", &tool) || !FormatInto(commandLine, L"\"%s\" /S /U \"%s\"", tool.Get(), path) ||
        RunProcessAndWait(commandLine.buffer, nullptr, limits) != kNoExitCode)
        return true;
    DWORD error = GetLastError();
    return error != ERROR_TIMEOUT && error != ERROR_CANCELLED;
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
        return FailedWith(GetLastError());
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

Outcome UninstallPackage(const DriverLibrary& library, const wchar_t* infPath, bool* restart)
{
    DWORD result = UninstallDriverPackage(library, infPath, restart);
    if (result == kDifxSuccess || result == kDifxNoSuchDevinst)
        return Removed();
    return FailedWith(result);
}

// The tool's path is quoted, since the launcher's folder may hold blanks; the assembly name is
// passed as written. It runs in its own folder.
Outcome RemoveAssembly(const wchar_t* workDir, const wchar_t* assembly, const ToolLimits& limits)
{
    zqWString commandLine;
    if (!FormatInto(commandLine, L"\"%s\\gacutil.exe\" /u %s /silent", workDir, assembly))
        return FailedWith(ERROR_NOT_ENOUGH_MEMORY, kNoExitCode);
    DWORD exitCode = RunProcessAndWait(commandLine.buffer, workDir[0] != 0 ? workDir : nullptr, limits);
    DWORD error = GetLastError();
    return exitCode == 0 ? Removed() : FailedWith(error, exitCode);
}

// The removal itself, once the guard and the backup have let it through.
Outcome Remove(ActionContext& run, const Target& target)
{
    switch (target.kind) {
    case TargetKind::DriverPackage:
        return UninstallPackage(run.driverLibrary, target.path, &run.restartNeeded);
    case TargetKind::InfFile:
        return RemoveInf(target.path);
    case TargetKind::File:
        if (target.unregisterFirst && !UnregisterControl(target.path, run.tools))
            return FailedWith(GetLastError());
        return FromFileRemoval(RemoveNowOrAtRestart(target.path));
    case TargetKind::Assembly:
        return RemoveAssembly(run.workDir, target.path, run.tools);
    case TargetKind::Folder:
        return FromFileRemoval(DeleteFolderTree(target.path, KeepProtectedFolders(run.places)));
    case TargetKind::RegistryKey:
        if (target.keyOnly)
            return Succeeded(DeleteKeyAloneW(target.root, target.path) != FALSE);
        return Succeeded(DeleteKeyTreeW(target.root, target.path) != FALSE);
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        return Succeeded(DeleteKeyTreeW(target.root, target.path) != FALSE);
    case TargetKind::RegistryValue:
        return RemoveValue(target.root, target.path, target.valueName);
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
        switch (SaveForRemoval(&run.backup, target, &saved)) {
        case SaveStep::Failed:
            return FailedWith(GetLastError());
        case SaveStep::Moved: {
            Outcome moved = {OutcomeKind::Removed};
            RecordOutcome(&run.backup, saved, moved);
            return moved;
        }
        case SaveStep::Saved:
        case SaveStep::NothingThere:
            break;
        }
    }
    Outcome outcome = Remove(run, target);
    RecordOutcome(&run.backup, saved, outcome);
    return outcome;
}
