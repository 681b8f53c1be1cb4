// Placeholder until the setup registration removal lands.
#include "registry/SetupRegistration.h"

void RemoveSetupRegistration() {}
