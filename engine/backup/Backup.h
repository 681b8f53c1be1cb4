// A run's backup, when the script asks for one ("[general] backup=<folder>"): before the action
// point removes a target it saves it into <folder>\<yyyymmdd-hhmmss>\ (or moves it there), and the manifest there
// says what was saved, from where, and what the run then did with it. A target that cannot be
// saved is not removed.
#pragma once

#include <windows.h>

#include "guard/Target.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"

struct BackupEntry {
    TargetKind kind = TargetKind::File;
    HKEY root = nullptr;
    zqWString original;      // the path, key or assembly as the run took it
    zqWString valueName;     // RegistryValue
    bool keyOnly = false;    // RegistryKey
    zqList<zqWString> saved; // what lies in the backup folder, relative to it
    OutcomeKind outcome = OutcomeKind::Failed;
};

struct Backup {
    bool asked = false;
    DWORD error = 0;         // why the folder could not be made (0: it was)
    zqWString folder;        // <backup>\<yyyymmdd-hhmmss>
    zqList<BackupEntry> entries;
};

// Makes the backup's own folder below root (empty root: no backup is asked for).
void StartBackup(Backup* backup, const wchar_t* root);
// Saves what the target holds now. -1 with true: nothing there to lose; -1 with false: it
// could not be saved (GetLastError tells why); otherwise the entry's number.
bool SaveTarget(Backup* backup, const Target& target, int* entry);
// Saves and removes a file or folder in one step, by moving it into the backup: one rename
// whatever the tree holds, and everything of it kept (times, attributes, security, streams).
// False, with the target left as it was, when it cannot be moved (another volume, something
// in use, a file to unregister first): it is then saved by copying.
bool SaveByMoving(Backup* backup, const Target& target, int* entry);
void RecordOutcome(Backup* backup, int entry, const Outcome& outcome);
// manifest.json in the backup's folder.
bool WriteManifest(const Backup& backup, const wchar_t* script);

// The newest backup below root and its entries, for a restore; false (GetLastError tells why)
// when there is none or its manifest cannot be read.
bool ReadNewestBackup(const wchar_t* root, Backup* backup);
