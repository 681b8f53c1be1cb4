// The service side: the service main and its control handler.
#pragma once

#include <windows.h>

void WINAPI CleanServiceMain(DWORD argc, LPWSTR* argv);
void WINAPI CleanServiceHandler(DWORD control);

// A stop request reports the stopped state at once, so the dispatcher can return while the
// cleaning run still finishes its current item. The service process calls this after the
// dispatcher returned: it waits while the service main is still running, at most timeoutMs,
// and is true when the service main is not (or no longer) running.
bool WaitForCleanServiceEnd(DWORD timeoutMs);
