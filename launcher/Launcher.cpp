#include "launcher/Launcher.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>
#include <wchar.h>

#include "run/CleaningRun.h"
#include "platform/Process.h"
#include "platform/Removal.h"
#include "foundation/FillToFit.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "launcher/LaunchOutcome.h"
#include "launcher/ProgressWindow.h"
#include "launcher/ServiceControl.h"
#include "launcher/ServiceHost.h"
#include "script/PrepareScript.h"
#include "shared/RunLog.h"
#include "shared/StatusBlock.h"

namespace {

enum LaunchMode { ModeLauncher, ModeSilent, ModePreview, ModeRestore, ModeSnapshot, ModeDraft, ModeRemove, ModeService };

// Place code of the service host's error line; the launcher's are in LaunchOutcome.h.
const int kErrorDispatcher = 725;

const wchar_t kScriptName[] = L"zqclean.ini";

// How often the launcher looks at the service while it waits for it.
const DWORD kServicePollMs = 100;
// How long the service process waits, after the dispatcher returned, for a cleaning run that
// a stop request cut short to reach its next check. Generous: one item may run a tool.
const DWORD kRunEndWaitMs = 5 * 60 * 1000;
// How long the launcher waits for its deleted service to disappear once its process ends.
const DWORD kServiceVanishWaitMs = 30 * 1000;

// Only a single argument is examined, case-insensitively; anything else is the launcher.
LaunchMode ModeFromCommandLine()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    LocalBlock owned(arguments);
    if (arguments == nullptr)
        return ModeLauncher;
    LaunchMode mode = ModeLauncher;
    if (count == 2 && arguments[1][0] != 0) {
        if (_wcsicmp(arguments[1], L"-s") == 0)
            mode = ModeSilent;
        else if (_wcsicmp(arguments[1], RunModeArgument(RunMode::Preview)) == 0)
            mode = ModePreview;
        else if (_wcsicmp(arguments[1], RunModeArgument(RunMode::Restore)) == 0)
            mode = ModeRestore;
        else if (_wcsicmp(arguments[1], RunModeArgument(RunMode::Snapshot)) == 0)
            mode = ModeSnapshot;
        else if (_wcsicmp(arguments[1], RunModeArgument(RunMode::Draft)) == 0)
            mode = ModeDraft;
        else if (_wcsicmp(arguments[1], L"-u") == 0)
            mode = ModeRemove;
        else if (_wcsicmp(arguments[1], L"-srvcrun") == 0)
            mode = ModeService;
    }
    return mode;
}

int RunServiceHost(ServiceState state)
{
    // A second copy does not enter the dispatcher.
    if (state == Running)
        return 1;
    // The dispatcher table takes a writable name.
    zqWString serviceName;
    if (!serviceName.Assign(kServiceName))
        return 1;
    SERVICE_TABLE_ENTRYW table[] = {{serviceName.buffer, CleanServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorDispatcher, (int)GetLastError());
        return 1;
    }
    // The dispatcher returns once the service reported itself stopped, which a stop request
    // does before the run has ended: let the run finish its current item first.
    WaitForCleanServiceEnd(kRunEndWaitMs);
    return 1;
}

// The script path, whole, from the current directory, or, when no memory can be had for it,
// from the program's own folder (then there is no directory text for the status block: *dir
// empty). Fails when it cannot be formed.
Result BuildScriptPath(const zqWString& module, zqWString* path, zqWString* dir)
{
    Result asked = FillToFit(dir, [](wchar_t* buffer, DWORD room) {
        return LengthOrRoom(GetCurrentDirectoryW(room, buffer));
    });
    if (asked.ok && dir->length > 0)
        return FormatInto(*path, L"%s\\%s", dir->Get(), kScriptName) ? asked : NoMemory();
    dir->Reserve(0);  // no directory text to hand on
    if (asked.error != ERROR_NOT_ENOUGH_MEMORY)
        return asked.ok ? FailedBy(ERROR_INVALID_DATA) : asked;
    const wchar_t* slash = wcsrchr(module.Get(), L'\\');
    int folder = slash != nullptr ? static_cast<int>(slash - module.Get()) + 1 : 0;
    return FormatInto(*path, L"%.*s%s", folder, module.Get(), kScriptName) ? Succeeded() : NoMemory();
}

// The convention of the script in the working directory, for the modes that make no copy.
ExitConvention WorkDirConvention()
{
    zqWString module, path, currentDir;
    ProgramPath(&module);
    ScriptSource source;
    if (BuildScriptPath(module, &path, &currentDir).ok)
        ReadScriptSource(path.Get(), &source);
    return ConventionOf(&source);
}

// The prepared copy goes now, or at the next restart while the service still holds it.
void RemovePreparedCopy(const wchar_t* scriptPath)
{
    zqWString copyPath;
    if (PreparedCopyPath(scriptPath, &copyPath))
        RemoveNowOrAtRestart(copyPath.Get());
}

