#include "tests/support/Support.h"

#include <ctype.h>
#include <stdio.h>
#include <wctype.h>

#include "run/CleaningRun.h"
#include "script/CleanScript.h"
#include "shared/RunLog.h"
#include "shared/StatusBlock.h"

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return out;
}

std::wstring Widen(const std::string& text)
{
    std::wstring out;
    for (char c : text)
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return out;
}

std::wstring MakeScratchDir(const std::wstring& name)
{
    CreateDirectoryW(L"C:\\zqtest", nullptr);
    std::wstring dir = L"C:\\zqtest\\" + name;
    RemoveTree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void RemoveTree(const std::wstring& folder)
{
    // Links first and files last, so that a link in the tree still leads somewhere when it is
    // met (Wine lists no link that leads nowhere) and nothing is deleted through one.
    for (int pass = 0; pass < 3; ++pass) {
        WIN32_FIND_DATAW data;
        FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
        while (find.Valid()) {
            std::wstring name = data.cFileName, child = folder + L"\\" + name;
            bool link = name != L"." && name != L".." &&
                        ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsLink(child));
            bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (name == L"." || name == L"..") {
            } else if (pass == 0 && link) {
                RemoveLink(child);
            } else if (pass == 1 && directory && !link) {
                RemoveTree(child);
            } else if (pass == 2 && !directory && !link) {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
            if (!FindNextFileW(find.Get(), &data))
                break;
        }
    }
    RemoveDirectoryW(folder.c_str());
}

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    StdioFile file(_wfopen(path.c_str(), L"rb"));
    char chunk[4096];
    size_t got;
    while (file.Valid() && (got = fread(chunk, 1, sizeof chunk, file.Get())) > 0)
        bytes.append(chunk, got);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    StdioFile file(_wfopen(path.c_str(), L"wb"));
    if (file.Valid())
        fwrite(bytes.data(), 1, bytes.size(), file.Get());
}

std::wstring SystemRootDir()
{
    wchar_t path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%SystemRoot%", path, MAX_PATH);
    return path;
}

std::wstring SystemFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

std::wstring TestProgramDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.rfind(L'\\'));
}

std::wstring StandinPath(const std::wstring& name)
{
    std::wstring tests = TestProgramDir();
    return tests.substr(0, tests.rfind(L'\\')) + L"\\standins\\" + name;
}

bool CopyStandIn(const wchar_t* exeName, const std::wstring& target)
{
    return CopyFileW(StandinPath(exeName).c_str(), target.c_str(), FALSE) != 0;
}

namespace {

Lines SplitLines(const std::wstring& path, bool textMode)
{
    std::string text = ReadFileBytes(path);
    const char shape[] = "[dddd/dd/dd dd:dd:dd,ddd]";
    Lines lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        // The log is text-mode text: a line end without its CR shows in the line.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        else if (textMode && end < text.size())
            line += "<LF without CR>";
        for (size_t at = 0; (at = line.find('[', at)) != std::string::npos; ++at) {
            bool stamp = line.size() >= at + 25;
            for (size_t i = 0; stamp && i < 25; ++i)
                stamp = shape[i] == 'd' ? isdigit(static_cast<unsigned char>(line[at + i])) != 0
                                        : line[at + i] == shape[i];
            if (stamp)
                line.replace(at, 25, "[TS]");
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace

Lines LogLines(const std::wstring& path) { return SplitLines(path, true); }
Lines RecordedLines(const std::wstring& path) { return SplitLines(path, false); }

std::string S(const std::string& text) { return "[TS]\t" + text; }
std::string ClosingLine() { return std::string(92, '-'); }

std::wstring FreshRunLog(const std::string& name)
{
    CreateDirectoryW(L"C:\\zqtest", nullptr);
    CreateDirectoryW(L"C:\\zqtest\\runlog", nullptr);
    std::wstring log = L"C:\\zqtest\\runlog\\" + Widen(name) + L".log";
    DeleteFileW(log.c_str());
    SetRunLogPath(Narrow(log).c_str());
    return log;
}


void RemoveScratchKey(HKEY root, const std::wstring& path, REGSAM view)
{
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.Put()) == ERROR_SUCCESS)
        RegDeleteTreeW(key.Get(), nullptr);
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

void MakeKey(HKEY root, const std::wstring& path,
             const std::vector<std::pair<std::wstring, std::wstring>>& values, REGSAM view)
{
    RegKey key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    for (const auto& value : values)
        RegSetValueExW(key.Get(), value.first.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.second.c_str()),
                       static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t)));
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view)
{
    RegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.Put()) == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view)
{
    RegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.Put()) == ERROR_SUCCESS &&
           RegQueryValueExW(key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPending[] = L"PendingFileRenameOperations";

// The strings of the REG_MULTI_SZ in pairs: source, then target (empty for a deletion).
std::vector<std::wstring> PendingStrings()
{
    std::vector<std::wstring> strings;
    RegKey key;
    DWORD size = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.Put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), kPending, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return strings;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, 0);
    if (RegQueryValueExW(key.Get(), kPending, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS)
        return strings;
    size_t units = size / sizeof(wchar_t);
    if (units > 0 && data[units - 1] == 0)
        --units;  // the list's own terminator
    for (size_t start = 0, i = 0; i < units; ++i) {
        if (data[i] == 0) {
            strings.emplace_back(data.data() + start, i - start);
            start = i + 1;
        }
    }
    return strings;
}

