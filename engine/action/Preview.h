// What a run would do with a target, for a preview that changes nothing.
#pragma once

#include "guard/Target.h"

// WouldRemove, or WouldRemoveAtRestart for what is held open now (a file, a tree holding one).
Outcome Foresee(const Target& target);
