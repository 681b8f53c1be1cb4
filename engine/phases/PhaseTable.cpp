// The phases of a run in their order, with their texts and stop rules.
#include "phases/PhaseSources.h"
#include "script/CleanScript.h"
#include "shared/RunLog.h"

namespace {

int DrvPackagesCount(const RunContext& run) { return run.script->drvPackages.count; }
int DriversCount(const RunContext& run) { return run.script->drivers.count; }
int FilesCount(const RunContext& run) { return run.lists.files.count; }
int DotNetCount(const RunContext& run) { return run.script->dotNet.count; }
int FoldersCount(const RunContext& run) { return run.lists.folders.count; }
int RegistryCount(const RunContext& run) { return run.script->registry.count; }
int BackupCount(const RunContext& run) { return run.backup.entries.count; }

void Ok() { WriteLog(0, "OK\n"); }
void AfterBoot() { WriteLog(0, "AFTER BOOT\n"); }
void Failed(DWORD error, DWORD) { WriteLog(0, "FAILED(Err:%i)\n", static_cast<int>(error)); }
void ToolFailed(DWORD error, DWORD exitCode)
{
    WriteLog(0, "FAILED. Error: %i(%i)\n", static_cast<int>(error), static_cast<int>(exitCode));
}

const StopRule kEachThenSummary = {true, EndPoll::AfterSummary};
const StopRule kEachNoSummary = {true, EndPoll::BeforeSummary};

}  // namespace

const PhaseRow kPhases[] = {
    {
        .name = "driver packages",
        .runsUnderWow64 = false,
        .Start = StartDriverPackages,
        .HeaderCount = DrvPackagesCount,
        .OfferCandidates = OfferDriverPackages,
        .Finish = FinishDriverPackages,
        .texts = {
            .title = "Delete driver packages from DriverStore",
            .WriteHeader = [](int count) { WriteLog(1, "Delete driver packages(%i) from DriverStore:\n", count); },
            .WriteAfterBoot = Ok,
            .WriteFailed = Failed,
            .WriteSummary = [](int removed, int) {
                WriteLog(1, "%i driver packages are deleted from the DriverStore.\n", removed);
            },
        },
        .stop = kEachThenSummary,
    },
    {
        .name = "inf files",
        .runsUnderWow64 = false,
        .OfferCandidates = OfferInfFiles,
        .texts = {
            .title = "Delete infs",
            .WriteHeader = [](int) { WriteLog(1, "Delete infs:\n"); },
            .WriteAfterBoot = Ok,
            .WriteFailed = Failed,
            .WriteSummary = [](int removed, int) { WriteLog(1, "%i inf files are deleted\n", removed); },
        },
        .stop = kEachThenSummary,
    },
    {
        .name = "driver services",
        .runsUnderWow64 = true,
        .HeaderCount = DriversCount,
        .OfferCandidates = OfferServiceKeys,
        .texts = {
            .title = "Delete driver services",
            .WriteHeader = [](int count) { WriteLog(1, "Delete driver services(%i):\n", count); },
            .WriteAfterBoot = Ok,
            .WriteFailed = Failed,
            .WriteSummary = [](int removed, int) { WriteLog(1, "%i driver services are deleted.\n", removed); },
        },
        // Polled only once the loop is over.
        .stop = {false, EndPoll::BeforeSummary},
    },
    {
        .name = "files",
        .runsUnderWow64 = true,
        .Start = StartFiles,
        .HeaderCount = FilesCount,
        .OfferCandidates = OfferFiles,
        .texts = {
            .title = "Delete files",
            .WriteHeader = [](int count) { WriteLog(1, "Delete files(%i):\n", count); },
            .WriteAfterBoot = AfterBoot,
            .WriteFailed = Failed,
            .WriteSummary = [](int removed, int) { WriteLog(1, "%i files are deleted.\n", removed); },
        },
        .stop = kEachThenSummary,
    },
    {
        .name = ".NET assemblies",
        .runsUnderWow64 = true,
        .HeaderCount = DotNetCount,
        .OfferCandidates = OfferAssemblies,
        .texts = {
            .title = "Delete .NET dlls from GAC",
            .WriteHeader = [](int count) { WriteLog(1, "Delete .NET dlls from GAC(%i):\n", count); },
            .WriteAfterBoot = Ok,
            .WriteFailed = ToolFailed,
            .WriteSummary = [](int removed, int) { WriteLog(1, "%i .NET dlls are deleted.\n", removed); },
        },
        .stop = kEachNoSummary,
    },
    {
        .name = "folders",
        .runsUnderWow64 = true,
        .HeaderCount = FoldersCount,
        .OfferCandidates = OfferFolders,
        .texts = {
            .title = "Delete folders",
            .WriteHeader = [](int count) { WriteLog(1, "Delete folders(%i):\n", count); },
            .WriteAfterBoot = Ok,
            .WriteFailed = Failed,
            .WriteSummary = [](int removed, int) { WriteLog(1, "%i folders are deleted.\n", removed); },
        },
        .stop = kEachNoSummary,
    },
    {
        .name = "registry",
        .runsUnderWow64 = true,
        .HeaderCount = RegistryCount,
        .OfferCandidates = OfferRegistryEntries,
        .texts = {
            .title = "Delete registry keys",
            .WriteHeader = [](int count) { WriteLog(1, "Delete registry keys(%i):\n", count); },
            .WriteAfterBoot = Ok,
            .WriteFailed = Failed,
            .WriteSummary = [](int removed, int) { WriteLog(1, "%i registry keys are deleted\n", removed); },
        },
        .stop = kEachThenSummary,
    },
    {
        // One line, whatever was found; never polled.
        .name = "setup registration",
        .runsUnderWow64 = true,
        .OfferCandidates = OfferSetupRegistration,
        .texts = {
            .title = "Undelete setup",
            .WriteHeader = [](int) { WriteLog(1, "Undelete setup..."); },
            .WriteAfterBoot = Ok,
            .WriteFailed = Failed,
            .WriteSummary = [](int, int) { WriteLog(0, "OK.\n"); },
        },
        .stop = {false, EndPoll::None},
    },
    {
        .name = "devices",
        .runsUnderWow64 = true,
        .OfferCandidates = OfferDeviceKeys,
        .texts = {
            .title = "Find enumerated devices to delete",
            .WriteHeader = [](int) { WriteLog(1, "Find enumerated devices to delete\n"); },
            .WriteAfterBoot = Ok,
            .WriteFailed = Failed,
            .WriteSummary = [](int removed, int offered) {
                if (offered == 0)
                    WriteLog(1, "No enumerated devices found.\n");
                else
                    WriteLog(1, "%i enumerated devices are deleted.\n", removed);
            },
        },
        // A stop ends the loop; the summary and the run's closing line still follow.
        .stop = {true, EndPoll::None},
    },
};
const int kPhaseCount = sizeof kPhases / sizeof kPhases[0];

// Puts back, newest first, what the newest backup holds of what its run removed.
const PhaseRow kRestorePhase = {
    .name = "restore",
    .runsUnderWow64 = true,
    .Start = StartRestore,
    .HeaderCount = BackupCount,
    .OfferCandidates = OfferRestoreItems,
    .Finish = FinishRestore,
    .texts = {
        .title = "Restore items",
        .WriteHeader = [](int count) { WriteLog(1, "Restore items(%i):\n", count); },
        .WriteAfterBoot = Ok,
        .WriteFailed = Failed,
        .WriteSummary = [](int removed, int) { WriteLog(1, "%i items are restored.\n", removed); },
    },
    .stop = kEachThenSummary,
};
