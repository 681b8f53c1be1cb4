#include "tests/support/RunSupport.h"

#include "engine/CleaningRun.h"
#include "engine/StopSignal.h"
#include "launcher/RunLog.h"
#include "launcher/StatusBlock.h"
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

ScopedPath::~ScopedPath()
{
    SetEnvironmentVariableW(L"PATH", hadValue ? saved.c_str() : nullptr);
}

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

std::vector<std::string> LogSpan(const std::vector<std::string>& lines, const std::string& firstPrefix,
                                 size_t count)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, firstPrefix.size(), firstPrefix) == 0) {
            size_t end = i + count < lines.size() ? i + count : lines.size();
            return std::vector<std::string>(lines.begin() + i, lines.begin() + end);
        }
    }
    return {};
}

bool CopyStandIn(const wchar_t* name, const std::wstring& target)
{
    std::wstring source = TestProgramDir() + L"\\..\\standins\\" + name + L".exe";
    return CopyFileW(source.c_str(), target.c_str(), FALSE) != 0;
}

namespace {

// The text between the last two double quotes of the last line of the args file.
std::wstring LastQuotedTarget(const std::wstring& argsFile)
{
    std::string text = ReadFileBytes(argsFile);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    size_t lineStart = text.rfind('\n');
    std::string line = text.substr(lineStart == std::string::npos ? 0 : lineStart + 1);
    size_t close = line.rfind('"');
    if (close == std::string::npos || close == 0)
        return L"";
    size_t open = line.rfind('"', close - 1);
    if (open == std::string::npos)
        return L"";
    return Widen(line.substr(open + 1, close - open - 1));
}

}  // namespace

ToolWatcher::ToolWatcher(const std::wstring& argsFile_, int stopAtCall_)
    : argsFile(argsFile_), stopAtCall(stopAtCall_)
{
    static int serial = 0;
    ++serial;
    std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(serial);
    readyName = L"zqtest_run_ready_" + suffix;
    releaseName = L"zqtest_run_release_" + suffix;
    // Auto-reset, created before the tool opens them: one signal per call in each direction.
    ready = CreateEventW(nullptr, FALSE, FALSE, readyName.c_str());
    release = CreateEventW(nullptr, FALSE, FALSE, releaseName.c_str());
    worker = std::thread([this] {
        int call = 0;
        while (!done.load()) {
            if (WaitForSingleObject(ready, 50) != WAIT_OBJECT_0)
                continue;
            ++call;
            std::wstring target = LastQuotedTarget(argsFile);
            targetPresent.push_back(target.empty() ? "none" : PathExists(target) ? "present" : "absent");
            if (call == stopAtCall)
                ServiceCurrentState() = SERVICE_STOP_PENDING;
            SetEvent(release);
        }
    });
}

ToolWatcher::~ToolWatcher()
{
    Finish();
    CloseHandle(release);
    CloseHandle(ready);
}

void ToolWatcher::Finish()
{
    done = true;
    if (worker.joinable())
        worker.join();
}

std::string ToolWatcher::ControlLine(int code) const
{
    return std::to_string(code) + " " + Narrow(readyName) + " " + Narrow(releaseName) + "\n";
}
