// The service side: the service main and its control handler.
#pragma once

#include <windows.h>

void WINAPI CleanServiceMain(DWORD argc, LPSTR* argv);
void WINAPI CleanServiceHandler(DWORD control);
