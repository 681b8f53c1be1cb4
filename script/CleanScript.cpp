#include "script/CleanScript.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

#include "platform/ExpandPath.h"
#include "script/ExitCodesKey.h"
#include "script/LineRules.h"

namespace {

const wchar_t kExcludeFoldersKey[] = L"excludefolders";
const int kExcludeFoldersKeyLength = 14;
const int kBackupKeyLength = 6;  // "backup", then "=" and the folder
const int kExcludeFoldersDigit = 15;  // the key, one separator, then the digit

bool IsBackupLine(const wchar_t* line)
{
    return _wcsnicmp(line, L"backup=", kBackupKeyLength + 1) == 0;
}

const wchar_t kToolTimeoutKey[] = L"tooltimeout=";
const size_t kToolTimeoutKeyLength = 12;

// "tooltimeout=<seconds>": digits only, from 1 up to the longest limit; false for anything else.
bool ReadToolTimeout(const wchar_t* value, DWORD* seconds)
{
    unsigned long long read = 0;
    const wchar_t* digit = value;
    for (; *digit >= L'0' && *digit <= L'9' && read <= kLongestToolTimeoutSeconds; ++digit)
        read = read * 10 + static_cast<unsigned>(*digit - L'0');
    if (digit == value || *digit != 0 || read == 0 || read > kLongestToolTimeoutSeconds)
        return false;
    *seconds = static_cast<DWORD>(read);
    return true;
}

// The registry phase takes only the five root names written in full; any other entry it passes
// over, and the reader says so.
bool HasFullRootName(const wchar_t* entry)
{
    static const wchar_t* const roots[] = {L"HKEY_LOCAL_MACHINE", L"HKEY_CLASSES_ROOT", L"HKEY_CURRENT_USER",
                                           L"HKEY_USERS", L"HKEY_CURRENT_CONFIG"};
    const wchar_t* separator = wcschr(entry, L'\\');
    size_t length = separator != nullptr ? static_cast<size_t>(separator - entry) : wcslen(entry);
    for (const wchar_t* root : roots) {
        if (separator != nullptr && wcslen(root) == length && _wcsnicmp(entry, root, length) == 0)
            return true;
    }
    return false;
}

}  // namespace

void zqCleanScript::Note(int line, NoteReason reason, LineProblem problem, const zqWString& text)
{
    ScriptNote* note = new (std::nothrow) ScriptNote;
    if (note == nullptr)
        return;
    note->line = line;
    note->reason = reason;
    note->problem = problem;
    // The text whole, a NUL in it included.
    if (text.length > 0 && note->text.Reserve(text.length)) {
        wmemcpy(note->text.buffer, text.Get(), static_cast<size_t>(text.length));
        note->text.buffer[text.length] = 0;
        note->text.length = text.length;
    }
    notes.AppendOwned(note);
}

void zqCleanScript::Read(FILE* stream)
{
    ScriptText script;
    if (stream == nullptr || !ReadScriptText(stream, &script)) {
        Note(0, NoteReason::ScriptUnreadable, LineProblem::None, zqWString());
        return;
    }
    zqWString line;
    LineProblem problem = LineProblem::None;
    ScriptSection section = SectionNone;
    bool sawHeader = false;
    while (NextScriptLine(&script, &line, &problem)) {
        if (problem != LineProblem::None) {
            Note(script.lineNumber, NoteReason::Refused, problem, line);
            continue;
        }
        if (line.length == 0)
            continue;
        if (IsHeaderLine(line)) {
            section = SectionFromHeader(line.Get());
            sawHeader = true;
            if (section == SectionNone)
                Note(script.lineNumber, NoteReason::UnknownSection, problem, line);
            continue;
        }
        zqList<zqWString>* list = nullptr;
        switch (section) {
        case SectionNone:
            Note(script.lineNumber, sawHeader ? NoteReason::InUnknownSection : NoteReason::BeforeFirstHeader,
                 problem, line);
            break;
        case SectionGeneral: {
            ExitConvention exitCodes = ExitConvention::Classic;
            bool knownValue = true;
            // The separator after the key is not looked at; only the digit decides.
            if (line.length >= kExcludeFoldersKeyLength &&
                _wcsnicmp(line.Get(), kExcludeFoldersKey, kExcludeFoldersKeyLength) == 0) {
                excludeFolders = line.length > kExcludeFoldersDigit && line.buffer[kExcludeFoldersDigit] == L'1';
            } else if (_wcsnicmp(line.Get(), kToolTimeoutKey, kToolTimeoutKeyLength) == 0) {
                // An unreadable limit leaves the one before it (or the default) in force.
                if (!ReadToolTimeout(line.Get() + kToolTimeoutKeyLength, &toolTimeoutSeconds))
                    Note(script.lineNumber, NoteReason::BadToolTimeout, problem, line);
            } else if (IsBackupLine(line.Get())) {
                // "backup=<folder>": where a run saves what it removes. A later line wins.
                zqWString expanded;
                ExpandPath(line.Get() + kBackupKeyLength + 1, &expanded);
                backupFolder.Assign(expanded.Get());
            } else if (ReadExitCodesKey(line, &exitCodes, &knownValue)) {
                // The launcher acts on the key (it reads the script itself, before there is a
                // copy); a value nothing knows keeps the classic codes, and the report says so.
                if (!knownValue)
                    Note(script.lineNumber, NoteReason::UnknownExitCodes, problem, line);
            } else {
                Note(script.lineNumber, NoteReason::UnreadGeneralKey, problem, line);
            }
            break;
        }
        case SectionFolders: {
            wchar_t* equals = wcschr(line.buffer, L'=');
            if (equals != nullptr)
                *equals = 0;
            zqWString expanded;
            ExpandPath(line.Get(), &expanded);
            // Without memory for the expansion the entry stays, empty, and the run passes it over.
            AppendEntry(folders, expanded.Get());
            break;
        }
        case SectionRegistry:
            if (!HasFullRootName(line.Get()))
                Note(script.lineNumber, NoteReason::RegistryRootNotFull, problem, line);
            list = &registry;
            break;
        case SectionFiles: list = &files; break;
        case SectionDevices: list = &devices; break;
        case SectionExFolders: list = &exFolders; break;
        case SectionDrivers: list = &drivers; break;
        case SectionInfs: list = &infs; break;
        case SectionMaskedFiles: list = &maskedFiles; break;
        case SectionDrvPackages: list = &drvPackages; break;
        case SectionDotNet: list = &dotNet; break;
        }
        if (list != nullptr)
            AppendEntry(*list, line.Get());
    }
}
