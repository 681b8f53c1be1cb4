// Test helper, built as standins\locker.exe.
//
//   locker.exe <file> <readyEventName> <releaseEventName>
//       Opens the existing <file> with share mode 0 (nobody else may open, delete or rename it),
//       then sets the named manual-reset event <readyEventName> and waits for the named event
//       <releaseEventName>; closes the file and exits. Either side may create the events first.
//       Gives up after 60 s so that a failing test can never leave it running.
//       Exit codes: 0 released, 1 usage, 2 file not opened (its error code on stderr),
//       3 an event could not be created, 4 no release within 60 s.
//   locker.exe --exit <code>
//       Exits at once with <code> (decimal, or hex with 0x: "--exit 0xC0000135").
//   locker.exe --write-cwd <file>
//       Writes its current directory (UTF-16, no terminator) to <file> and exits with 0.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

int WriteCurrentDirectory(const wchar_t* file)
{
    wchar_t dir[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, dir);
    HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    WriteFile(out, dir, length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(out);
    return 0;
}

int HoldLocked(const wchar_t* file, const wchar_t* readyName, const wchar_t* releaseName)
{
    HANDLE locked = CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (locked == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"locker: cannot open %ls: %lu\n", file, GetLastError());
        return 2;
    }
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, releaseName);
    int code = 3;
    if (ready != nullptr && release != nullptr) {
        SetEvent(ready);
        code = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 4;
    }
    if (release != nullptr)
        CloseHandle(release);
    if (ready != nullptr)
        CloseHandle(ready);
    CloseHandle(locked);
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && wcscmp(argv[1], L"--exit") == 0)
        return static_cast<int>(wcstoul(argv[2], nullptr, 0));
    if (argc == 3 && wcscmp(argv[1], L"--write-cwd") == 0)
        return WriteCurrentDirectory(argv[2]);
    if (argc == 4)
        return HoldLocked(argv[1], argv[2], argv[3]);
    fwprintf(stderr, L"usage: locker <file> <readyEvent> <releaseEvent> | --exit <code> | "
                     L"--write-cwd <file>\n");
    return 1;
}
