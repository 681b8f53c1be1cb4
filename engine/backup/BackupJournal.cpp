// The journal and the manifest of a run's backup: what was saved and what became of it, on the
// disk before the next item is touched.
#include "backup/BackupRecords.h"

#include <wchar.h>

#include <string>

#include "platform/Paths.h"
#include "platform/WholeFile.h"

namespace {

using nlohmann::json;

// In the "\\?\" form: a backup folder may lie deep.
bool FileInBackup(const Backup& backup, const wchar_t* name, zqWString* path)
{
    zqWString plain;
    return FormatInto(plain, L"%s\\%s", backup.folder.Get(), name) && ExtendedPath(plain.Get(), path);
}

}  // namespace

const wchar_t kJournalName[] = L"journal.jsonl";
const wchar_t kManifestName[] = L"manifest.json";
const wchar_t kSealKeyName[] = L"seal.key";

void NoteTrouble(Backup* backup, const wchar_t* file, DWORD error)
{
    if (backup->troubleError != 0)
        return;  // the first one is logged; the rest follow from it
    backup->trouble.Assign(wcsncmp(file, L"\\\\?\\", 4) == 0 && file[5] == L':' ? file + 4 : file);
    backup->troubleError = error != 0 ? error : ERROR_WRITE_FAULT;
}

bool OpenJournal(Backup* backup)
{
    // The seal's key first: a record that cannot be sealed is not written, and its item stays.
    std::string wrapped;
    zqWString path;
    if (!FileInBackup(*backup, kSealKeyName, &path))
        return false;
    Result made = MakeSealKey(&backup->seal, &wrapped);
    if (!made.ok) {
        NoteTrouble(backup, path.Get(), made.error);
        return false;
    }
    FileHandle keyFile(CreateFileW(path.Get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    DWORD written = 0;
    Result kept = keyFile.Valid() ? Checked(WriteFile(keyFile.Get(), wrapped.data(), static_cast<DWORD>(wrapped.size()),
                                                      &written, nullptr))
                                  : LastFailure();
    if (kept.ok && written != wrapped.size())
        kept = FailedBy(ERROR_WRITE_FAULT);
    if (!kept.ok) {
        NoteTrouble(backup, path.Get(), kept.error);
        return false;
    }
    if (!FileInBackup(*backup, kJournalName, &path))
        return false;
    backup->journal.Reset(CreateFileW(path.Get(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (backup->journal.Valid())
        return true;
    NoteTrouble(backup, path.Get(), GetLastError());
    return false;
}

Result AppendRecord(Backup* backup, const json& record)
{
    if (backup->error != 0)
        return FailedBy(backup->error);
    std::string line = SealedLine(*backup, record);
    DWORD written = 0;
    Result appended = Checked(WriteFile(backup->journal.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr));
    if (appended.ok && written == line.size())
        return appended;
    zqWString path;
    FileInBackup(*backup, kJournalName, &path);
    NoteTrouble(backup, path.Get(), appended.ok ? ERROR_WRITE_FAULT : appended.error);
    // Nothing more is removed that the journal cannot hold.
    backup->error = backup->troubleError;
    return FailedBy(backup->error);
}

void RecordOutcome(Backup* backup, int entry, const Outcome& outcome)
{
    BackupEntry* saved = entry >= 0 ? backup->entries.At(entry) : nullptr;
    if (saved == nullptr)
        return;
    saved->outcome = outcome.kind;
    saved->settled = true;
    AppendRecord(backup, OutcomeRecord(entry, outcome.kind));
}

Result WriteManifest(const Backup& backup, const wchar_t* script)
{
    // One record a line, so that a manifest cut short still reads up to its last whole record.
    std::string text = "{\"script\": " + json(Utf8(script)).dump(-1, ' ', false, json::error_handler_t::replace) +
                       ", \"items\": [\n";
    for (int i = 0; i < backup.entries.count; ++i) {
        std::string line = SealedLine(backup, ManifestRecord(*backup.entries.At(i)));
        line.insert(line.size() - 1, i + 1 < backup.entries.count ? "," : "");
        text += line;
    }
    text += "]}\n";
    // Written beside and moved over the last one: a manifest is whole or the one before.
    zqWString path;
    if (!FileInBackup(backup, kManifestName, &path))
        return NoMemory();
    return WriteWholeFile(path.Get(), text.data(), text.size());
}
