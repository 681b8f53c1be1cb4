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
    char path[MAX_PATH];
    SystemDriveFile(ReportName(end.mode), path, sizeof path);
    zqWString widePath;
    zqCleanScript noScript;  // the service read none: no warnings
    return widePath.Assign(path) && WriteRunReport(report, noScript, widePath.Get());
}
