#include "run/CleaningRun.h"  // the phases do not know the run that drives them
