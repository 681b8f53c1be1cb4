// The one place where a run changes the machine: every removal of every phase comes here.
#pragma once

#include "engine/RunContext.h"
#include "engine/Target.h"

// Removes the target as its kind says, unless the guard refuses it.
Outcome Act(RunContext& run, const Target& target);
