#include "run/RunVerdict.h"

#include "shared/StatusBlock.h"

namespace {

int Count(const RunReport& report, OutcomeKind kind)
{
    return report.counts[static_cast<int>(kind)];
}

}  // namespace

LaunchEnd SettleRunEnd(RunReport* report, bool restartNeeded, bool stopRequested, ExitConvention convention)
{
    // A preview changes nothing, so it needs no restart, whatever it would schedule.
    report->rebootRequired = report->mode != RunMode::Preview &&
                             (restartNeeded || Count(*report, OutcomeKind::RemovedAtRestart) > 0);
    int notDone = Count(*report, OutcomeKind::Failed) + Count(*report, OutcomeKind::Refused) +
                  Count(*report, OutcomeKind::CopyKept);
    // A restore that wrote no phase found no backup to work from: nothing was put back.
    bool nothingToRestore = report->mode == RunMode::Restore && report->phases.count == 0;
    int found = Count(*report, OutcomeKind::WouldRemove) + Count(*report, OutcomeKind::WouldRemoveAtRestart);

    LaunchEnd end = LaunchEnd::Clean;
    if (report->status == kStatusRefused)
        end = LaunchEnd::RefusedFolder;
    else if (!report->completed)
        end = stopRequested ? LaunchEnd::Stopped : LaunchEnd::Failed;
    else if (notDone > 0 || nothingToRestore)
        end = LaunchEnd::Failed;
    else if (report->mode == RunMode::Preview)
        end = found > 0 ? LaunchEnd::Found : LaunchEnd::Clean;
    else if (report->rebootRequired)
        end = LaunchEnd::RestartNeeded;
    report->exitCode = convention == ExitConvention::Standard ? StandardExitCode(end) : report->status;
    return end;
}
