// Test stand-in for a command-line tool, built as standins\gacutil.exe; it takes the name of
// whatever file it is copied to. With <base> its own path without ".exe":
//   - appends its whole command line (GetCommandLineW, UTF-8) and a line feed to <base>.args;
//   - reads <base>.exitcode, if present: "<code> [<readyEvent> <releaseEvent>]". With the two
//     event names it sets the manual-reset event <readyEvent> and waits (60 s at most) for
//     <releaseEvent> before it exits, so that a test can act while the tool "runs";
//   - exits with <code> (decimal, default 0).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

void AppendLine(const wchar_t* file, const wchar_t* text)
{
    HANDLE out = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return;
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    char* bytes = static_cast<char*>(malloc(static_cast<size_t>(size) + 1));
    if (bytes != nullptr && size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, size, nullptr, nullptr);
        bytes[size - 1] = '\n';
        DWORD written = 0;
        WriteFile(out, bytes, static_cast<DWORD>(size), &written, nullptr);
    }
    free(bytes);
    CloseHandle(out);
}

}  // namespace

int wmain()
{
    wchar_t base[MAX_PATH + 16] = {};
    DWORD length = GetModuleFileNameW(nullptr, base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 100;
    wchar_t* dot = wcsrchr(base, L'.');
    if (dot != nullptr && wcschr(dot, L'\\') == nullptr)
        *dot = 0;

    wchar_t file[MAX_PATH + 16];
    _snwprintf(file, MAX_PATH + 16, L"%ls.args", base);
    AppendLine(file, GetCommandLineW());

    int code = 0;
    _snwprintf(file, MAX_PATH + 16, L"%ls.exitcode", base);
    FILE* control = _wfopen(file, L"rt");
    if (control == nullptr)
        return code;
    wchar_t ready[128] = {};
    wchar_t release[128] = {};
    int fields = fwscanf(control, L"%d %127ls %127ls", &code, ready, release);
    fclose(control);
    if (fields == 3) {
        HANDLE readyEvent = CreateEventW(nullptr, TRUE, FALSE, ready);
        HANDLE releaseEvent = CreateEventW(nullptr, TRUE, FALSE, release);
        if (readyEvent != nullptr && releaseEvent != nullptr) {
            SetEvent(readyEvent);
            WaitForSingleObject(releaseEvent, 60000);
        }
        if (releaseEvent != nullptr)
            CloseHandle(releaseEvent);
        if (readyEvent != nullptr)
            CloseHandle(readyEvent);
    }
    return code;
}
