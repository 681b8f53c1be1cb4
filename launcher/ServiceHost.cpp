#include "launcher/ServiceHost.h"

#include <atomic>

#include "authoring/Authoring.h"
#include "run/CleaningRun.h"
#include "shared/StopSignal.h"
#include "shared/RunLog.h"
#include "launcher/ServiceControl.h"

namespace {

// The one status record of the process. The control handler (dispatcher thread) and the
// service main (service thread) both report through it; the lock keeps a report from mixing
// the fields of two updates. The current state is mirrored into the run's stop signal.
SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS serviceStatus = {};
CRITICAL_SECTION statusLock;

enum ServiceMainPhase { MainNotStarted, MainRunning, MainReturned };
std::atomic<int> mainPhase{MainNotStarted};

void Report(DWORD state, DWORD checkPoint, DWORD waitHint)
{
    EnterCriticalSection(&statusLock);
    serviceStatus.dwServiceType = SERVICE_WIN32;
    serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    serviceStatus.dwWin32ExitCode = NO_ERROR;
    serviceStatus.dwServiceSpecificExitCode = 0;
    serviceStatus.dwCurrentState = state;
    serviceStatus.dwCheckPoint = checkPoint;
    serviceStatus.dwWaitHint = waitHint;
    StoreServiceState(state);
    SetServiceStatus(statusHandle, &serviceStatus);
    LeaveCriticalSection(&statusLock);
}

}  // namespace

void WINAPI CleanServiceMain(DWORD argc, LPWSTR* argv)
{
    // argv[0] is the service's name; a start argument asks for a mode.
    RunMode mode = argc > 1 ? RunModeFromArgument(argv[1]) : RunMode::Clean;
    InitRunLogPath(RunLogName(mode));
    mainPhase.store(MainRunning);
    InitializeCriticalSection(&statusLock);
    statusHandle = RegisterServiceCtrlHandlerW(kServiceName, CleanServiceHandler);
    if (statusHandle == nullptr) {
        mainPhase.store(MainReturned);
        return;
    }
    Report(SERVICE_START_PENDING, 0, 1);
    Report(SERVICE_RUNNING, 1, 0);
    if (IsAuthoringMode(mode))
        RunAuthoring(mode);
    else
        RunCleaning(mode);
    Report(SERVICE_STOPPED, 1, 0);
    mainPhase.store(MainReturned);
}

void WINAPI CleanServiceHandler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP) {
        // The manager learns at once that the service stopped; the run sees the state at its
        // next check and ends there.
        Report(SERVICE_STOP_PENDING, 0, 1);
        Report(SERVICE_STOPPED, 0, 0);
        return;
    }
    EnterCriticalSection(&statusLock);
    SetServiceStatus(statusHandle, &serviceStatus);
    LeaveCriticalSection(&statusLock);
}

bool WaitForCleanServiceEnd(DWORD timeoutMs)
{
    const DWORD pollMs = 50;
    for (DWORD waited = 0; mainPhase.load() == MainRunning; waited += pollMs) {
        if (waited >= timeoutMs)
            return false;
        Sleep(pollMs);
    }
    return true;
}
