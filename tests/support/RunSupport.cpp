#include "tests/support/RunSupport.h"

#include "engine/CleaningRun.h"
#include "engine/StopSignal.h"
#include "launcher/RunLog.h"
#include "launcher/StatusBlock.h"
#include "tests/support/DriverSupport.h"
#include "tests/support/TestSupport.h"

ScopedPath::ScopedPath(const wchar_t* value)
{
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size > 0) {
        std::vector<wchar_t> buffer(size);
        GetEnvironmentVariableW(L"PATH", buffer.data(), size);
        saved = buffer.data();
        hadValue = true;
    }
    SetEnvironmentVariableW(L"PATH", value);
}

ScopedPath::~ScopedPath() { SetEnvironmentVariableW(L"PATH", hadValue ? saved.c_str() : nullptr); }

std::wstring FreshRunLog(const std::string& logName)
{
    CreateDirectoryW(L"C:\\zqtest", nullptr);
    CreateDirectoryW(L"C:\\zqtest\\runlog", nullptr);
    std::wstring log = L"C:\\zqtest\\runlog\\" + Widen(logName) + L".log";
    DeleteFileW(log.c_str());
    SetRunLogPath(Narrow(log).c_str());
    return log;
}

std::vector<std::string> RunLogLines(const std::wstring& logPath)
{
    return MaskedLogLines(ReadFileBytes(logPath));
}

RunOutcome RunWithScript(const std::wstring& scriptDir, const std::string& srvcText,
                         const std::wstring& workDir, const std::string& logName,
                         bool keepStopState)
{
    std::wstring scriptPath = scriptDir + L"\\zqclean.ini";
    WriteFileBytes(scriptPath + L".srvc", srvcText);
    std::wstring log = FreshRunLog(logName);
    if (!keepStopState)
        ServiceCurrentState() = SERVICE_RUNNING;
    RunOutcome outcome;
    KernelHandle block = CreateStatusBlock();
    FillStatusBlock(block.Get(), scriptPath.c_str(), workDir.c_str());
    RunCleaning();
    outcome.status = ReadBlockStatus(block.Get());
    block.Close();
    ServiceCurrentState() = SERVICE_RUNNING;
    outcome.lines = RunLogLines(log);
    return outcome;
}

std::vector<std::string> Joined(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::string> LogHead(const std::wstring& scriptDir)
{
    std::vector<std::string> lines = {
        Stamped("Ininame: " + (scriptDir.empty() ? "" : Narrow(scriptDir) + "\\zqclean.ini"))};
#ifdef _WIN64  // the 32-bit build runs under WOW64 in this prefix and skips these
    lines.insert(lines.end(), {Stamped("Delete driver packages(0) from DriverStore:"),
                               Stamped("0 driver packages are deleted from the DriverStore."),
                               Stamped("Delete infs:"), Stamped("0 inf files are deleted")});
#endif
    lines.insert(lines.end(), {Stamped("Delete driver services(0):"),
                               Stamped("0 driver services are deleted.")});
    return lines;
}

std::vector<std::string> LogTail()
{
    return {Stamped("Delete registry keys(0):"), Stamped("0 registry keys are deleted"),
            Stamped("Undelete setup...OK."), Stamped("Find enumerated devices to delete"),
            Stamped("No enumerated devices found."), ClosingLine()};
}

std::vector<std::wstring> PendingWith(const std::wstring& marker)
{
    std::vector<std::wstring> mine;
    for (const std::wstring& source : PendingRenameSources())
        if (source.find(marker) != std::wstring::npos)
            mine.push_back(source.substr(source.compare(0, 4, L"\\??\\") == 0 ? 4 : 0));
    return mine;
}

bool CopyStandIn(const wchar_t* name, const std::wstring& target)
{
    return CopyFileW(StandinPath(std::wstring(name) + L".exe").c_str(), target.c_str(), FALSE) != 0;
}

namespace {

// Two fresh named manual-reset events; their names through the out texts.
void MakeEvents(KernelHandle* ready, KernelHandle* release, std::wstring* readyName, std::wstring* releaseName)
{
    static int serial = 0;
    std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++serial);
    *readyName = L"zqtest_ready_" + suffix;
    *releaseName = L"zqtest_release_" + suffix;
    ready->Reset(CreateEventW(nullptr, TRUE, FALSE, readyName->c_str()));
    release->Reset(CreateEventW(nullptr, TRUE, FALSE, releaseName->c_str()));
}

}  // namespace

LockedFile::LockedFile(const std::wstring& file)
{
    std::wstring readyName, releaseName;
    MakeEvents(&ready, &release, &readyName, &releaseName);
    std::wstring line = L"\"" + StandinPath(L"locker.exe") + L"\" \"" + file + L"\" " + readyName + L" " + releaseName;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return;
    CloseHandle(pi.hThread);
    process.Reset(pi.hProcess);
    HANDLE waits[2] = {ready.Get(), process.Get()};
    held = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
}

LockedFile::~LockedFile()
{
    SetEvent(release.Get());
    if (process.Valid())
        WaitForSingleObject(process.Get(), 30000);
}

StopWhileToolRuns::StopWhileToolRuns(const std::wstring& exitCodeFile, int code)
{
    std::wstring readyName, releaseName;
    MakeEvents(&ready, &release, &readyName, &releaseName);
    WriteFileBytes(exitCodeFile, std::to_string(code) + " " + Narrow(readyName) + " " + Narrow(releaseName));
    waiter = std::thread([this] {
        HANDLE waits[2] = {ready.Get(), release.Get()};
        if (WaitForMultipleObjects(2, waits, FALSE, 60000) == WAIT_OBJECT_0)
            ServiceCurrentState() = SERVICE_STOP_PENDING;
        SetEvent(release.Get());
    });
}

StopWhileToolRuns::~StopWhileToolRuns()
{
    SetEvent(release.Get());  // a tool that never ran does not keep the waiter
    waiter.join();
}
