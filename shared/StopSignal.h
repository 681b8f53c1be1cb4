// The service's current state, written by the service control handler and read by the run
// at its poll points. A stop request is present when it is stop pending (3) or stopped (1).
#pragma once

#include <windows.h>

#include <atomic>

std::atomic<unsigned long>& ServiceCurrentState();
bool StopRequested();
// Stores the state; a stop request also sets the stop event, so that a wait on a tool ends at
// once.
void StoreServiceState(unsigned long state);
// A manual-reset event, set while a stop request stands (null when none could be made).
HANDLE StopEvent();
