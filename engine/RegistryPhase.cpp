// Placeholder until the registry phase lands.
#include "engine/Phases.h"

bool RegistryPhase(zqCleanScript&) { return true; }
