// What the phases hand to the action point: one thing to remove, and what became of it.
#pragma once

#include <windows.h>

enum class TargetKind {
    DriverPackage,  // a package's INF in the driver store, uninstalled by the driver library
    InfFile,        // an INF file of the system INF folder, with its precompiled .pnf
    ServiceKey,     // a driver service's key, with everything below it
    File,           // a file, removed now or at the next restart
    Assembly,       // an assembly in the global assembly cache, by name
    Folder,         // a folder with everything below it
    RegistryKey,    // a key with everything below it (keyOnly: the key alone)
    RegistryValue,  // one value of a key
    DeviceKey,      // a device or device interface key, with everything below it
};

struct Target {
    TargetKind kind;
    const wchar_t* path;                 // file, folder or INF path; key below root; assembly name
    HKEY root = nullptr;                 // the registry kinds
    REGSAM view = 0;                     // the registry kinds: the registry view (0: the process's own)
    const wchar_t* valueName = nullptr;  // RegistryValue ("" the default value)
    const wchar_t* shown = nullptr;      // the item line's text; null: the item writes no line
    bool unregisterFirst = false;        // File: an ActiveX control, unregistered before it goes
    bool keyOnly = false;                // RegistryKey: one deletion, which fails on subkeys
    int backupEntry = -1;                // a restore: the backup's entry that puts it back
};

enum class OutcomeKind {
    Removed,                // gone now
    RemovedAtRestart,       // scheduled for deletion at the next system start
    Failed,                 // error holds the system's (or the driver library's) code
    Refused,                // never touched: the target is one the system needs (error holds why)
    WouldRemove,            // a preview: the run would remove it now
    WouldRemoveAtRestart,   // a preview: it is in use, the run would schedule it
    Restored,               // a restore: put back from the backup
    LeftAsItIs,             // a restore: something stands there again, and it stays
    CopyKept,               // a restore: not reinstalled; its copy stays in the backup
};

struct Outcome {
    OutcomeKind kind;
    DWORD error = 0;
    DWORD exitCode = 0;            // Assembly: the tool's exit code
    const char* reason = nullptr;  // Refused: why, in words
};

inline Outcome FailedWith(DWORD error, DWORD exitCode = 0)
{
    return {OutcomeKind::Failed, error, exitCode};
}

inline bool Counts(const Outcome& outcome)
{
    return outcome.kind != OutcomeKind::Failed && outcome.kind != OutcomeKind::Refused &&
           outcome.kind != OutcomeKind::LeftAsItIs && outcome.kind != OutcomeKind::CopyKept;
}
