// Test stand-in for a command-line tool (copied as gacutil.exe or regsvr32.exe). With <base>
// its own path without ".exe" it appends its command line to <base>.args; when that ends in a
// quoted path, "present" or "absent" for that file to <base>.seen; reads <base>.exitcode if
// present, "<code> [<readyEvent> <releaseEvent> [child]]" or "<code> <milliseconds>": with the
// events it sets <readyEvent> and waits (60 s at most) for <releaseEvent>, so a test can act while
// the tool runs; with a time it takes that long, a slow tool; exits <code>. With "child" it
// first starts a copy of itself ("--child") that writes <base>.child, holds the mutex
// "Global\zqtest_tool_child" and sleeps a minute: what the tool started. A path in <base>.drop
// names a file it leaves behind, as a control's unregistration may.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

namespace {

void AppendLine(const std::wstring& file, const std::wstring& text)
{
    FILE* out = _wfopen(file.c_str(), L"ab");
    if (out == nullptr)
        return;
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 1, '\n');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    bytes.back() = '\n';
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
}

}  // namespace

int wmain()
{
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 100;
    std::wstring base = path;
    base = base.substr(0, base.rfind(L'.'));
    std::wstring line = GetCommandLineW();
    if (line.size() > 8 && line.compare(line.size() - 8, 8, L" --child") == 0) {
        HANDLE held = CreateMutexW(nullptr, TRUE, L"Global\\zqtest_tool_child");
        AppendLine(base + L".child", L"started");
        Sleep(60000);
        CloseHandle(held);
        return 0;
    }

    AppendLine(base + L".args", line);
    size_t open = line.size() > 1 && line.back() == L'"' ? line.rfind(L'"', line.size() - 2) : std::wstring::npos;
    if (open != std::wstring::npos) {
        DWORD attributes = GetFileAttributesW(line.substr(open + 1, line.size() - open - 2).c_str());
        AppendLine(base + L".seen", attributes != INVALID_FILE_ATTRIBUTES ? L"present" : L"absent");
    }

    FILE* drop = _wfopen((base + L".drop").c_str(), L"rt");
    wchar_t dropped[MAX_PATH] = {};
    if (drop != nullptr && fgetws(dropped, MAX_PATH, drop) != nullptr) {
        dropped[wcscspn(dropped, L"\r\n")] = 0;
        AppendLine(dropped, L"left behind");
    }
    if (drop != nullptr)
        fclose(drop);

    int code = 0;
    FILE* control = _wfopen((base + L".exitcode").c_str(), L"rt");
    if (control == nullptr)
        return code;
    wchar_t ready[128] = {}, release[128] = {}, child[16] = {};
    int fields = fwscanf(control, L"%d %127ls %127ls %15ls", &code, ready, release, child);
    fclose(control);
    if (fields == 4 && wcscmp(child, L"child") == 0) {
        std::wstring childLine = L"\"" + std::wstring(path) + L"\" --child";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        if (CreateProcessW(nullptr, &childLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
        }
    }
    if (fields == 2)
        Sleep(static_cast<DWORD>(_wtoi(ready)));
    if (fields >= 3) {
        HANDLE readyEvent = CreateEventW(nullptr, TRUE, FALSE, ready);
        HANDLE releaseEvent = CreateEventW(nullptr, TRUE, FALSE, release);
        if (readyEvent != nullptr && releaseEvent != nullptr) {
            SetEvent(readyEvent);
            WaitForSingleObject(releaseEvent, 60000);
        }
        CloseHandle(releaseEvent);
        CloseHandle(readyEvent);
    }
    return code;
}
