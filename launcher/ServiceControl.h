// Querying, installing, starting, stopping and deleting the service "zqcleansrvc".
#pragma once

#include <windows.h>

enum ServiceState { Absent = 1, Running = 2, NotRunning = 3 };

extern const char kServiceName[];         // "zqcleansrvc"
extern const char kServiceDisplayName[];  // "ZU Rovid Service"

bool QueryServiceState(ServiceState* state);
bool InstallCleanService(const char* commandLine);
// Both take over the manager handle and close it on every path.
bool StartCleanService(SC_HANDLE manager);
bool StopCleanService(SC_HANDLE manager);
bool DeleteCleanService();
