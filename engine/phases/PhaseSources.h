// Each phase's part of the phase table: how its entries become targets, and what it needs
// before its header and after its summary.
#pragma once

#include "phases/PhaseDriver.h"

PhaseStart StartDriverPackages(RunContext& run);
void OfferDriverPackages(RunContext& run, PhaseRun& phase);
void FinishDriverPackages(RunContext& run);

void OfferInfFiles(RunContext& run, PhaseRun& phase);
void OfferServiceKeys(RunContext& run, PhaseRun& phase);

// The [maskedfiles] matches join the files before the header counts them.
PhaseStart StartFiles(RunContext& run);
void OfferFiles(RunContext& run, PhaseRun& phase);

void OfferAssemblies(RunContext& run, PhaseRun& phase);
void OfferFolders(RunContext& run, PhaseRun& phase);
void OfferRegistryEntries(RunContext& run, PhaseRun& phase);
void OfferSetupRegistration(RunContext& run, PhaseRun& phase);
void OfferDeviceKeys(RunContext& run, PhaseRun& phase);

// A restore: the newest backup of the folder the script names.
PhaseStart StartRestore(RunContext& run);
void OfferRestoreItems(RunContext& run, PhaseRun& phase);
void FinishRestore(RunContext& run);
