// Writing a script: "-snapshot" records the places products install into, "-draft" compares the
// machine with that record and writes zqclean.draft.ini, the smallest script that removes what
// appeared since and nothing that was there before.
#pragma once

#include "shared/RunMode.h"

// The service host's work in the Snapshot and Draft modes, logged in the run log. Returns 1 on
// every path.
int RunAuthoring(RunMode mode);
