// Test helper, built as standins\locker.exe.
//   locker.exe <file> <readyEvent> <releaseEvent>
//       Opens the existing <file> with share mode 0, sets the named manual-reset event
//       <readyEvent> and waits (60 s at most) for <releaseEvent>; then closes the file.
//       Exit codes: 0 released, 1 usage, 2 file not opened, 3 no events, 4 no release.
//   locker.exe --exit <code>      exits at once with <code> (decimal, or hex with 0x)
//   locker.exe --write-cwd <file> writes its current directory (UTF-16, no terminator)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

int WriteCurrentDirectory(const wchar_t* file)
{
    wchar_t dir[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, dir);
    FILE* out = _wfopen(file, L"wb");
    if (out == nullptr)
        return 2;
    fwrite(dir, sizeof(wchar_t), length, out);
    fclose(out);
    return 0;
}

int HoldLocked(const wchar_t* file, const wchar_t* readyName, const wchar_t* releaseName)
{
    HANDLE locked = CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (locked == INVALID_HANDLE_VALUE)
        return 2;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, releaseName);
    int code = 3;
    if (ready != nullptr && release != nullptr && SetEvent(ready))
        code = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 4;
    CloseHandle(release);
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
    return 1;
}
