#include "phases/PhaseDriver.h"

#include "action/ActionPoint.h"
#include "shared/StopSignal.h"
#include "platform/SystemPaths.h"
#include "shared/RunLog.h"

namespace {

const char* ItemPrefix(TargetKind kind)
{
    switch (kind) {
    case TargetKind::RegistryKey: return "K: ";
    case TargetKind::RegistryValue: return "V: ";
    default: return "";
    }
}

void WriteOutcome(const PhaseRun& phase, const Target& target, const Outcome& outcome)
{
    const PhaseRow& row = *phase.row;
    switch (outcome.kind) {
    case OutcomeKind::Removed:
        WriteLog(0, "OK\n");
        break;
    case OutcomeKind::RemovedAtRestart:
        row.texts.WriteAfterBoot();
        break;
    case OutcomeKind::Failed:
    case OutcomeKind::Refused:
        row.texts.WriteFailed(outcome.error, outcome.exitCode);
        break;
    case OutcomeKind::WouldRemove:
        WriteLog(0, "WOULD DELETE\n");
        break;
    case OutcomeKind::WouldRemoveAtRestart:
        WriteLog(0, "WOULD DELETE AFTER BOOT\n");
        break;
    case OutcomeKind::Restored:
        WriteLog(0, "RESTORED\n");
        break;
    case OutcomeKind::LeftAsItIs:
        WriteLog(0, "EXISTS, LEFT AS IT IS\n");
        break;
    case OutcomeKind::CopyKept: {
        const BackupEntry* entry = phase.run->backup.entries.At(target.backupEntry);
        WriteLog(0, "NOT REINSTALLED, ITS COPY IS IN %S\\%S\n", phase.run->backup.folder.Get(),
                 entry != nullptr && entry->saved.count > 0 ? entry->saved.At(0)->Get() : L"");
        break;
    }
    }
}

bool PollAfterCandidate(PhaseRun& phase)
{
    if (phase.row->stop.afterEachCandidate && StopRequested()) {
        phase.stopped = true;
        return false;
    }
    return true;
}

}  // namespace

bool OfferTarget(PhaseRun& phase, const Target& target)
{
    ++phase.offered;
    if (target.shown != nullptr)
        WriteLog(0, "%s%S...", ItemPrefix(target.kind), target.shown);
    Outcome outcome = Act(*phase.run, target);
    if (target.shown != nullptr) {
        WriteOutcome(phase, target, outcome);
        ReportTarget(&phase.run->report, phase.row->name, target.shown, outcome);
    }
    if (Counts(outcome))
        ++phase.removed;
    LogBackupTrouble(*phase.run);
    return PollAfterCandidate(phase);
}

void LogBackupTrouble(RunContext& run)
{
    Backup& backup = run.backup;
    if (backup.troubleError == 0)
        return;
    WriteLog(1, "Backup journal cannot be written: %S (Err:%i)\n", backup.trouble.Get(), static_cast<int>(backup.troubleError));
    // Once: nothing more is saved or removed after it.
    backup.troubleError = 0;
}

bool PassOver(PhaseRun& phase)
{
    return PollAfterCandidate(phase);
}

void RefuseEntry(PhaseRun& phase, const wchar_t* shown, DWORD error, const char* reason)
{
    Outcome refusal = {OutcomeKind::Refused, error};
    refusal.reason = reason;
    WriteLog(0, "%S...", shown);
    phase.row->texts.WriteFailed(error, 0);
    ReportTarget(&phase.run->report, phase.row->name, shown, refusal);
}

void CountItems(PhaseRun& phase, int items)
{
    phase.items = items;
    PublishProgress(phase.run->progress, phase.number, 0, items);
}

void ReachItem(PhaseRun& phase, int index)
{
    PublishProgress(phase.run->progress, phase.number, index, phase.items);
}

bool RunPhase(RunContext& run, const PhaseRow& row, int number)
{
    if (!row.runsUnderWow64 && run.paths->isWow64)
        return true;
    PublishProgress(run.progress, number, 0, 0);  // what comes before the header is part of it
    if (row.Start != nullptr) {
        PhaseStart start = row.Start(run);
        if (start != PhaseStart::Go)
            return start == PhaseStart::Skip;
    }
    ReportPhase tally;
    tally.phase = row.name;
    if (row.HeaderCount != nullptr)
        tally.entries = row.HeaderCount(run);
    row.texts.WriteHeader(tally.entries);

    PhaseRun phase = {&row, &run, number, 0, 0, false, 0};
    CountItems(phase, tally.entries > 0 ? tally.entries : 0);
    row.OfferCandidates(run, phase);
    if (!phase.stopped)
        ReachItem(phase, phase.items);

    bool goOn = true;
    tally.removed = phase.removed;
    tally.summary = true;
    if (row.stop.endPoll == EndPoll::BeforeSummary && StopRequested())
        goOn = tally.summary = false;
    else
        row.texts.WriteSummary(phase.removed, phase.offered);
    ReportPhaseEnd(&run.report, tally);
    if (row.Finish != nullptr)
        row.Finish(run);
    if (goOn && row.stop.endPoll == EndPoll::AfterSummary && StopRequested())
        goOn = false;
    return goOn;
}
