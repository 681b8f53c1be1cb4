#include "phases/RunReport.h"

#include <stdio.h>

#include <string>

#include <nlohmann/json.hpp>

#include "foundation/Handles.h"
#include "foundation/Utf8.h"
#include "platform/WholeFile.h"
#include "script/CleanScript.h"

namespace {

using nlohmann::json;

std::string IsoTime(const SYSTEMTIME& t)
{
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

const char* ModeName(RunMode mode)
{
    return mode == RunMode::Preview ? "preview" : mode == RunMode::Restore ? "restore" : "run";
}

const char* OutcomeName(OutcomeKind kind)
{
    switch (kind) {
    case OutcomeKind::Removed: return "deleted";
    case OutcomeKind::RemovedAtRestart: return "deleted_after_boot";
    case OutcomeKind::Failed: return "failed";
    case OutcomeKind::Refused: return "refused";
    case OutcomeKind::WouldRemove: return "would_delete";
    case OutcomeKind::WouldRemoveAtRestart: return "would_delete_after_boot";
    case OutcomeKind::Restored: return "restored";
    case OutcomeKind::LeftAsItIs: return "exists_left";
    case OutcomeKind::CopyKept: return "copy_kept";
    }
    return "";
}

// The system's own words for an error code, without the line end it ends in.
std::string ErrorText(DWORD error)
{
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    LocalBlock owned(text);
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L' '))
        --length;
    return Utf8(text, static_cast<int>(length));
}

const char* NoteReasonText(const ScriptNote& note)
{
    switch (note.reason) {
    case NoteReason::Refused: return ProblemText(note.problem);
    case NoteReason::BeforeFirstHeader: return "before the first section header";
    case NoteReason::UnknownSection: return "a section header that is none of the eleven";
    case NoteReason::InUnknownSection: return "a line of an unknown section";
    case NoteReason::UnreadGeneralKey: return "a [general] key that nothing reads";
    case NoteReason::BadToolTimeout:
        return "tooltimeout is no whole number of seconds from 1 to 4294966: the limit before it holds (300 by default)";
    case NoteReason::RegistryRootNotFull: return "its root is not written in full: the registry phase passes it over";
    case NoteReason::ScriptUnreadable: return "the script cannot be read, or is larger than 64 MB";
    case NoteReason::UnknownExitCodes: return "an exitcodes value other than standard: the classic exit codes stay";
    }
    return "";
}

json ItemJson(const ReportItem& item)
{
    json entry = {{"phase", item.phase},
                  {"target", Utf8(item.target.Get())},
                  {"outcome", OutcomeName(item.outcome.kind)},
                  {"error", item.outcome.error}};
    if (item.outcome.error != 0)
        entry["error_text"] = ErrorText(item.outcome.error);
    if (item.outcome.kind == OutcomeKind::Failed && item.outcome.exitCode != 0)
        entry["tool_exit_code"] = static_cast<int>(item.outcome.exitCode);
    if (item.outcome.kind == OutcomeKind::Refused)
        entry["reason"] = item.outcome.reason != nullptr ? item.outcome.reason : "";
    return entry;
}

}  // namespace

void ReportTarget(RunReport* report, const char* phase, const wchar_t* target, const Outcome& outcome)
{
    ++report->counts[static_cast<int>(outcome.kind)];
    ReportItem* item = new (std::nothrow) ReportItem;
    if (item == nullptr)
        return;
    item->phase = phase;
    item->target.Assign(target);
    item->outcome = outcome;
    report->items.AppendOwned(item);
}

void ReportPhaseEnd(RunReport* report, const ReportPhase& phase)
{
    report->phases.Append(phase);
}

Result WriteRunReport(const RunReport& report, const zqCleanScript& script, const wchar_t* path)
{
    SYSTEMTIME end;
    GetSystemTime(&end);
    json document = {{"mode", ModeName(report.mode)},
                     {"exit_status", report.status},
                     {"exit_code", report.exitCode},
                     {"completed", report.completed},
                     {"reboot_required", report.rebootRequired},
                     {"program", {{"name", sizeof(void*) == 8 ? "zqclean64" : "zqclean32"},
                                  {"version", ZQ_VERSION},
                                  {"build", sizeof(void*) == 8 ? 64 : 32}}},
                     {"start", IsoTime(report.start)},
                     {"end", IsoTime(end)},
                     {"script", Utf8(report.script.Get())},
                     {"working_directory", Utf8(report.workDir.Get())}};
    if (report.errorPlace != 0) {
        std::string words = report.errorWords;
        if (report.systemError != 0)
            words += " (" + std::to_string(report.systemError) + ": " + ErrorText(report.systemError) + ")";
        document["error"] = report.errorPlace;
        document["error_text"] = words;
        document["system_error"] = report.systemError;
    }
    json counts = json::object();
    for (int kind = 0; kind < kOutcomeKindCount; ++kind)
        counts[OutcomeName(static_cast<OutcomeKind>(kind))] = report.counts[kind];
    document["counts"] = counts;
    json phases = json::array(), items = json::array(), warnings = json::array();
    for (int i = 0; i < report.phases.count; ++i) {
        const ReportPhase* phase = report.phases.At(i);
        json entry = {{"name", phase->phase}, {"removed", phase->removed}, {"summary_written", phase->summary}};
        if (phase->entries >= 0)
            entry["entries"] = phase->entries;
        phases.push_back(entry);
    }
    for (int i = 0; i < report.items.count; ++i)
        items.push_back(ItemJson(*report.items.At(i)));
    for (int i = 0; i < script.notes.count; ++i) {
        const ScriptNote* note = script.notes.At(i);
        warnings.push_back({{"line", note->line}, {"text", Utf8(note->text.Get(), note->text.length)},
                            {"reason", NoteReasonText(*note)}});
    }
    if (report.backupFolder.length > 0) {
        json backup = {{"folder", Utf8(report.backupFolder.Get())}, {"error", report.backupError}};
        if (report.backupError != 0)
            backup["error_text"] = ErrorText(report.backupError);
        if (report.backupReason != nullptr)
            backup["reason"] = report.backupReason;
        document["backup"] = backup;
    }
    document["phases"] = phases;
    document["items"] = items;
    document["warnings"] = warnings;
    std::string text = document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";

    // Whole or not at all: a temporary file of its own, then moved over the old report.
    return WriteWholeFile(path, text.data(), text.size());
}
