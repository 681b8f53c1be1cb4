#include "launcher/Launcher.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>
#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "launcher/RunLog.h"
#include "launcher/ServiceControl.h"
#include "launcher/ServiceHost.h"
#include "launcher/StatusBlock.h"
#include "script/PrepareScript.h"

namespace {

enum RunMode { ModeLauncher, ModeSilent, ModeRemove, ModeService };

// Place codes of the error lines in the run log.
const int kErrorSecurityAttributes = 719;
const int kErrorDispatcher = 725;
const int kErrorScriptPathTooLong = 730;
const int kErrorLeftOverService = 780;
const int kErrorInstall = 787;
const int kErrorStartNoSystemError = 795;
const int kErrorStart = 798;

const wchar_t kScriptName[] = L"zqclean.ini";
const wchar_t kCopySuffix[] = L".srvc";
const int kPathUnits = 260;
// The prepared copy's name is the script path with ".srvc" appended in the same 260-unit
// buffer, so a script path may have at most 254 units.
const size_t kMaxScriptPathUnits = kPathUnits - 1 - (sizeof kCopySuffix / sizeof(wchar_t) - 1);

// How long the service process waits, after the dispatcher returned, for a cleaning run that
// a stop request cut short to reach its next check. Generous: one item may run a tool.
const DWORD kRunEndWaitMs = 5 * 60 * 1000;
// How long the launcher waits for its deleted service to disappear once its process ends.
const DWORD kServiceVanishWaitMs = 30 * 1000;

// Null DACL attributes of the service role (everyone has full access). Kept for the life of
// the process; nothing is created with them.
struct OpenAttributes {
    SECURITY_ATTRIBUTES attributes;
    PSECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES* pointer;
};
OpenAttributes openSecurityAttributes = {};

bool BuildOpenSecurityAttributes()
{
    PSECURITY_DESCRIPTOR descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (descriptor == nullptr)
        return false;
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE)) {
        DWORD error = GetLastError();
        LocalFree(descriptor);
        SetLastError(error);
        return false;
    }
    openSecurityAttributes.descriptor = descriptor;
    openSecurityAttributes.attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    openSecurityAttributes.attributes.lpSecurityDescriptor = descriptor;
    openSecurityAttributes.attributes.bInheritHandle = TRUE;
    openSecurityAttributes.pointer = &openSecurityAttributes.attributes;
    return true;
}

void FreeOpenSecurityAttributes()
{
    if (openSecurityAttributes.descriptor != nullptr)
        LocalFree(openSecurityAttributes.descriptor);
    openSecurityAttributes.descriptor = nullptr;
    openSecurityAttributes.attributes.lpSecurityDescriptor = nullptr;
    openSecurityAttributes.pointer = nullptr;
}

// Only a single argument is examined, case-insensitively; anything else is the launcher.
RunMode ModeFromCommandLine()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return ModeLauncher;
    RunMode mode = ModeLauncher;
    if (count == 2 && arguments[1][0] != 0) {
        if (_wcsicmp(arguments[1], L"-s") == 0)
            mode = ModeSilent;
        else if (_wcsicmp(arguments[1], L"-u") == 0)
            mode = ModeRemove;
        else if (_wcsicmp(arguments[1], L"-srvcrun") == 0)
            mode = ModeService;
    }
    LocalFree(arguments);
    return mode;
}

int RunServiceHost(ServiceState state)
{
    // A second copy does not enter the dispatcher.
    if (state == Running)
        return 1;
    if (!BuildOpenSecurityAttributes()) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorSecurityAttributes, (int)GetLastError());
        return 0;
    }
    char serviceName[32];
    FormatA(serviceName, sizeof serviceName, "%s", kServiceName);
    SERVICE_TABLE_ENTRYA table[] = {{serviceName, CleanServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorDispatcher, (int)GetLastError());
        FreeOpenSecurityAttributes();
        return 1;
    }
    // The dispatcher returns once the service reported itself stopped, which a stop request
    // does before the run has ended: let the run finish its current item first.
    WaitForCleanServiceEnd(kRunEndWaitMs);
    FreeOpenSecurityAttributes();
    return 1;
}

int RemoveService()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr)
        StopCleanService(manager);
    DeleteCleanService();
    return 1;
}

