// The cleaning phases, in the order the run calls them. Each returns true when the run goes
// on and false when a stop request ended it (it has then written what its stop rule allows).
#pragma once

class zqCleanScript;

bool DriverPackagePhase(zqCleanScript& script, const wchar_t* workDir);
bool InfPhase(zqCleanScript& script);
bool DriverServicePhase(zqCleanScript& script);
bool FilePhase(zqCleanScript& script);
bool DotNetPhase(zqCleanScript& script, const wchar_t* workDir);
bool FolderPhase(zqCleanScript& script);
// A drive root, a share root or the Windows folder: the folder phase never deletes these.
bool IsProtectedFolder(const wchar_t* path);
bool RegistryPhase(zqCleanScript& script);
void DevicePhase(zqCleanScript& script);

// The driver-install library's log callback (__cdecl, as the library calls it): one unstamped
// run-log line per event.
void __cdecl DifxLogCallback(int eventType, unsigned long errorCode, const wchar_t* description,
                             void* context);