bool Contains(std::wstring text, std::wstring marker)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    for (wchar_t& c : marker)
        c = static_cast<wchar_t>(towlower(c));
    return text.find(marker) != std::wstring::npos;
}

}  // namespace

std::vector<std::wstring> PendingWith(const std::wstring& marker)
{
    std::vector<std::wstring> strings = PendingStrings(), mine;
    for (size_t i = 0; i < strings.size(); i += 2)
        if (Contains(strings[i], marker))
            mine.push_back(strings[i].substr(strings[i].compare(0, 4, L"\\??\\") == 0 ? 4 : 0));
    return mine;
}

void DropPendingRenames(const std::wstring& marker)
{
    std::vector<std::wstring> strings = PendingStrings();
    std::wstring kept;
    for (size_t i = 0; i < strings.size(); i += 2) {
        if (Contains(strings[i], marker))
            continue;
        kept += strings[i] + L'\0' + (i + 1 < strings.size() ? strings[i + 1] : L"") + L'\0';
    }
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_WRITE, key.Put()) != ERROR_SUCCESS)
        return;
    kept.push_back(0);
    if (kept.size() == 1)
        RegDeleteValueW(key.Get(), kPending);
    else
        RegSetValueExW(key.Get(), kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}

ScopedDllOverride::ScopedDllOverride(const wchar_t* name, const wchar_t* value, const wchar_t* program)
    : dll(name), where(program == nullptr ? std::wstring(L"Software\\Wine\\DllOverrides")
                                          : L"Software\\Wine\\AppDefaults\\" + std::wstring(program) +
                                                L"\\DllOverrides")
{
    RegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, where.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    existed = RegQueryValueExW(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
              ERROR_SUCCESS;
    old = buffer;
    RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

ScopedDllOverride::~ScopedDllOverride()
{
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, where.c_str(), 0, KEY_WRITE, key.Put()) != ERROR_SUCCESS)
        return;
    if (existed)
        RegSetValueExW(key.Get(), dll.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(old.c_str()),
                       static_cast<DWORD>((old.size() + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(key.Get(), dll.c_str());
}

namespace {
// Wine names a DLL's load order without its ".dll"; other modules keep their extension.
std::wstring OverrideName(std::wstring name)
{
    if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".dll") == 0)
        name.resize(name.size() - 4);
    return name;
}
}  // namespace

ScopedSystemFile::ScopedSystemFile(const wchar_t* name, const std::wstring& standin, const wchar_t* program)
    : path(SystemFolder() + L"\\" + name), native(OverrideName(name).c_str(), L"native", program)
{
    MoveFileExW(path.c_str(), (path + L".zqsaved").c_str(), MOVEFILE_REPLACE_EXISTING);
    CopyFileW(standin.c_str(), path.c_str(), FALSE);
}

ScopedSystemFile::~ScopedSystemFile()
{
    MoveFileExW((path + L".zqsaved").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void AddEntries(zqList<zqWString>* list, std::initializer_list<const wchar_t*> entries)
{
    for (const wchar_t* entry : entries)
        AppendEntry(*list, entry);
}

ScopedEnv::ScopedEnv(const wchar_t* variable, const wchar_t* value) : name(variable)
{
    DWORD size = GetEnvironmentVariableW(variable, nullptr, 0);
    if (size > 0) {
        std::vector<wchar_t> buffer(size);
        GetEnvironmentVariableW(variable, buffer.data(), size);
        saved = buffer.data();
        hadValue = true;
    }
    SetEnvironmentVariableW(variable, value);
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(name.c_str(), hadValue ? saved.c_str() : nullptr); }

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

std::wstring Program()
{
    std::wstring tests = TestProgramDir();
    return tests.substr(0, tests.rfind(L'\\')) + (sizeof(void*) == 8 ? L"\\zqclean64.exe" : L"\\zqclean32.exe");
}

KernelHandle Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& dir)
{
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi))
        return KernelHandle();
    CloseHandle(pi.hThread);
    return KernelHandle(pi.hProcess);
}