// The script path from the current directory, or, when no memory can be had for it, from
// the program's own folder (then there is no directory copy for the status block). False
// when the path, with room for ".srvc", does not fit: a cut path would name another file.
bool BuildScriptPath(wchar_t scriptPath[kPathUnits], HeapBlock* currentDir)
{
    DWORD units = GetCurrentDirectoryW(0, nullptr);
    currentDir->Reset(units != 0 ? malloc(units * sizeof(wchar_t)) : nullptr);
    wchar_t* dir = static_cast<wchar_t*>(currentDir->Get());
    if (dir != nullptr) {
        DWORD got = GetCurrentDirectoryW(units, dir);
        if (got == 0 || got >= units)
            return false;
        if (got + 1 + wcslen(kScriptName) > kMaxScriptPathUnits) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        FormatW(scriptPath, kPathUnits, L"%s\\%s", dir, kScriptName);
        return true;
    }
    wchar_t module[kPathUnits] = {};
    DWORD length = GetModuleFileNameW(nullptr, module, kPathUnits);
    if (length == 0 || length >= static_cast<DWORD>(kPathUnits)) {
        SetLastError(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    wchar_t* cut = nullptr;
    for (wchar_t* c = module; *c != 0; ++c) {
        if (*c == L'/')
            *c = L'\\';
        if (*c == L'\\')
            cut = c;
    }
    if (cut != nullptr)
        cut[1] = 0;
    else
        module[0] = 0;
    if (wcslen(module) + wcslen(kScriptName) > kMaxScriptPathUnits) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    FormatW(scriptPath, kPathUnits, L"%s%s", module, kScriptName);
    return true;
}

// The service's command line: the quoted module path (it may hold blanks) and the switch.
bool BuildServiceCommandLine(char* commandLine, size_t size)
{
    char module[324] = {};
    DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
    if (length == 0 || length >= sizeof module) {
        if (length != 0)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    FormatA(commandLine, size, "\"%s\" -srvcrun", module);
    return true;
}

void RemovePreparedCopy(const wchar_t* scriptPath)
{
    wchar_t copyPath[kPathUnits];
    FormatW(copyPath, kPathUnits, L"%s%s", scriptPath, kCopySuffix);
    if (DeleteFileW(copyPath))
        return;
    DWORD error = GetLastError();
    // Nothing to schedule for a copy that was never written.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return;
    MoveFileExW(copyPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// A deleted service stays registered, marked for deletion, until its process has ended.
// Waits, bounded, until it is gone, so that a launch leaves no service behind and the next
// launch does not find this one's.
bool WaitForServiceToVanish()
{
    for (DWORD waited = 0;; waited += 100) {
        ServiceState state = NotRunning;
        if (!QueryServiceState(&state) || state == Absent)
            return true;
        if (waited >= kServiceVanishWaitMs)
            return false;
        Sleep(100);
    }
}

void RemoveInstalledService()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr)
        StopCleanService(manager);
    if (DeleteCleanService() || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE)
        WaitForServiceToVanish();
}

// A left-over service is stopped and deleted; one that an earlier launch already deleted
// only has to finish going away.
bool RemoveLeftOverService()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr)
        StopCleanService(manager);
    if (DeleteCleanService())
        return true;
    if (GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return false;
    if (WaitForServiceToVanish())
        return true;
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return false;
}

// Waits for the started service to stop. The wait also ends when the manager or the
// service's status cannot be read, and when the service is gone (someone else deleted it):
// nothing would ever report its end then.
void WaitForServiceToStop()
{
    for (;;) {
        ServiceState state = Absent;
        if (!QueryServiceState(&state) || state == NotRunning || state == Absent)
            return;
        Sleep(100);
    }
}

int RunLauncher(ServiceState state, bool silent)
{
    TruncateRunLog();

    wchar_t scriptPath[kPathUnits] = {};
    HeapBlock currentDir;
    if (!BuildScriptPath(scriptPath, &currentDir)) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorScriptPathTooLong, (int)GetLastError());
        return 0;
    }

    KernelHandle block = CreateStatusBlock();
    if (block.Valid())
        FillStatusBlock(block.Get(), scriptPath, static_cast<const wchar_t*>(currentDir.Get()));
    currentDir.Close();

    PrepareScript(scriptPath);

    char commandLine[324 + 16] = {};
    bool haveCommandLine = BuildServiceCommandLine(commandLine, sizeof commandLine);
    DWORD commandLineError = GetLastError();

    if (state != Absent) {
        if (!RemoveLeftOverService()) {
            WriteLog(1, "zqclean error(%i): %i\n", kErrorLeftOverService, (int)GetLastError());
            return 0;
        }
    }

    bool installed = false;
    if (!haveCommandLine) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorInstall, (int)commandLineError);
    } else if (!InstallCleanService(commandLine)) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorInstall, (int)GetLastError());
    } else {
        installed = true;
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager != nullptr && StartCleanService(manager)) {
            WaitForServiceToStop();
        } else {
            DWORD error = GetLastError();
            if (error == 0) {
                WriteLog(1, "zqclean error(%i)\n", kErrorStartNoSystemError);
                WriteResultLine(ReadBlockStatus(block.Get()));
            } else {
                WriteLog(1, "zqclean error(%i): error: %i\n", kErrorStart, (int)error);
            }
        }
    }

    if (installed)
        RemoveInstalledService();

    int result = -1;
    if (block.Valid()) {
        result = ReadBlockStatus(block.Get());
        block.Close();
    }

    RemovePreparedCopy(scriptPath);

    if (!silent)
        MessageBoxA(nullptr, "ZU Rovid is finished.", "ZU Rovid", MB_OK);
    return result;
}

}  // namespace

int ZqcleanMain()
{
    InitRunLogPath();
    ServiceState state = Absent;
    if (!QueryServiceState(&state))
        return 0;
    switch (ModeFromCommandLine()) {
    case ModeService:
        return RunServiceHost(state);
    case ModeRemove:
        return RemoveService();
    case ModeSilent:
        return RunLauncher(state, true);
    case ModeLauncher:
    default:
        return RunLauncher(state, false);
    }
}
