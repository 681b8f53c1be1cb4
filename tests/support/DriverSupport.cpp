#include "tests/support/DriverSupport.h"

#include <wctype.h>

#include "launcher/RunLog.h"
#include "tests/support/TestSupport.h"

namespace {

std::wstring runLogFile;

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

// The strings of a REG_MULTI_SZ, empty ones included (a deletion's empty target).
std::vector<std::wstring> ReadPendingStrings()
{
    std::vector<std::wstring> strings;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return strings;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, 0);
        if (RegQueryValueExW(key, kPendingValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
            size_t units = size / sizeof(wchar_t);
            // The list ends with an extra terminator; a pair's empty target is one terminator.
            if (units > 0 && data[units - 1] == 0)
                --units;
            size_t start = 0;
            for (size_t i = 0; i < units; ++i) {
                if (data[i] == 0) {
                    strings.emplace_back(data.data() + start, i - start);
                    start = i + 1;
                }
            }
        }
    }
    RegCloseKey(key);
    return strings;
}

}  // namespace

std::wstring StartScratchLog(const std::wstring& name)
{
    std::wstring dir = MakeScratchDir(name);
    runLogFile = dir + L"\\run.log";
    SetRunLogPath(Narrow(runLogFile).c_str());
    return dir;
}

std::vector<std::string> LogLines()
{
    return MaskedLogLines(ReadFileBytes(runLogFile));
}

std::wstring SystemRootDir()
{
    wchar_t path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%SystemRoot%", path, MAX_PATH);
    return path;
}

std::wstring StandinDir(const wchar_t* variant)
{
    return StandinPath(variant);
}

void ResetStandins()
{
    for (const wchar_t* variant : {L"difx", L"difx-invalid", L"difx-nolog"}) {
        DeleteFileW((StandinDir(variant) + L"\\difx-calls.txt").c_str());
        DeleteFileW((StandinDir(variant) + L"\\difx-results.txt").c_str());
    }
}

std::vector<std::string> StandinCalls(const wchar_t* variant)
{
    std::vector<std::string> calls;
    std::string text = ReadFileBytes(StandinDir(variant) + L"\\difx-calls.txt");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        calls.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return calls;
}

std::wstring SetWineDllOverride(const wchar_t* dll, const wchar_t* value, bool* existed)
{
    std::wstring old;
    *existed = false;
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr, 0,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return old;
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegQueryValueExW(key, dll, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
        ERROR_SUCCESS) {
        *existed = true;
        old = buffer;
    }
    RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return old;
}

void RestoreWineDllOverride(const wchar_t* dll, const std::wstring& old, bool existed)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, KEY_WRITE, &key) !=
        ERROR_SUCCESS)
        return;
    if (existed)
        RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(old.c_str()),
                       static_cast<DWORD>((old.size() + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(key, dll);
    RegCloseKey(key);
}

void UseNativeDifxapi()
{
    bool existed = false;
    SetWineDllOverride(L"difxapi", L"native", &existed);
}

void UseBuiltinDifxapi()
{
    RestoreWineDllOverride(L"difxapi", L"", false);
}

std::vector<std::wstring> PendingRenameSources()
{
    std::vector<std::wstring> strings = ReadPendingStrings();
    std::vector<std::wstring> sources;
    for (size_t i = 0; i < strings.size(); i += 2)
        sources.push_back(strings[i]);
    return sources;
}

void DropPendingRenames(const std::wstring& marker)
{
    std::vector<std::wstring> strings = ReadPendingStrings();
    std::wstring kept;
    bool dropped = false;
    for (size_t i = 0; i < strings.size(); i += 2) {
        if (Lower(strings[i]).find(Lower(marker)) != std::wstring::npos) {
            dropped = true;
            continue;
        }
        kept += strings[i];
        kept.push_back(0);
        if (i + 1 < strings.size())
            kept += strings[i + 1];
        kept.push_back(0);
    }
    if (!dropped)
        return;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (kept.empty()) {
        RegDeleteValueW(key, kPendingValue);
    } else {
        kept.push_back(0);
        RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

void AddEntries(zqList<zqWString>* list, std::initializer_list<const wchar_t*> entries)
{
    for (const wchar_t* entry : entries) {
        zqWString text;
        text.Assign(entry);
        list->Append(text);
    }
}
