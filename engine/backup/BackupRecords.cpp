#include "backup/BackupRecords.h"

#include <stdio.h>
#include <wchar.h>

#include <initializer_list>

#include "registry/RegExport.h"

namespace {

using nlohmann::json;

const struct {
    TargetKind kind;
    const char* name;
} kKindNames[] = {
    {TargetKind::DriverPackage, "driver_package"}, {TargetKind::InfFile, "inf_file"},
    {TargetKind::ServiceKey, "service_key"},       {TargetKind::File, "file"},
    {TargetKind::Assembly, "assembly"},            {TargetKind::Folder, "folder"},
    {TargetKind::RegistryKey, "registry_key"},     {TargetKind::RegistryValue, "registry_value"},
    {TargetKind::DeviceKey, "device_key"},
};

const struct {
    OutcomeKind kind;
    const char* name;
} kOutcomeNames[] = {
    {OutcomeKind::Removed, "deleted"}, {OutcomeKind::RemovedAtRestart, "deleted_after_boot"}, {OutcomeKind::Failed, "failed"},
};

// A record's items are numbered by the run; more items than lines a file has cannot be.
const int kMostItems = 1 << 24;

bool FromUtf8(const std::string& text, zqWString* wide)
{
    return ::FromUtf8(text.data(), text.size(), wide);
}

std::string Field(const json& record, const char* name)
{
    auto at = record.find(name);
    return at != record.end() && at->is_string() ? at->get<std::string>() : std::string();
}

// Whether the record carries the seal of key over the rest of it.
bool CarriesSeal(json record, const SealKey& key)
{
    auto seal = record.find("seal");
    if (seal == record.end() || !seal->is_string())
        return false;
    std::string claimed = seal->get<std::string>();
    record.erase("seal");
    std::string text = record.dump(-1, ' ', false, json::error_handler_t::replace);
    std::string made = SealOf(key, text.data(), text.size());
    return !made.empty() && made == claimed;
}

bool IsRegistryKind(TargetKind kind)
{
    return kind == TargetKind::RegistryKey || kind == TargetKind::RegistryValue || kind == TargetKind::ServiceKey ||
           kind == TargetKind::DeviceKey;
}

// Every saved name must lie in the item's own place: "<n>.reg" for a key or value, "<n>\..." for
// the rest; no root, drive, "." or ".." part, no stream or wildcard.
bool SavedInPlace(const BackupEntry& entry, const wchar_t* relative)
{
    wchar_t own[16];
    FormatW(own, 16, IsRegistryKind(entry.kind) ? L"%d.reg" : L"%d", entry.number);
    size_t ownLength = wcslen(own);
    if (wcsncmp(relative, own, ownLength) != 0 || relative[wcscspn(relative, L":/*?\"<>|")] != 0)
        return false;
    if (IsRegistryKind(entry.kind))
        return relative[ownLength] == 0;
    if (relative[ownLength] != L'\\')
        return false;
    for (const wchar_t* part = relative + ownLength + 1;; ) {
        size_t length = wcscspn(part, L"\\");
        if (length == 0 || (part[0] == L'.' && (length == 1 || (length == 2 && part[1] == L'.'))))
            return false;
        if (part[length] == 0)
            return true;
        part += length + 1;
    }
}

// Fills the entry from a record that says what was saved; false when it says nothing usable.
bool ApplySaved(const json& record, BackupEntry* entry)
{
    std::string kind = Field(record, "kind"), root = Field(record, "root");
    bool known = false;
    for (const auto& name : kKindNames)
        if (kind == name.name) {
            entry->kind = name.kind;
            known = true;
        }
    entry->root = nullptr;
    for (HKEY candidate : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
        zqWString name;
        if (FromUtf8(root, &name) && name.length > 0 && wcscmp(name.Get(), RootName(candidate)) == 0)
            entry->root = candidate;
    }
    auto keyOnly = record.find("key_only");
    entry->keyOnly = keyOnly != record.end() && keyOnly->is_boolean() && keyOnly->get<bool>();
    auto saved = record.find("saved");
    entry->saved.RemoveAll();
    entry->savedInPlace = saved != record.end() && saved->is_array() && !saved->empty();
    if (entry->savedInPlace) {
        for (const json& name : *saved) {
            zqWString relative;
            entry->savedInPlace = entry->savedInPlace && name.is_string() && FromUtf8(name.get<std::string>(), &relative) &&
                                  SavedInPlace(*entry, relative.Get()) && AddSaved(entry, relative.Get());
        }
    }
    // A key or value without its root, or a root for something else, cannot be put back either.
    if ((entry->root != nullptr) != IsRegistryKind(entry->kind))
        entry->savedInPlace = false;
    entry->regSeal = Field(record, "reg_seal");
    return known && FromUtf8(Field(record, "original"), &entry->original) && entry->original.length > 0 &&
           FromUtf8(Field(record, "value"), &entry->valueName);
}

void ApplyOutcome(const json& record, BackupEntry* entry)
{
    auto outcome = record.find("outcome");
    auto removed = record.find("removed");
    if (outcome != record.end() && outcome->is_string()) {
        for (const auto& name : kOutcomeNames)
            if (*outcome == name.name) {
                entry->outcome = name.kind;
                entry->settled = true;
            }
    } else if (removed != record.end() && removed->is_boolean()) {  // a manifest of an earlier version
        entry->outcome = removed->get<bool>() ? OutcomeKind::Removed : OutcomeKind::Failed;
        entry->settled = true;
    }
}

void ReadRecord(const json& record, int position, const SealKey& key, zqList<BackupEntry>* byNumber)
{
    if (!record.is_object())
        return;
    bool sealed = CarriesSeal(record, key);
    auto item = record.find("item");
    int number = item == record.end() ? position : item->is_number_integer() ? item->get<int>() : -1;
    if (number < 0 || number >= kMostItems)
        return;
    while (byNumber->count <= number)
        if (!byNumber->AppendOwned(new (std::nothrow) BackupEntry))
            return;
    BackupEntry* entry = byNumber->At(number);
    if (record.contains("kind")) {
        entry->number = number;
        entry->sealed = sealed;
        if (!ApplySaved(record, entry))
            entry->number = -1;  // nothing that can be put back
    }
    // An outcome nobody can vouch for leaves the entry open: a restore then puts back what is
    // missing of it, and never overwrites what stands there.
    if (sealed)
        ApplyOutcome(record, entry);
}

}  // namespace

