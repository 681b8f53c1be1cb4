#include "engine/StopSignal.h"  // the run log and the status block may not know the run
