#include "tests/support/TestSupport.h"

#include <stdio.h>

std::wstring TestProgramDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash != nullptr)
        *slash = 0;
    return path;
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
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = folder + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(child);
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(child.c_str());
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
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
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr)
        return bytes;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, got);
    fclose(f);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr)
        return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

namespace {

bool IsStamp(const std::string& line, size_t at)
{
    // [2011/05/14 10:03:07,046]
    const char* shape = "[dddd/dd/dd dd:dd:dd,ddd]";
    if (line.size() < at + 25)
        return false;
    for (size_t i = 0; i < 25; ++i) {
        char want = shape[i];
        char got = line[at + i];
        if (want == 'd' ? (got < '0' || got > '9') : got != want)
            return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> MaskedLogLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t at = 0;
        while ((at = line.find('[', at)) != std::string::npos) {
            if (IsStamp(line, at))
                line.replace(at, 25, "[TS]");
            ++at;
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

DWORD RunAndWait(const std::wstring& commandLine, const std::wstring& currentDir, DWORD timeoutMs)
{
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi))
        return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 0xFFFFFFFE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

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

std::wstring StandinPath(const std::wstring& exeName)
{
    std::wstring dir = TestProgramDir();  // <build>\tests
    return dir.substr(0, dir.rfind(L'\\')) + L"\\standins\\" + exeName;
}

std::string Stamped(const std::string& text)
{
    return "[TS]\t" + text;
}

std::string ClosingLine()
{
    return std::string(92, '-');
}
