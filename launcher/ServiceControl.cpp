#include "launcher/ServiceControl.h"

#include <time.h>

#include "foundation/Handles.h"

const wchar_t kServiceName[] = L"zqcleansrvc";
const wchar_t kServiceDisplayName[] = L"ZU Rovid Service";

namespace {

const time_t kStartLimitSeconds = 5;

}  // namespace

bool QueryServiceState(ServiceState* state)
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
    if (!manager.Valid())
        return false;
    ServiceHandle service(OpenServiceW(manager.Get(), kServiceName, GENERIC_READ));
    if (!service.Valid()) {
        *state = Absent;
        return true;
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.Get(), &status))
        return false;
    *state = status.dwCurrentState == SERVICE_RUNNING ? Running : NotRunning;
    return true;
}

Result InstallCleanService(const wchar_t* commandLine)
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.Valid())
        return LastFailure();
    // Shared-process type with the interactive flag, under the local system account (no
    // account given). Started on demand only: a service that a killed launcher left behind
    // never starts at boot.
    ServiceHandle service(CreateServiceW(manager.Get(), kServiceName, kServiceDisplayName,
                                         SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, commandLine,
                                         nullptr, nullptr, nullptr, nullptr, nullptr));
    return service.Valid() ? Succeeded() : LastFailure();
}

Result StartCleanService(SC_HANDLE managerHandle, const wchar_t* argument)
{
    ServiceHandle manager(managerHandle);
    if (!manager.Valid())
        return FailedBy(ERROR_INVALID_HANDLE);
    ServiceHandle service(OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service.Valid())
        return LastFailure();
    SERVICE_STATUS status = {};
    // The run's mode travels as the service's one start argument.
    const wchar_t* arguments[1] = {argument};
    bool haveArgument = argument != nullptr && argument[0] != 0;
    if (!StartServiceW(service.Get(), haveArgument ? 1 : 0, haveArgument ? arguments : nullptr) ||
        !QueryServiceStatus(service.Get(), &status))
        return LastFailure();

    // Wait out the start, for a few seconds of calendar time at most.
    time_t started = time(nullptr);
    while (status.dwCurrentState == SERVICE_START_PENDING) {
        Sleep(status.dwWaitHint);
        if (!QueryServiceStatus(service.Get(), &status))
            break;
        if (time(nullptr) - started > kStartLimitSeconds)
            break;
    }
    if (status.dwCurrentState == SERVICE_RUNNING)
        return Succeeded();
    // A short run can be over before the first look: a service that has already stopped
    // without an error has started, run and ended, and the launcher's wait ends at once.
    if (status.dwCurrentState == SERVICE_STOPPED && status.dwWin32ExitCode == NO_ERROR)
        return Succeeded();
    // Otherwise the service's own exit code is the error; a start still pending after the
    // limit has none, which the launcher tells apart from a failed start.
    return FailedBy(status.dwCurrentState == SERVICE_STOPPED ? status.dwWin32ExitCode : NO_ERROR);
}

bool StopCleanService(SC_HANDLE managerHandle)
{
    ServiceHandle manager(managerHandle);
    if (!manager.Valid())
        return false;
    ServiceHandle service(OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service.Valid())
        return false;
    SERVICE_STATUS status = {};
    if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
        return false;
    // No overall limit: the wait lasts while the service keeps advancing its checkpoint.
    while (status.dwCurrentState == SERVICE_STOP_PENDING) {
        DWORD checkPoint = status.dwCheckPoint;
        Sleep(status.dwWaitHint);
        if (!QueryServiceStatus(service.Get(), &status))
            break;
        if (status.dwCheckPoint <= checkPoint)
            break;
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

bool RequestServiceStop()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid())
        return false;
    ServiceHandle service(OpenServiceW(manager.Get(), kServiceName, SERVICE_STOP));
    SERVICE_STATUS status = {};
    return service.Valid() && ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
}

Result DeleteCleanService()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.Valid())
        return LastFailure();
    ServiceHandle service(OpenServiceW(manager.Get(), kServiceName, DELETE));
    if (!service.Valid())
        return LastFailure();
    return Checked(DeleteService(service.Get()));
}
