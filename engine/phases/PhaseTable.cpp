// The phases of a run in their order, with their texts and stop rules.
#include "phases/PhaseSources.h"
#include "script/CleanScript.h"

namespace {

int DrvPackagesCount(const RunContext& run) { return run.script->drvPackages.count; }
int DriversCount(const RunContext& run) { return run.script->drivers.count; }
int FilesCount(const RunContext& run) { return run.lists.files.count; }
int DotNetCount(const RunContext& run) { return run.script->dotNet.count; }
int FoldersCount(const RunContext& run) { return run.lists.folders.count; }
int RegistryCount(const RunContext& run) { return run.script->registry.count; }
int BackupCount(const RunContext& run) { return run.backup.entries.count; }

const char kFailed[] = "FAILED(Err:%i)\n";
const StopRule kEachThenSummary = {true, EndPoll::AfterSummary};
const StopRule kEachNoSummary = {true, EndPoll::BeforeSummary};

}  // namespace

const PhaseRow kPhases[] = {
    {"driver packages", false, StartDriverPackages,
     "Delete driver packages(%i) from DriverStore:\n", DrvPackagesCount, OfferDriverPackages,
     "OK\n", kFailed, "%i driver packages are deleted from the DriverStore.\n", true, nullptr,
     FinishDriverPackages, kEachThenSummary},
    {"inf files", false, nullptr, "Delete infs:\n", nullptr, OfferInfFiles, "OK\n", kFailed,
     "%i inf files are deleted\n", true, nullptr, nullptr, kEachThenSummary},
    // Polled only once the loop is over.
    {"driver services", true, nullptr, "Delete driver services(%i):\n", DriversCount,
     OfferServiceKeys, "OK\n", kFailed, "%i driver services are deleted.\n", true, nullptr,
     nullptr, {false, EndPoll::BeforeSummary}},
    {"files", true, StartFiles, "Delete files(%i):\n", FilesCount, OfferFiles, "AFTER BOOT\n",
     kFailed, "%i files are deleted.\n", true, nullptr, nullptr, kEachThenSummary},
    {".NET assemblies", true, nullptr, "Delete .NET dlls from GAC(%i):\n", DotNetCount,
     OfferAssemblies, "OK\n", "FAILED. Error: %i(%i)\n", "%i .NET dlls are deleted.\n", true,
     nullptr, nullptr, kEachNoSummary},
    {"folders", true, nullptr, "Delete folders(%i):\n", FoldersCount, OfferFolders, "OK\n",
     kFailed, "%i folders are deleted.\n", true, nullptr, nullptr, kEachNoSummary},
    {"registry", true, nullptr, "Delete registry keys(%i):\n", RegistryCount,
     OfferRegistryEntries, "OK\n", kFailed, "%i registry keys are deleted\n", true, nullptr,
     nullptr, kEachThenSummary},
    // One line, whatever was found; never polled.
    {"setup registration", true, nullptr, "Undelete setup...", nullptr, OfferSetupRegistration,
     "OK\n", kFailed, "OK.\n", false, nullptr, nullptr, {false, EndPoll::None}},
    // A stop ends the loop; the summary and the run's closing line still follow.
    {"devices", true, nullptr, "Find enumerated devices to delete\n", nullptr, OfferDeviceKeys,
     "OK\n", kFailed, "%i enumerated devices are deleted.\n", true,
     "No enumerated devices found.\n", nullptr, {true, EndPoll::None}},
};
const int kPhaseCount = sizeof kPhases / sizeof kPhases[0];

// Puts back, newest first, what the newest backup holds of what its run removed.
const PhaseRow kRestorePhase = {"restore", true, StartRestore, "Restore items(%i):\n", BackupCount,
                                 OfferRestoreItems, "OK\n", kFailed, "%i items are restored.\n", true, nullptr,
                                 FinishRestore, kEachThenSummary};
