#include "engine/PhaseDriver.h"  // a registry primitive may not know the phases
