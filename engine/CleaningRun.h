// One cleaning run: the whole work of the service host.
#pragma once

// Reads the status block and the prepared script copy, expands the lists and runs the phases.
// Returns 1 on every path.
int RunCleaning();