// A deleted service stays registered, marked for deletion, until its process has ended.
// Waits, bounded, until it is gone, so that a launch leaves no service behind and the next
// launch does not find this one's.
bool WaitForServiceToVanish()
{
    for (DWORD waited = 0;; waited += kServicePollMs) {
        ServiceState state = NotRunning;
        if (!QueryServiceState(&state) || state == Absent)
            return true;
        if (waited >= kServiceVanishWaitMs)
            return false;
        Sleep(kServicePollMs);
    }
}

void RemoveInstalledService()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr)
        StopCleanService(manager);
    Result deleted = DeleteCleanService();
    if (deleted.ok || deleted.error == ERROR_SERVICE_MARKED_FOR_DELETE)
        WaitForServiceToVanish();
}

// "-u": the classic code is always 1; the standard one says whether the service is gone.
int RemoveService()
{
    RemoveInstalledService();
    if (WorkDirConvention() == ExitConvention::Classic)
        return 1;
    ServiceState state = NotRunning;
    return StandardExitCode(QueryServiceState(&state) && state == Absent ? LaunchEnd::Clean : LaunchEnd::Failed);
}

// A left-over service is stopped and deleted; one that an earlier launch already deleted
// only has to finish going away.
Result RemoveLeftOverService()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr)
        StopCleanService(manager);
    Result deleted = DeleteCleanService();
    if (deleted.ok || deleted.error != ERROR_SERVICE_MARKED_FOR_DELETE)
        return deleted;
    return WaitForServiceToVanish() ? Succeeded() : deleted;
}

// Waits for the started service to stop. The wait also ends when the manager or the
// service's status cannot be read, and when the service is gone (someone else deleted it):
// nothing would ever report its end then. With a window, it shows the run's progress and
// stays responsive meanwhile, and its Cancel sends the service the service manager's own stop
// request: true when the service took it, so the launch was cancelled.
bool WaitForServiceToStop(HANDLE block, ProgressWindow* window)
{
    bool cancelled = false;
    for (;;) {
        ServiceState state = Absent;
        if (!QueryServiceState(&state) || state == NotRunning || state == Absent)
            return cancelled;
        if (window == nullptr) {
            Sleep(kServicePollMs);
            continue;
        }
        ShowRunProgress(window, ReadBlockProgress(block));
        HandleWindowMessages(window, kServicePollMs);
        // Sent without waiting for the stop: the window keeps answering, and the launch counts
        // as cancelled even when the service is slow to report itself stopped.
        if (TakeCancel(window))
            cancelled = RequestServiceStop();
    }
}

// What the launcher keeps open, shared for reading only, from the preparation until its
// service is gone: nobody may replace, rename or re-link the program, the prepared copy, or the
// tool and library that the service takes from the working directory in the meantime. The
// run log is open too, for everyone to read and append to, but not to delete or rename.
struct LaunchHolds {
    FileHandle log, program, copy, tool, library;
};

