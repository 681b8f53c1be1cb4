#include "tests/support/E2eSupport.h"

#include "tests/support/TestSupport.h"

std::wstring BuiltProgramPath()
{
    std::wstring dir = TestProgramDir();
    size_t slash = dir.find_last_of(L'\\');
    std::wstring build = slash == std::wstring::npos ? dir : dir.substr(0, slash);
#ifdef _WIN64
    return build + L"\\zqclean64.exe";
#else
    return build + L"\\zqclean32.exe";
#endif
}

std::wstring StandinPath(const std::wstring& exeName)
{
    std::wstring dir = TestProgramDir();
    size_t slash = dir.find_last_of(L'\\');
    std::wstring build = slash == std::wstring::npos ? dir : dir.substr(0, slash);
    return build + L"\\standins\\" + exeName;
}

HANDLE StartProgram(const std::wstring& program, const std::wstring& arguments,
                    const std::wstring& workDir)
{
    std::wstring line = L"\"" + program + L"\"";
    if (!arguments.empty())
        line += L" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

Launch LaunchProgram(const std::wstring& program, const std::wstring& arguments,
                     const std::wstring& workDir, DWORD timeoutMs)
{
    Launch launch = {false, false, 0xdeadbeef};
    HANDLE process = StartProgram(program, arguments, workDir);
    if (process == nullptr)
        return launch;
    launch.started = true;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
        launch.finished = true;
        GetExitCodeProcess(process, &launch.exitCode);
    } else {
        TerminateProcess(process, 0xFFFFFFFE);
    }
    CloseHandle(process);
    return launch;
}

std::wstring RunLogFile()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system, 3) + L"zqclean.log";
}

std::string RunLogBytes()
{
    return ReadFileBytes(RunLogFile());
}

std::vector<std::string> RunLogLines()
{
    return MaskedLogLines(RunLogBytes());
}

DWORD CleanServiceOpenError()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr)
        return GetLastError();
    SetLastError(0xdeadbeef);
    SC_HANDLE service = OpenServiceA(manager, "zqcleansrvc", GENERIC_READ);
    DWORD error = service == nullptr ? GetLastError() : 0;
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

void RemoveCleanServiceForTest()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return;
    SC_HANDLE service = OpenServiceA(manager, "zqcleansrvc", SERVICE_ALL_ACCESS);
    if (service != nullptr) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    for (int i = 0; i < 100 && CleanServiceOpenError() == 0; ++i)
        Sleep(100);
}

bool CreateCleanServiceForTest(const std::string& commandLine)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = CreateServiceA(manager, "zqcleansrvc", "zqclean test leftover",
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       commandLine.c_str(), nullptr, nullptr, nullptr, nullptr,
                                       nullptr);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

bool SetRegString(HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& value)
{
    HKEY key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RegValueExists(HKEY root, const std::wstring& path, const std::wstring& name)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExW(key, name.empty() ? nullptr : name.c_str(), nullptr, nullptr,
                                   nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void RegDeleteTreeForTest(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::vector<std::wstring> ReadMultiString(HKEY key, const wchar_t* name)
{
    std::vector<std::wstring> items;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return items;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, 0);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS)
        return items;
    // Pairs of strings: source, then target (empty for a deletion); an empty target is an
    // empty string, so every string is taken one by one.
    size_t count = size / sizeof(wchar_t);
    size_t at = 0;
    while (at < count) {
        std::wstring item(&data[at]);
        items.push_back(item);
        at += item.size() + 1;
    }
    return items;
}

}  // namespace

std::vector<std::wstring> PendingDeletions()
{
    std::vector<std::wstring> sources;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return sources;
    std::vector<std::wstring> items = ReadMultiString(key, kPendingValue);
    RegCloseKey(key);
    for (size_t i = 0; i < items.size() && !items[i].empty(); i += 2)
        if (i + 1 >= items.size() || items[i + 1].empty())
            sources.push_back(items[i]);
    return sources;
}

void ForgetPendingDeletion(const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return;
    std::vector<std::wstring> items = ReadMultiString(key, kPendingValue);
    std::wstring wanted = L"\\??\\" + path;
    std::vector<wchar_t> kept;
    for (size_t i = 0; i < items.size() && !items[i].empty(); i += 2) {
        std::wstring target = i + 1 < items.size() ? items[i + 1] : L"";
        if (_wcsicmp(items[i].c_str(), wanted.c_str()) == 0 && target.empty())
            continue;
        kept.insert(kept.end(), items[i].begin(), items[i].end());
        kept.push_back(0);
        kept.insert(kept.end(), target.begin(), target.end());
        kept.push_back(0);
    }
    if (kept.empty()) {
        RegDeleteValueW(key, kPendingValue);
    } else {
        kept.push_back(0);
        RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

void UseBuiltinDifxapi()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, KEY_ALL_ACCESS,
                      &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"difxapi");
    RegCloseKey(key);
}

std::string Stamped(const std::string& text)
{
    return "[TS]\t" + text;
}

std::string ClosingLine()
{
    return std::string(92, '-');
}
