// Writes "<own folder>\slowtool.started", sleeps 3 seconds, writes "slowtool.done", exits 0.
#include <windows.h>
#include <wchar.h>

static void Touch(const wchar_t* dir, const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    _snwprintf(path, MAX_PATH, L"%ls\\%ls", dir, name);
    path[MAX_PATH - 1] = 0;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

int main()
{
    wchar_t dir[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, dir, MAX_PATH);
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (slash != nullptr)
        *slash = 0;
    Touch(dir, L"slowtool.started");
    Sleep(3000);
    Touch(dir, L"slowtool.done");
    return 0;
}
