// What a run's outcomes come to: whether the machine needs a restart, how the launch ends, and
// the exit code its report names.
#pragma once

#include "phases/RunReport.h"
#include "shared/ExitCodes.h"

// Sets the report's reboot_required and exit_code and gives the end for the launcher. A run
// that did not reach its end was stopped when a stop request is present, and failed otherwise.
LaunchEnd SettleRunEnd(RunReport* report, bool restartNeeded, bool stopRequested, ExitConvention convention);
