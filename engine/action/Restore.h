// Putting one item of a backup back where it was taken from.
#pragma once

#include "action/ActionContext.h"

// Restored, LeftAsItIs when something stands there again, CopyKept for a driver package that
// nothing can reinstall; otherwise Failed.
Outcome RestoreTarget(ActionContext& run, const Target& target);
