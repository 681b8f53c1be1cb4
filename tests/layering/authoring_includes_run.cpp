#include "run/CleaningRun.h"  // writing a script stands beside the run, never on it
