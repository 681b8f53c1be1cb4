// Placeholder until the driver service removal lands.
#include "engine/Phases.h"

bool DriverServicePhase(zqCleanScript&) { return true; }
