// One cleaning run: the whole work of the service host.
#pragma once

#include "shared/RunMode.h"

// Reads the status block and the prepared script copy, expands the lists, runs the phases and
// writes the report. Returns 1 on every path.
int RunCleaning(RunMode mode = RunMode::Clean);
