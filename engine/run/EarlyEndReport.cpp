#include "run/EarlyEndReport.h"

#include "phases/RunReport.h"
#include "script/CleanScript.h"
#include "shared/RunLog.h"

bool WriteEarlyEndReport(const EarlyEnd& end)
{
    RunReport report;
    report.mode = end.mode;
    report.start = end.start;
    report.script.Assign(end.scriptPath != nullptr ? end.scriptPath : L"");
    report.workDir.Assign(end.workDir != nullptr ? end.workDir : L"");
    report.status = end.status;
    report.exitCode = end.exitCode;
    report.errorPlace = end.errorPlace;
    report.errorWords = end.errorWords;
    report.systemError = end.systemError;
    if (ReportName(end.mode) == nullptr)
        return true;  // a mode without a report of its own
    zqWString path;
    zqCleanScript noScript;  // the service read none: no warnings
    return SystemDriveFile(ReportName(end.mode), &path) && WriteRunReport(report, noScript, path.Get()).ok;
}
