#include "phases/PhaseDriver.h"  // the action point knows no phase
