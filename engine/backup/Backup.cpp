#include "backup/Backup.h"

#include <stdio.h>
#include <wchar.h>

#include <initializer_list>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Paths.h"
#include "platform/Copy.h"
#include "foundation/Handles.h"
#include "registry/RegExport.h"

namespace {

using nlohmann::json;

const wchar_t kManifest[] = L"manifest.json";

// The folders in which the global assembly caches keep an assembly, by its simple name.
const wchar_t* const kAssemblyCaches[] = {
    L"%SystemRoot%\\assembly\\GAC_MSIL",          L"%SystemRoot%\\assembly\\GAC_32",
    L"%SystemRoot%\\assembly\\GAC_64",            L"%SystemRoot%\\assembly\\GAC",
    L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_MSIL", L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_32",
    L"%SystemRoot%\\Microsoft.NET\\assembly\\GAC_64",
};

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

std::string Utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 1 ? static_cast<size_t>(size) : 1, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    bytes.pop_back();
    return bytes;
}

bool FromUtf8(const std::string& text, zqWString* wide)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0 || !wide->Reserve(size - 1))
        return false;
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide->buffer, size);
    wide->length = size - 1;
    return true;
}

const wchar_t* LastPart(const wchar_t* path)
{
    const wchar_t* cut = wcsrchr(path, L'\\');
    return cut != nullptr ? cut + 1 : path;
}

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool AddSaved(BackupEntry* entry, const wchar_t* relative)
{
    return entry->saved.Append(zqWString()) && entry->saved.At(entry->saved.count - 1)->Assign(relative);
}