DWORD Finish(const KernelHandle& process)
{
    DWORD code = 0xdeadbeef;
    if (process.Valid() && WaitForSingleObject(process.Get(), 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.Get(), &code);
    else if (process.Valid())
        TerminateProcess(process.Get(), code);
    return code;
}

DWORD Launch(const std::wstring& arguments, const std::wstring& dir) { return Finish(Start(Program(), arguments, dir)); }

RunOutcome RunWithScript(const std::wstring& scriptDir, const std::string& srvcText,
                         const std::wstring& workDir, const std::string& logName)
{
    std::wstring scriptPath = scriptDir + L"\\zqclean.ini";
    WriteFileBytes(scriptPath + L".srvc", srvcText);
    std::wstring log = FreshRunLog(logName);
    RunOutcome outcome;
    KernelHandle block = CreateStatusBlock();
    FillStatusBlock(block.Get(), scriptPath.c_str(), workDir.c_str());
    RunCleaning();
    outcome.status = ReadBlockStatus(block.Get());
    outcome.lines = LogLines(log);
    return outcome;
}

namespace {

Lines Section(const char* header, const char* summary, const Lines& items)
{
    char line[80];
    snprintf(line, sizeof line, header, static_cast<int>(items.size()));
    Lines lines = {S(line)};
    lines.insert(lines.end(), items.begin(), items.end());
    snprintf(line, sizeof line, summary, static_cast<int>(items.size()));
    lines.push_back(S(line));
    return lines;
}

}  // namespace

Lines RunLog(const std::wstring& scriptDir, const Lines& files, const Lines& assemblies, const Lines& folders)
{
    Lines lines = {S("Ininame: " + (scriptDir.empty() ? "" : Narrow(scriptDir) + "\\zqclean.ini"))};
    if (sizeof(void*) == 8)  // the 32-bit build runs under WOW64 in this prefix and skips these
        lines = Joined({lines, Section("Delete driver packages(%i) from DriverStore:",
                                       "%i driver packages are deleted from the DriverStore.", {}),
                        Section("Delete infs:", "%i inf files are deleted", {})});
    return Joined({lines, Section("Delete driver services(%i):", "%i driver services are deleted.", {}),
                   Section("Delete files(%i):", "%i files are deleted.", files),
                   Section("Delete .NET dlls from GAC(%i):", "%i .NET dlls are deleted.", assemblies),
                   Section("Delete folders(%i):", "%i folders are deleted.", folders),
                   Section("Delete registry keys(%i):", "%i registry keys are deleted", {}),
                   {S("Undelete setup...OK."), S("Find enumerated devices to delete"),
                    S("No enumerated devices found."), ClosingLine()}});
}

Lines Joined(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