bool AddSaved(BackupEntry* entry, const wchar_t* relative)
{
    return entry->saved.Append(zqWString()) && entry->saved.At(entry->saved.count - 1)->Assign(relative);
}

json SavedRecord(const BackupEntry& entry)
{
    json saved = json::array();
    for (int k = 0; k < entry.saved.count; ++k)
        saved.push_back(Utf8(entry.saved.At(k)->Get()));
    json record = {{"item", entry.number}, {"kind", ""}, {"original", Utf8(entry.original.Get())}, {"saved", saved}};
    for (const auto& kind : kKindNames)
        if (kind.kind == entry.kind)
            record["kind"] = kind.name;
    if (RootName(entry.root) != nullptr)
        record["root"] = Utf8(RootName(entry.root));
    if (entry.kind == TargetKind::RegistryValue)
        record["value"] = Utf8(entry.valueName.Get());
    if (entry.keyOnly)
        record["key_only"] = true;
    if (!entry.regSeal.empty())
        record["reg_seal"] = entry.regSeal;
    return record;
}

json OutcomeRecord(int number, OutcomeKind outcome)
{
    json record = {{"item", number}, {"outcome", "failed"}};
    for (const auto& name : kOutcomeNames)
        if (name.kind == outcome)
            record["outcome"] = name.name;
    return record;
}

json ManifestRecord(const BackupEntry& entry)
{
    json record = SavedRecord(entry);
    record["outcome"] = OutcomeRecord(entry.number, entry.outcome)["outcome"];
    record["removed"] = entry.outcome == OutcomeKind::Removed || entry.outcome == OutcomeKind::RemovedAtRestart;
    return record;
}

std::string SealedLine(const Backup& backup, json record)
{
    record.erase("seal");
    std::string text = record.dump(-1, ' ', false, json::error_handler_t::replace);
    record["seal"] = SealOf(backup.seal, text.data(), text.size());
    return record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

void ReadRecords(const std::string& text, const SealKey& key, zqList<BackupEntry>* byNumber)
{
    // A manifest whole: every item of it, also one written by an earlier version.
    json whole = json::parse(text, nullptr, false);
    if (!whole.is_discarded() && whole.is_object() && whole.contains("items") && whole["items"].is_array()) {
        int position = 0;
        for (const json& record : whole["items"])
            ReadRecord(record, position++, key, byNumber);
        return;
    }
    // Otherwise record by record, one a line; a line cut short or damaged is passed over.
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        size_t first = text.find('{', start);
        size_t last = text.rfind('}', end == 0 ? 0 : end - 1);
        if (first < end && last != std::string::npos && last >= first && last < end) {
            json record = json::parse(text.begin() + static_cast<std::ptrdiff_t>(first),
                                      text.begin() + static_cast<std::ptrdiff_t>(last) + 1, nullptr, false);
            if (!record.is_discarded() && record.contains("item"))
                ReadRecord(record, -1, key, byNumber);
        }
        start = end + 1;
    }
}
