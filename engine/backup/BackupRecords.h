// How a backup's entries are written as JSON records, one a line, and read back: the journal
// holds a record when an item is saved and another with its outcome; the manifest one record
// per item with both. A record that is not whole is passed over, never the whole file.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "backup/Backup.h"
#include "foundation/Utf8.h"

// What was saved of the entry, and from where.
nlohmann::json SavedRecord(const BackupEntry& entry);
// The outcome of the entry's removal.
nlohmann::json OutcomeRecord(int number, OutcomeKind outcome);
// Both in one, for the manifest.
nlohmann::json ManifestRecord(const BackupEntry& entry);
// One record as a line of UTF-8 text, its line end included, sealed with the backup's key.
std::string SealedLine(const Backup& backup, nlohmann::json record);

// The run's seal key, made and kept wrapped in its folder, and its journal, made new there, every
// write of it written through to the disk.
bool OpenJournal(Backup* backup);
// Appends one record to the journal. Fails when it cannot: the trouble is noted, and nothing is
// saved or removed any more.
Result AppendRecord(Backup* backup, const nlohmann::json& record);
// Notes a file of the backup that could not be written, for the run log.
void NoteTrouble(Backup* backup, const wchar_t* file, DWORD error);

// Every entry that the records of a manifest's or a journal's text name, by number, added to (or
// completing) byNumber[number]. A line that is no whole record is passed over; an entry whose
// record does not carry the seal of key is kept unsealed, and an outcome without it is not read.
void ReadRecords(const std::string& text, const SealKey& key, zqList<BackupEntry>* byNumber);

// Adds a saved name to the entry; false without memory.
bool AddSaved(BackupEntry* entry, const wchar_t* relative);
