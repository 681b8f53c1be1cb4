// Querying, installing, starting, stopping and deleting the service "zqcleansrvc".
#pragma once

#include <windows.h>

enum ServiceState { Absent = 1, Running = 2, NotRunning = 3 };

extern const wchar_t kServiceName[];         // "zqcleansrvc"
extern const wchar_t kServiceDisplayName[];  // "ZU Rovid Service"

bool QueryServiceState(ServiceState* state);
bool InstallCleanService(const wchar_t* commandLine);
// Both take over the manager handle and close it on every path. The argument (none when empty)
// reaches the service main.
bool StartCleanService(SC_HANDLE manager, const wchar_t* argument = L"");
bool StopCleanService(SC_HANDLE manager);
bool DeleteCleanService();
