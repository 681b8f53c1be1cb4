// The service's current state, written by the service control handler and read by the run
// at its poll points. A stop request is present when it is stop pending (3) or stopped (1).
#pragma once

#include <atomic>

std::atomic<unsigned long>& ServiceCurrentState();
bool StopRequested();
