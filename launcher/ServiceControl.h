// Querying, installing, starting, stopping and deleting the service "zqcleansrvc".
#pragma once

#include <windows.h>

#include "foundation/Result.h"

enum ServiceState { Absent = 1, Running = 2, NotRunning = 3 };

extern const wchar_t kServiceName[];         // "zqcleansrvc"
extern const wchar_t kServiceDisplayName[];  // "ZU Rovid Service"

bool QueryServiceState(ServiceState* state);
Result InstallCleanService(const wchar_t* commandLine);
// Both take over the manager handle and close it on every path. The argument (none when empty)
// reaches the service main. A start fails with the service's own exit code when it stopped with
// one, and with ERROR_SUCCESS when it was still starting after the time it is given.
Result StartCleanService(SC_HANDLE manager, const wchar_t* argument = L"");
bool StopCleanService(SC_HANDLE manager);
// Sends the running service the service manager's stop request and returns at once: true when
// the service took it (its run then ends at its next check, however long its stop then takes).
bool RequestServiceStop();
Result DeleteCleanService();
