#include "platform/Process.h"

#include "foundation/Handles.h"

DWORD RunProcessAndWait(wchar_t* commandLine, const wchar_t* runDir)
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, runDir, &startup,
                        &process))
        return kNoExitCode;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    DWORD exitCode = kNoExitCode;
    if (WaitForSingleObject(processHandle.Get(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(processHandle.Get(), &exitCode)) {
        DWORD error = GetLastError();
        exitCode = kNoExitCode;
        threadHandle.Close();
        processHandle.Close();
        SetLastError(error);
    }
    return exitCode;
}

HMODULE LoadTrustedLibrary(const wchar_t* name, bool alsoProgramFolder)
{
    DWORD where = LOAD_LIBRARY_SEARCH_SYSTEM32 | (alsoProgramFolder ? LOAD_LIBRARY_SEARCH_APPLICATION_DIR : 0);
    HMODULE module = LoadLibraryExW(name, nullptr, where);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    // A system without the search flags: the system folder by full path.
    zqWString path;
    return SystemProgramPath(name, &path) ? LoadLibraryW(path.Get()) : nullptr;
}

bool SystemProgramPath(const wchar_t* name, zqWString* path)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH && FormatInto(*path, L"%s\\%s", folder, name);
}

bool ProgramPath(zqWString* path)
{
    for (DWORD size = MAX_PATH;; size *= 2) {
        if (!path->Reserve(static_cast<int>(size)))
            return false;
        DWORD length = GetModuleFileNameW(nullptr, path->buffer, size);
        if (length == 0)
            return false;
        if (length < size) {
            path->length = static_cast<int>(length);
            return true;
        }
    }
}
