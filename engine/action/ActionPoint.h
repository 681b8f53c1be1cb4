// The one place where a run changes the machine: every removal of every phase comes here.
#pragma once

#include "action/ActionContext.h"

// Removes the target as its kind says, unless the guard refuses it: or, in a preview, says what
// a run would do, and in a restore puts it back.
Outcome Act(ActionContext& run, const Target& target);