FileHandle HoldForReading(const wchar_t* path)
{
    return FileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

void HoldWorkDirFile(const wchar_t* workDir, const wchar_t* name, FileHandle* held)
{
    zqWString path;
    if (workDir != nullptr && FormatInto(path, L"%s\\%s", workDir, name))
        *held = HoldForReading(path.Get());
}

int RunLauncher(ServiceState state, bool silent, RunMode runMode)
{
    InitRunLogPath(RunLogName(runMode));
    LaunchHolds holds;
    holds.log = StartRunLog();
    // An earlier launch's report is never to be read as this one's, whatever ends this one.
    zqWString reportPath;
    if (ReportName(runMode) != nullptr && SystemDriveFile(ReportName(runMode), &reportPath))
        DeleteFileW(reportPath.Get());

    zqWString module;
    Result programPath = ProgramPath(&module);
    bool haveModule = programPath.ok;
    DWORD moduleError = programPath.error;
    if (haveModule)
        holds.program = HoldForReading(module.Get());
    // The script is read once, first: its exit code convention rules every code from here on.
    zqWString scriptPath, currentDir;
    ScriptSource source;
    Result formed = BuildScriptPath(module, &scriptPath, &currentDir);
    DWORD pathError = formed.ok ? ERROR_FILENAME_EXCED_RANGE : formed.error;
    if (formed.ok)
        ReadScriptSource(scriptPath.Get(), &source);
    LaunchOutcome launch;
    StartLaunchOutcome(&launch, runMode, ConventionOf(&source));
    const wchar_t* workDir = currentDir.length > 0 ? currentDir.Get() : nullptr;
    // A cut path would name another file.
    if (!formed.ok || scriptPath.length > kMaxScriptPathUnits) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorScriptPathTooLong, (int)pathError);
        return EndBeforeRun(&launch, kErrorScriptPathTooLong, pathError, scriptPath.Get(), workDir);
    }

    // A block of that name that is there already is someone else's: it could name another
    // script to the service. Nothing is done then.
    bool existed = false;
    KernelHandle block = CreateStatusBlock(&existed);
    if (existed) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorBlockExists, (int)ERROR_ALREADY_EXISTS);
        return EndBeforeRun(&launch, kErrorBlockExists, ERROR_ALREADY_EXISTS, scriptPath.Get(), workDir);
    }
    if (block.Valid()) {
        FillStatusBlock(block.Get(), scriptPath.Get(), workDir);
        WriteBlockConvention(block.Get(), launch.convention);
    }
    HoldWorkDirFile(workDir, L"gacutil.exe", &holds.tool);
    HoldWorkDirFile(workDir, L"DIFxAPI.dll", &holds.library);

    // Without a copy of its own the service would read whatever stands at the copy's name. A
    // missing script leaves an empty copy, and the run goes on with nothing listed.
    DWORD error = ERROR_SUCCESS;
    PrepareResult prepared = PrepareScript(scriptPath.Get(), &source, &holds.copy, &error);
    if (prepared == PrepareResult::CopyNotMade ||
        (prepared == PrepareResult::ScriptUnreadable && error == ERROR_FILE_TOO_LARGE)) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorNoPreparedCopy, (int)error);
        holds.copy.Close();
        RemovePreparedCopy(scriptPath.Get());
        return EndBeforeRun(&launch, kErrorNoPreparedCopy, error, scriptPath.Get(), workDir);
    }

    // The program path is quoted: its folder may hold blanks.
    zqWString commandLine;
    if (haveModule && !FormatInto(commandLine, L"\"%s\" -srvcrun", module.Get())) {
        haveModule = false;
        moduleError = ERROR_NOT_ENOUGH_MEMORY;
    }

    if (state != Absent) {
        Result removed = RemoveLeftOverService();
        if (!removed.ok) {
            WriteLog(1, "zqclean error(%i): %i\n", kErrorLeftOverService, (int)removed.error);
            return EndBeforeRun(&launch, kErrorLeftOverService, removed.error, scriptPath.Get(), workDir);
        }
    }

    bool installed = false;
    // Shown from the start of the service on, while there is a desktop to show it on.
    ProgressWindow window;
    Result install = haveModule ? InstallCleanService(commandLine.Get()) : FailedBy(moduleError);
    if (!install.ok) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorInstall, (int)install.error);
        NoteLaunchError(&launch, kErrorInstall, install.error);
    } else {
        installed = true;
        if (!silent)
            OpenProgressWindow(&window);
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        Result started = manager != nullptr ? StartCleanService(manager, RunModeArgument(runMode)) : LastFailure();
        if (started.ok) {
            launch.cancelled = WaitForServiceToStop(block.Get(), window.window.Valid() ? &window : nullptr);
        } else {
            DWORD error = started.error;
            if (error == 0) {
                WriteLog(1, "zqclean error(%i)\n", kErrorStartNoSystemError);
                WriteResultLine(ReadBlockStatus(block.Get()));
            } else {
                WriteLog(1, "zqclean error(%i): error: %i\n", kErrorStart, (int)error);
            }
            NoteLaunchError(&launch, error == 0 ? kErrorStartNoSystemError : kErrorStart, error);
        }
    }

    CloseProgressWindow(&window);
    if (installed)
        RemoveInstalledService();

    int result = EndAfterRun(launch, block.Get(), scriptPath.Get(), workDir);
    block.Close();

    holds.copy.Close();
    RemovePreparedCopy(scriptPath.Get());

    // A cancelled launch ends without the message: the window that was cancelled is the answer.
    if (!silent && !launch.cancelled)
        MessageBoxW(nullptr, L"ZU Rovid is finished.", L"ZU Rovid", MB_OK);
    return result;
}

// Libraries are looked for in the system folders and the program's own folder only, never in
// the current folder or along PATH, where anyone may have put one. Looked up at run time: the
// oldest systems we serve lack the call.
void RestrictLibrarySearch()
{
    // Both looked up: Windows XP before its first service pack has neither.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
    SetDllDirectoryFn setDirectory =
        reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
    if (setDirectory != nullptr)
        setDirectory(L"");
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
}

}  // namespace

int ZqcleanMain()
{
    RestrictLibrarySearch();
    InitRunLogPath();
    LaunchMode mode = ModeFromCommandLine();
    ServiceState state = Absent;
    if (!QueryServiceState(&state)) {
        // Nothing can be done without the service manager; classic launches say 0 for that.
        bool standard = mode != ModeService && WorkDirConvention() == ExitConvention::Standard;
        return standard ? StandardExitCode(LaunchEnd::Failed) : 0;
    }
    switch (mode) {
    case ModeService:
        return RunServiceHost(state);
    case ModeRemove:
        return RemoveService();
    case ModeSilent:
        return RunLauncher(state, true, RunMode::Clean);
    case ModePreview:
        return RunLauncher(state, true, RunMode::Preview);
    case ModeRestore:
        return RunLauncher(state, true, RunMode::Restore);
    case ModeSnapshot:
        return RunLauncher(state, true, RunMode::Snapshot);
    case ModeDraft:
        return RunLauncher(state, true, RunMode::Draft);
    case ModeLauncher:
    default:
        return RunLauncher(state, false, RunMode::Clean);
    }
}
