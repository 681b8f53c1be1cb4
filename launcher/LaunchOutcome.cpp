#include "launcher/LaunchOutcome.h"

#include "run/EarlyEndReport.h"
#include "script/ExitCodesKey.h"
#include "shared/StatusBlock.h"

namespace {

// The launcher's error places, how each ends a launch and what it says in the report.
struct ErrorPlace {
    int place;
    LaunchEnd end;
    const char* words;
};
const ErrorPlace kErrorPlaces[] = {
    {kErrorScriptPathTooLong, LaunchEnd::ScriptUnusable, "the script path is too long"},
    {kErrorNoPreparedCopy, LaunchEnd::ScriptUnusable, "the prepared copy of the script cannot be made"},
    {kErrorBlockExists, LaunchEnd::AnotherLaunch, "another launch is running"},
    {kErrorLeftOverService, LaunchEnd::Failed, "a service left over from an earlier launch cannot be removed"},
    {kErrorInstall, LaunchEnd::Failed, "the service cannot be installed"},
    {kErrorStartNoSystemError, LaunchEnd::Failed, "the service did not start"},
    {kErrorStart, LaunchEnd::Failed, "the service did not start"},
};
const ErrorPlace kUnknownPlace = {0, LaunchEnd::Failed, ""};

const ErrorPlace& FindPlace(int place)
{
    for (const ErrorPlace& known : kErrorPlaces)
        if (known.place == place)
            return known;
    return kUnknownPlace;
}

int CodeOf(const LaunchOutcome& outcome, LaunchEnd end, int classic)
{
    if (outcome.convention == ExitConvention::Classic)
        return classic;
    return StandardExitCode(end);
}

void WriteReport(const LaunchOutcome& outcome, int status, int exitCode, const wchar_t* scriptPath,
                 const wchar_t* workDir)
{
    EarlyEnd early;
    early.mode = outcome.mode;
    early.start = outcome.start;
    early.scriptPath = scriptPath;
    early.workDir = workDir;
    early.status = status;
    early.exitCode = exitCode;
    early.errorPlace = outcome.errorPlace;
    early.errorWords = FindPlace(outcome.errorPlace).words;
    early.systemError = outcome.systemError;
    WriteEarlyEndReport(early);
}

}  // namespace

ExitConvention ConventionOf(ScriptSource* source)
{
    return source->readable ? ScriptExitConvention(&source->text) : ExitConvention::Classic;
}

void StartLaunchOutcome(LaunchOutcome* outcome, RunMode mode, ExitConvention convention)
{
    outcome->mode = mode;
    outcome->convention = convention;
    GetSystemTime(&outcome->start);
}

void NoteLaunchError(LaunchOutcome* outcome, int place, DWORD systemError)
{
    outcome->end = FirstEnd(outcome->end, FindPlace(place).end);
    if (outcome->errorPlace == 0) {
        outcome->errorPlace = place;
        outcome->systemError = systemError;
    }
}

int EndBeforeRun(LaunchOutcome* outcome, int place, DWORD systemError, const wchar_t* scriptPath,
                 const wchar_t* workDir)
{
    NoteLaunchError(outcome, place, systemError);
    // Nothing was done: the classic code for that is 0.
    int code = CodeOf(*outcome, outcome->end, 0);
    if (outcome->end != LaunchEnd::AnotherLaunch)
        WriteReport(*outcome, 0, code, scriptPath, workDir);
    return code;
}

int EndAfterRun(const LaunchOutcome& outcome, HANDLE block, const wchar_t* scriptPath, const wchar_t* workDir)
{
    int status = ReadBlockStatus(block);
    LaunchEnd end = ReadBlockRunEnd(block);
    if (end != LaunchEnd::Unknown)
        return CodeOf(outcome, end, status);
    // The run told nothing: it never ran, or ended without a word, and so wrote no report.
    // Nothing says it went well.
    end = FirstEnd(outcome.cancelled ? LaunchEnd::Stopped : LaunchEnd::Unknown, outcome.end);
    if (end == LaunchEnd::Unknown)
        end = LaunchEnd::Failed;
    int code = CodeOf(outcome, end, status);
    WriteReport(outcome, status, code, scriptPath, workDir);
    return code;
}