// Copies the assembly's folders out of every cache that holds it; the saved names are its
// files, for "gacutil /i". found: whether any cache holds it at all.
bool SaveAssembly(const wchar_t* folder, int number, const wchar_t* assembly, BackupEntry* entry, bool* found)
{
    // The simple name: an assembly may be given with its version and key ("Name, Version=...").
    zqWString name, cache, source, target, relative;
    if (!FormatInto(name, L"%.*s", static_cast<int>(wcscspn(assembly, L", ")), assembly))
        return false;
    *found = false;
    for (size_t k = 0; k < sizeof kAssemblyCaches / sizeof kAssemblyCaches[0]; ++k) {
        wchar_t expanded[MAX_PATH];
        DWORD length = ExpandEnvironmentStringsW(kAssemblyCaches[k], expanded, MAX_PATH);
        if (length == 0 || length > MAX_PATH || !FormatInto(source, L"%s\\%s", expanded, name.Get()) ||
            GetFileAttributesW(source.Get()) == INVALID_FILE_ATTRIBUTES)
            continue;
        zqWString own;
        if (!FormatInto(own, L"%s\\%d", folder, number) || !MakeFolders(own.Get()) ||
            !FormatInto(target, L"%s\\%u", own.Get(), static_cast<unsigned>(k)) || !CopyTree(source.Get(), target.Get()))
            return false;
        // One saved file per version folder: <version>__<key>\<name>.dll.
        WIN32_FIND_DATAW version;
        zqWString pattern;
        FormatInto(pattern, L"%s\\*", target.Get());
        FindHandle listing(FindFirstFileW(pattern.Get(), &version));
        while (listing.Valid()) {
            if (version.cFileName[0] != L'.' && (version.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                FormatInto(relative, L"%d\\%u\\%s\\%s.dll", number, static_cast<unsigned>(k), version.cFileName, name.Get()))
                AddSaved(entry, relative.Get());
            if (!FindNextFileW(listing.Get(), &version))
                break;
        }
        *found = true;
    }
    return true;
}

bool SaveRegistry(const wchar_t* folder, int number, const Target& target, BackupEntry* entry)
{
    zqWString text, file, relative;
    if (!text.Assign(kRegFileHeader) ||
        !ExportRegistry(target.root, target.path, target.kind == TargetKind::RegistryValue ? target.valueName : nullptr, &text))
        return false;
    return FormatInto(relative, L"%d.reg", number) && FormatInto(file, L"%s\\%s", folder, relative.Get()) &&
           WriteRegFile(file.Get(), text) && AddSaved(entry, relative.Get());
}

// Copies path (a file, or a folder tree) into the entry's own folder, under its own name.
bool SaveCopy(const wchar_t* folder, int number, const wchar_t* path, bool tree, BackupEntry* entry)
{
    zqWString own, target, relative;
    if (!FormatInto(own, L"%s\\%d", folder, number) || !MakeFolders(own.Get()) ||
        !FormatInto(relative, L"%d\\%s", number, LastPart(path)) || !FormatInto(target, L"%s\\%s", folder, relative.Get()))
        return false;
    return (tree ? CopyTree(path, target.Get()) : CopyFileWithTimes(path, target.Get())) && AddSaved(entry, relative.Get());
}

BackupEntry* NewEntry(const Target& target)
{
    BackupEntry* entry = new (std::nothrow) BackupEntry;
    if (entry == nullptr || !entry->original.Assign(target.path) ||
        !entry->valueName.Assign(target.valueName != nullptr ? target.valueName : L"")) {
        delete entry;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    entry->kind = target.kind;
    entry->root = target.root;
    entry->keyOnly = target.keyOnly;
    return entry;
}

// What of the target is there to save now; false when nothing is (already gone).
bool IsThere(const Target& target)
{
    switch (target.kind) {
    case TargetKind::RegistryKey:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
    case TargetKind::RegistryValue: {
        RegKey key;
        LONG result = RegOpenKeyExW(target.root, target.path, 0, KEY_READ, key.Put());
        if (result == ERROR_SUCCESS && target.kind == TargetKind::RegistryValue)
            result = RegQueryValueExW(key.Get(), target.valueName, nullptr, nullptr, nullptr, nullptr);
        return !IsGone(static_cast<DWORD>(result));
    }
    case TargetKind::Assembly:
        return true;
    default:
        return PathIsThere(target.path) || !IsGone(GetLastError());
    }
}

}  // namespace

void StartBackup(Backup* backup, const wchar_t* root)
{
    backup->asked = root != nullptr && root[0] != 0;
    if (!backup->asked)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    // A second run within the same second gets a folder of its own.
    for (int attempt = 1; attempt < 100; ++attempt) {
        if (!FormatInto(backup->folder, attempt == 1 ? L"%s\\%04u%02u%02u-%02u%02u%02u" : L"%s\\%04u%02u%02u-%02u%02u%02u-%d",
                        root, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, attempt)) {
            backup->error = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        if (GetFileAttributesW(backup->folder.Get()) != INVALID_FILE_ATTRIBUTES)
            continue;
        backup->error = MakeFolders(backup->folder.Get()) ? 0 : GetLastError();
        return;
    }
    backup->error = ERROR_ALREADY_EXISTS;
}

bool SaveTarget(Backup* backup, const Target& target, int* entryNumber)
{
    *entryNumber = -1;
    if (!IsThere(target))
        return true;  // nothing there to lose
    if (backup->error != 0) {
        SetLastError(backup->error);
        return false;
    }
    BackupEntry* entry = NewEntry(target);
    if (entry == nullptr)
        return false;
    int number = backup->entries.count;
    const wchar_t* folder = backup->folder.Get();
    bool saved = false;
    switch (target.kind) {
    case TargetKind::File:
        saved = SaveCopy(folder, number, target.path, false, entry);
        break;
    case TargetKind::InfFile: {
        // The INF and its precompiled companion, when there is one.
        zqWString companion;
        const wchar_t* dot = wcsrchr(target.path, L'.');
        saved = SaveCopy(folder, number, target.path, false, entry);
        if (saved && dot != nullptr && FormatInto(companion, L"%.*spnf", static_cast<int>(dot - target.path + 1), target.path) &&
            GetFileAttributesW(companion.Get()) != INVALID_FILE_ATTRIBUTES)
            saved = SaveCopy(folder, number, companion.Get(), false, entry);
        break;
    }
    case TargetKind::Folder:
        saved = SaveCopy(folder, number, target.path, true, entry);
        break;
    case TargetKind::DriverPackage: {
        // The package's whole folder in the driver store; saved[0] is its INF in the copy.
        zqWString store, relative;
        const wchar_t* cut = wcsrchr(target.path, L'\\');
        saved = cut != nullptr && FormatInto(store, L"%.*s", static_cast<int>(cut - target.path), target.path) &&
                SaveCopy(folder, number, store.Get(), true, entry) &&
                FormatInto(relative, L"%s\\%s", entry->saved.At(0)->Get(), cut + 1) && entry->saved.At(0)->Assign(relative.Get());
        break;
    }
    case TargetKind::Assembly: {
        bool found = false;
        saved = SaveAssembly(folder, number, target.path, entry, &found);
        if (saved && !found) {  // in no cache: the tool has nothing to lose either
            delete entry;
            return true;
        }
        break;
    }
    case TargetKind::RegistryKey:
    case TargetKind::RegistryValue:
    case TargetKind::ServiceKey:
    case TargetKind::DeviceKey:
        saved = SaveRegistry(folder, number, target, entry);
        break;
    }
    if (!saved) {
        DWORD error = GetLastError();
        delete entry;
        SetLastError(error != 0 ? error : ERROR_CANNOT_COPY);
        return false;
    }
    if (!backup->entries.AppendOwned(entry)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // unrecorded, so not removed
        return false;
    }
    *entryNumber = number;
    return true;
}

bool SaveByMoving(Backup* backup, const Target& target, int* entryNumber)
{
    *entryNumber = -1;
    bool plainFile = target.kind == TargetKind::File && !target.unregisterFirst;
    if (backup->error != 0 || (!plainFile && target.kind != TargetKind::Folder))
        return false;
    int number = backup->entries.count;
    zqWString own, relative, moved, from, to;
    if (!FormatInto(own, L"%s\\%d", backup->folder.Get(), number) ||
        !FormatInto(relative, L"%d\\%s", number, LastPart(target.path)) ||
        !FormatInto(moved, L"%s\\%s", backup->folder.Get(), relative.Get()) || !ExtendedPath(target.path, &from) ||
        !ExtendedPath(moved.Get(), &to) || !MakeFolders(own.Get()))
        return false;
    // Anything in the way (another volume, a file in use, a folder holding one) leaves the
    // target where it is, for the copy.
    if (!MoveFileExW(from.Get(), to.Get(), 0)) {
        RemoveDirectoryW(own.Get());
        return false;
    }
    BackupEntry* entry = NewEntry(target);
    bool recorded = entry != nullptr && AddSaved(entry, relative.Get());
    if (!recorded)
        delete entry;
    else
        recorded = backup->entries.AppendOwned(entry);  // frees it when it cannot hold it
    if (!recorded) {
        // No memory left to record it: it goes back where it was, unremoved.
        MoveFileExW(to.Get(), from.Get(), 0);
        RemoveDirectoryW(own.Get());
        return false;
    }
    *entryNumber = number;
    return true;
}

void RecordOutcome(Backup* backup, int entry, const Outcome& outcome)
{
    if (entry >= 0 && entry < backup->entries.count)
        backup->entries.At(entry)->outcome = outcome.kind;
}

bool WriteManifest(const Backup& backup, const wchar_t* script)
{
    json items = json::array();
    for (int i = 0; i < backup.entries.count; ++i) {
        const BackupEntry* entry = backup.entries.At(i);
        json saved = json::array();
        for (int k = 0; k < entry->saved.count; ++k)
            saved.push_back(Utf8(entry->saved.At(k)->Get()));
        json item = {{"kind", ""}, {"original", Utf8(entry->original.Get())}, {"saved", saved},
                     {"removed", entry->outcome == OutcomeKind::Removed || entry->outcome == OutcomeKind::RemovedAtRestart},
                     {"outcome", entry->outcome == OutcomeKind::Removed ? "deleted"
                                 : entry->outcome == OutcomeKind::RemovedAtRestart ? "deleted_after_boot" : "failed"}};
        for (const auto& kind : kKindNames)
            if (kind.kind == entry->kind)
                item["kind"] = kind.name;
        if (RootName(entry->root) != nullptr)
            item["root"] = Utf8(RootName(entry->root));
        if (entry->kind == TargetKind::RegistryValue)
            item["value"] = Utf8(entry->valueName.Get());
        if (entry->keyOnly)
            item["key_only"] = true;
        items.push_back(item);
    }
    json manifest = {{"script", Utf8(script)}, {"items", items}};
    std::string text = manifest.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    // Written beside and moved over the last one: a manifest is whole or the one before.
    zqWString path, temporary;
    if (!FormatInto(path, L"%s\\%s", backup.folder.Get(), kManifest) || !FormatInto(temporary, L"%s.tmp", path.Get()))
        return false;
    FileHandle file(CreateFileW(temporary.Get(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    bool whole = file.Valid() && WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                 written == text.size() && FlushFileBuffers(file.Get());
    file.Close();
    return whole && MoveFileExW(temporary.Get(), path.Get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool ReadNewestBackup(const wchar_t* root, Backup* backup)
{
    // Folders are named by their time, so the greatest name is the newest.
    zqWString pattern, newest, path;
    WIN32_FIND_DATAW entry;
    if (!FormatInto(pattern, L"%s\\*", root))
        return false;
    FindHandle listing(FindFirstFileW(pattern.Get(), &entry));
    while (listing.Valid()) {
        if (entry.cFileName[0] != L'.' && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            wcscmp(entry.cFileName, newest.Get()) > 0 && FormatInto(path, L"%s\\%s\\%s", root, entry.cFileName, kManifest) &&
            GetFileAttributesW(path.Get()) != INVALID_FILE_ATTRIBUTES)
            newest.Assign(entry.cFileName);
        if (!FindNextFileW(listing.Get(), &entry))
            break;
    }
    if (newest.length == 0 || !FormatInto(backup->folder, L"%s\\%s", root, newest.Get()) ||
        !FormatInto(path, L"%s\\%s", backup->folder.Get(), kManifest)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::string text;
    {
        StdioFile file(_wfopen(path.Get(), L"rb"));
        char chunk[4096];
        size_t got;
        while (file.Valid() && (got = fread(chunk, 1, sizeof chunk, file.Get())) > 0)
            text.append(chunk, got);
    }
    json manifest = json::parse(text, nullptr, false);
    if (manifest.is_discarded() || !manifest.is_object() || !manifest.contains("items") || !manifest["items"].is_array()) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    // Only what the run removed goes back.
    for (const json& item : manifest["items"]) {
        if (!item.is_object() || !item.contains("removed") || !item["removed"].is_boolean() || !item["removed"].get<bool>())
            continue;
        BackupEntry* entry = new (std::nothrow) BackupEntry;
        if (entry == nullptr)
            return false;
        auto field = [&item](const char* name) {
            return item.contains(name) && item[name].is_string() ? item[name].get<std::string>() : std::string();
        };
        FromUtf8(field("original"), &entry->original);
        FromUtf8(field("value"), &entry->valueName);
        entry->keyOnly = item.contains("key_only") && item["key_only"].is_boolean() && item["key_only"].get<bool>();
        for (const auto& kind : kKindNames)
            if (field("kind") == kind.name)
                entry->kind = kind.kind;
        zqWString root;
        FromUtf8(field("root"), &root);
        for (HKEY candidate : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG})
            if (root.length > 0 && wcscmp(root.Get(), RootName(candidate)) == 0)
                entry->root = candidate;
        if (item.contains("saved") && item["saved"].is_array()) {
            for (const json& saved : item["saved"]) {
                zqWString relative;
                if (saved.is_string() && FromUtf8(saved.get<std::string>(), &relative))
                    AddSaved(entry, relative.Get());
            }
        }
        entry->outcome = OutcomeKind::Removed;
        backup->entries.AppendOwned(entry);
    }
    return true;
}
