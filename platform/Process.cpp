#include "platform/Process.h"

#include "foundation/Handles.h"

namespace {

// A job that ends every process in it once its last handle closes: the program and whatever it
// started go together, also when this process itself ends.
KernelHandle MakeToolJob()
{
    KernelHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job.Valid() && !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        job.Close();
    return job;
}

}  // namespace

DWORD RunProcessAndWait(wchar_t* commandLine, const wchar_t* runDir, const ToolLimits& limits)
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    PROCESS_INFORMATION process = {};
    KernelHandle job = MakeToolJob();
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                        runDir, &startup, &process))
        return kNoExitCode;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    // Where the job cannot take it (a system that nests no jobs), the program alone is ended.
    if (job.Valid() && !AssignProcessToJobObject(job.Get(), processHandle.Get()))
        job.Close();
    ResumeThread(threadHandle.Get());

    HANDLE waits[2] = {processHandle.Get(), limits.stop};
    DWORD waited = WaitForMultipleObjects(limits.stop != nullptr ? 2 : 1, waits, FALSE, limits.timeoutMs);
    DWORD exitCode = kNoExitCode;
    if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(processHandle.Get(), &exitCode))
        return exitCode;
    DWORD error = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : waited == WAIT_OBJECT_0 + 1 ? ERROR_CANCELLED : GetLastError();
    if (waited != WAIT_OBJECT_0) {
        if (job.Valid())
            TerminateJobObject(job.Get(), kNoExitCode);
        else
            TerminateProcess(processHandle.Get(), kNoExitCode);
        WaitForSingleObject(processHandle.Get(), 5000);
    }
    SetLastError(error);
    return kNoExitCode;
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
