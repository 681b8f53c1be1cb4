// The folders of a backup: where a run may keep one, the run's own folder (named by its sequence
// number and UTC time, so that no clock change can misorder them), and which one a restore reads.
#include "backup/BackupRecords.h"

#include <wchar.h>

#include <initializer_list>

#include "guard/BackupPlace.h"
#include "platform/Copy.h"
#include "platform/Paths.h"
#include "platform/Security.h"
#include "platform/WholeFile.h"

namespace {

// A journal or manifest larger than this is none of ours.
const size_t kLargestRecordFile = 1u << 30;

enum class FolderKind { None, Earlier, Current };

bool Digits(const wchar_t* text, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (text[i] < L'0' || text[i] > L'9')
            return false;
    return true;
}

// "<sequence>-<yyyymmdd>-<hhmmss>Z" names a run's folder; so did "<yyyymmdd>-<hhmmss>[-<n>]" in
// local time before.
FolderKind KindOfName(const wchar_t* name, unsigned long* sequence)
{
    size_t length = wcslen(name), digits = wcsspn(name, L"0123456789");
    *sequence = 0;
    if (digits >= 1 && digits <= 9 && length == digits + 17 && name[digits] == L'-' && Digits(name + digits + 1, 8) &&
        name[digits + 9] == L'-' && Digits(name + digits + 10, 6) && name[length - 1] == L'Z') {
        *sequence = wcstoul(name, nullptr, 10);
        return FolderKind::Current;
    }
    if (length >= 15 && Digits(name, 8) && name[8] == L'-' && Digits(name + 9, 6) &&
        (length == 15 || (name[15] == L'-' && length > 16 && Digits(name + 16, length - 16))))
        return FolderKind::Earlier;
    return FolderKind::None;
}

// Whether run folder a is newer than b.
bool Newer(const wchar_t* a, const wchar_t* b)
{
    unsigned long sequenceA, sequenceB;
    FolderKind kindA = KindOfName(a, &sequenceA), kindB = KindOfName(b, &sequenceB);
    if (kindA != kindB)
        return kindA > kindB;
    if (sequenceA != sequenceB)
        return sequenceA > sequenceB;
    return wcscmp(a, b) > 0;
}

// The run folders below root, newest first; fails when root cannot be listed.
Result RunFolders(const wchar_t* root, zqList<zqWString>* folders)
{
    zqWString pattern, extended;
    WIN32_FIND_DATAW entry;
    if (!ExtendedPath(root, &extended) || !FormatInto(pattern, L"%s\\*", extended.Get()))
        return NoMemory();
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    if (!listing.Valid())
        return LastFailure();
    do {
        unsigned long sequence;
        bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (!folder || KindOfName(entry.cFileName, &sequence) == FolderKind::None)
            continue;
        int at = 0;
        while (at < folders->count && Newer(folders->At(at)->Get(), entry.cFileName))
            ++at;
        zqWString name;
        if (name.Assign(entry.cFileName))
            folders->InsertAt(at, name);
    } while (FindNextFileW(listing.Get(), &entry));
    return Succeeded();
}

// A file of the backup, read whole: a backup folder may lie deep.
bool ReadBackupFile(const wchar_t* path, std::string* text)
{
    zqWString extended;
    HeapArray<char> bytes;
    size_t size = 0;
    if (!ExtendedPath(path, &extended) || !ReadWholeFile(extended.Get(), kLargestRecordFile, &bytes, &size).ok)
        return false;
    text->assign(bytes.Get(), size);
    return true;
}

bool HoldsRecords(const wchar_t* folder)
{
    zqWString path;
    return (FormatInto(path, L"%s\\%s", folder, kJournalName) && PathIsThere(path.Get())) ||
           (FormatInto(path, L"%s\\%s", folder, kManifestName) && PathIsThere(path.Get()));
}

// The run folder's entries that are to be put back: what its run removed, and what it may have
// removed before it ended unexpectedly (an entry saved, its outcome never recorded).
void ReadRunFolder(const wchar_t* folder, Backup* backup)
{
    // Without the key that only its run's account can unwrap, no record of it is sealed.
    zqWString path;
    std::string wrapped;
    backup->seal = SealKey();
    if (!FormatInto(path, L"%s\\%s", folder, kSealKeyName) || !ReadBackupFile(path.Get(), &wrapped) ||
        !UnwrapSealKey(wrapped, &backup->seal))
        backup->seal = SealKey();
    zqList<BackupEntry> byNumber;
    for (const wchar_t* name : {kManifestName, kJournalName}) {
        std::string text;
        if (FormatInto(path, L"%s\\%s", folder, name) && ReadBackupFile(path.Get(), &text))
            ReadRecords(text, backup->seal, &byNumber);
    }
    backup->entries.RemoveAll();
    for (int i = 0; i < byNumber.count; ++i) {
        BackupEntry* entry = byNumber.At(i);
        bool removed = !entry->settled || entry->outcome == OutcomeKind::Removed ||
                       entry->outcome == OutcomeKind::RemovedAtRestart;
        if (entry->number >= 0 && removed && backup->entries.AppendOwned(entry))
            byNumber.data[i] = nullptr;  // the backup's list owns it now
    }
}

}  // namespace

