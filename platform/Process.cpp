#include "platform/Process.h"

#include "foundation/FillToFit.h"
#include "foundation/Handles.h"
#include "platform/SystemPaths.h"

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

Result RunProcessAndWait(wchar_t* commandLine, const wchar_t* runDir, const ToolLimits& limits, DWORD* exitCode)
{
    *exitCode = kNoExitCode;
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    PROCESS_INFORMATION process = {};
    KernelHandle job = MakeToolJob();
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                        runDir, &startup, &process))
        return LastFailure();
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    // Where the job cannot take it (a system that nests no jobs), the program alone is ended.
    if (job.Valid() && !AssignProcessToJobObject(job.Get(), processHandle.Get()))
        job.Close();
    ResumeThread(threadHandle.Get());

    HANDLE waits[2] = {processHandle.Get(), limits.stop};
    DWORD waited = WaitForMultipleObjects(limits.stop != nullptr ? 2 : 1, waits, FALSE, limits.timeoutMs);
    if (waited == WAIT_OBJECT_0)
        return GetExitCodeProcess(processHandle.Get(), exitCode) ? Succeeded() : LastFailure();
    Result ended = waited == WAIT_TIMEOUT          ? FailedBy(ERROR_TIMEOUT)
                   : waited == WAIT_OBJECT_0 + 1 ? FailedBy(ERROR_CANCELLED)
                                                   : LastFailure();
    if (job.Valid())
        TerminateJobObject(job.Get(), kNoExitCode);
    else
        TerminateProcess(processHandle.Get(), kNoExitCode);
    WaitForSingleObject(processHandle.Get(), 5000);
    return ended;
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
    zqWString folder;
    return SystemFolder(&folder).ok && folder.length > 0 && FormatInto(*path, L"%s\\%s", folder.Get(), name);
}

Result ProgramPath(zqWString* path)
{
    // A path cut to the room given says nothing of the room it needs: twice as much, then.
    return FillToFit(path, [](wchar_t* buffer, DWORD room) {
        DWORD length = GetModuleFileNameW(nullptr, buffer, room);
        return length == 0 ? Filled{0, GetLastError()} : Filled{length < room ? length : room * 2, ERROR_SUCCESS};
    });
}
