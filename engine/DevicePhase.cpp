// Placeholder until the device removal lands.
#include "engine/Phases.h"

void DevicePhase(zqCleanScript&) {}
