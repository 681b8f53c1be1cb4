// A run's backup, when the script asks for one ("[general] backup=<folder>"): before the action
// point removes a target it saves it into <folder>\<sequence>-<yyyymmdd-hhmmss>Z\ (or moves it
// there), and the journal there records it, written through, before the removal and its outcome
// after; the manifest sums the journal up after every phase. A target that cannot be saved or
// recorded is not removed. A restore reads the newest backup that holds something to put back.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/Handles.h"
#include "foundation/Result.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "guard/Guard.h"
#include "guard/Target.h"
#include "platform/Seal.h"

struct BackupEntry {
    int number = -1;         // the item's place in its run's order: its saved names begin with it
    TargetKind kind = TargetKind::File;
    HKEY root = nullptr;
    zqWString original;      // the path, key or assembly as the run took it
    zqWString valueName;     // RegistryValue
    bool keyOnly = false;    // RegistryKey
    zqList<zqWString> saved; // what lies in the backup folder, relative to it
    OutcomeKind outcome = OutcomeKind::Failed;
    bool settled = false;    // its outcome is recorded; a run that ended first leaves it open
    bool savedInPlace = true;  // read back: every saved name lies in the item's own place
    bool sealed = false;     // read back: its record carries the seal of its run's key
    std::string regSeal;     // a key or value: the seal of its saved .reg file's bytes
};

struct Backup {
    bool asked = false;
    bool made = false;              // the run's own folder was made
    DWORD error = 0;                // why nothing can be saved now (0: the folder is ready)
    const char* refusal = nullptr;  // the folder the script names is refused, and why
    zqWString folder;               // the run's folder (the folder named, when none was made)
    FileHandle journal;             // the run's journal, written through
    SealKey seal;                   // what the run's records are sealed with (a restore: read back)
    zqWString trouble;              // a file of the backup that could not be written, to log
    DWORD troubleError = 0;
    zqList<BackupEntry> entries;
};

// The names of a backup's journal and manifest in its folder.
extern const wchar_t kJournalName[];
extern const wchar_t kManifestName[];
extern const wchar_t kSealKeyName[];

// A run: checks the folder the script names (empty: no backup is asked for) and, unless only a
// preview asks, makes the run's own folder below it, so that only the system account and the
// administrators may change it and what is made inside. A folder that is no full path of a local
// drive, a protected folder, a folder that others may change, or one the run removes (or lies
// in) is refused: every target then fails and nothing is removed.
void StartBackup(Backup* backup, const wchar_t* root, const ProtectedPlaces& places,
                 const zqList<zqWString>& removedFolders, bool make);

enum class SaveStep {
    NothingThere,  // nothing to lose: removed as without a backup
    Saved,         // saved and recorded: remove it, then record the outcome
    Moved,         // saved and removed in one step, by moving it into the backup; recorded
};
// Saves what the target holds now and records it in the journal. A file or folder is moved into
// the backup where it can be (one rename, whatever the tree holds, and everything of it kept:
// times, attributes, security, streams), otherwise copied. *entry: the entry's number. What is
// not saved or not recorded fails, and is not to be removed.
Result SaveForRemoval(Backup* backup, const Target& target, SaveStep* step, int* entry);
// Records the outcome of the entry's removal in the journal.
void RecordOutcome(Backup* backup, int entry, const Outcome& outcome);
// manifest.json in the run's folder: every entry, whole or the one before.
Result WriteManifest(const Backup& backup, const wchar_t* script);
// The run's end: the manifest once more, or, when nothing was saved, no folder left at all.
// Fails when the manifest cannot be written.
Result FinishBackup(Backup* backup, const wchar_t* script);

// A restore: the newest backup below root that holds an entry to put back (root itself when it
// is a run's folder), with those entries in run order. Fails when there is none.
Result FindRestorableBackup(const wchar_t* root, Backup* backup);
// Whether a saved file (a key's .reg file) is byte for byte what the entry's run sealed.
bool SavedFileKeepsSeal(const Backup& backup, const BackupEntry& entry, const wchar_t* saved);
// Whether anyone but the system account and the administrators may change the backup's folder,
// manifest or journal: then nothing in it can be trusted.
bool OthersMayChangeBackup(const Backup& backup);
