// Placeholder until the driver-store removal lands.
#include "engine/Phases.h"

bool DriverPackagePhase(zqCleanScript&, const wchar_t*) { return true; }
void __stdcall DifxLogCallback(int, unsigned long, const wchar_t*, void*) {}