void StartBackup(Backup* backup, const wchar_t* root, const ProtectedPlaces& places,
                 const zqList<zqWString>& removedFolders, bool make)
{
    backup->asked = root != nullptr && root[0] != 0;
    if (!backup->asked || !backup->folder.Assign(root)) {
        backup->error = backup->asked ? ERROR_NOT_ENOUGH_MEMORY : 0;
        return;
    }
    DWORD error = 0;
    const char* reason = nullptr;
    if (IsUnfitForBackup(places, removedFolders, root, &error, &reason)) {
        backup->error = error;
        backup->refusal = reason;
        return;
    }
    // One that others may change could be swapped under the run (a link in place of its folder).
    if (PathIsThere(root) && OthersMayChange(root)) {
        backup->error = ERROR_ACCESS_DENIED;
        backup->refusal = "others may change it";
        return;
    }
    if (!make)
        return;
    OwnSecurity security;
    SYSTEMTIME now;
    GetSystemTime(&now);
    zqList<zqWString> earlier;
    Result made = MakeOwnSecurity(&security);
    if (made.ok)
        made = MakeFolders(root, &security.attributes);
    if (made.ok)
        made = RunFolders(root, &earlier);
    if (!made.ok) {
        backup->error = made.error != 0 ? made.error : ERROR_CANNOT_MAKE;
        return;
    }
    unsigned long sequence = 0;
    if (earlier.count > 0)
        KindOfName(earlier.At(0)->Get(), &sequence);
    // The next number after the newest; a folder of that name made meanwhile takes the one after.
    zqWString extended;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!FormatInto(backup->folder, L"%s\\%06lu-%04u%02u%02u-%02u%02u%02uZ", root, sequence + 1 + attempt, now.wYear,
                        now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond) ||
            !ExtendedPath(backup->folder.Get(), &extended)) {
            backup->error = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        made = Checked(CreateDirectoryW(extended.Get(), &security.attributes));
        if (made.ok) {
            backup->made = true;
            backup->error = OpenJournal(backup) ? 0 : backup->troubleError;
            return;
        }
        if (made.error != ERROR_ALREADY_EXISTS || attempt == 99) {
            backup->error = made.error != 0 ? made.error : ERROR_CANNOT_MAKE;
            break;
        }
    }
    backup->folder.Assign(root);
}

Result FinishBackup(Backup* backup, const wchar_t* script)
{
    backup->journal.Close();
    if (!backup->made)
        return Succeeded();
    if (backup->entries.count > 0)
        return WriteManifest(*backup, script);
    // Nothing saved: a later restore has nothing here to put back, and finds no folder either.
    for (const wchar_t* name : {kJournalName, kManifestName, kSealKeyName}) {
        zqWString path;
        if (FormatInto(path, L"%s\\%s", backup->folder.Get(), name))
            DeleteFileW(path.Get());
    }
    RemoveDirectoryW(backup->folder.Get());
    return Succeeded();
}

Result FindRestorableBackup(const wchar_t* root, Backup* backup)
{
    // A run's own folder may be named, to put back an older backup than the newest.
    if (HoldsRecords(root)) {
        backup->folder.Assign(root);
        ReadRunFolder(root, backup);
    } else {
        zqList<zqWString> folders;
        Result listed = RunFolders(root, &folders);
        if (!listed.ok)
            return listed;
        for (int i = 0; i < folders.count && backup->entries.count == 0; ++i)
            if (FormatInto(backup->folder, L"%s\\%s", root, folders.At(i)->Get()))
                ReadRunFolder(backup->folder.Get(), backup);
    }
    return backup->entries.count > 0 ? Succeeded() : FailedBy(ERROR_FILE_NOT_FOUND);
}

bool OthersMayChangeBackup(const Backup& backup)
{
    if (OthersMayChange(backup.folder.Get()))
        return true;
    for (const wchar_t* name : {kJournalName, kManifestName, kSealKeyName}) {
        zqWString path;
        if (!FormatInto(path, L"%s\\%s", backup.folder.Get(), name) || (PathIsThere(path.Get()) && OthersMayChange(path.Get())))
            return true;
    }
    return false;
}

bool SavedFileKeepsSeal(const Backup& backup, const BackupEntry& entry, const wchar_t* saved)
{
    std::string bytes;
    if (entry.regSeal.empty() || !ReadBackupFile(saved, &bytes))
        return false;
    std::string made = SealOf(backup.seal, bytes.data(), bytes.size());
    return !made.empty() && made == entry.regSeal;
}
