// The cleaning run alone, in this process: fills the status block and prepares the script
// copy as the launcher does, then times RunCleaning() as the service host would call it. The
// difference to a whole launch is the service overhead (install, start, poll, removal).
//
//   bench_inproc WORKDIR     (WORKDIR holds zqclean.ini; the run log goes where it always goes)
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#include "run/CleaningRun.h"
#include "shared/StopSignal.h"
#include "foundation/zqString.h"
#include "shared/RunLog.h"
#include "shared/StatusBlock.h"
#include "script/PrepareScript.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_inproc WORKDIR\n");
        return 2;
    }
    const wchar_t* workDir = argv[1];
    wchar_t scriptPath[260];
    FormatW(scriptPath, 260, L"%s\\zqclean.ini", workDir);

    LARGE_INTEGER frequency, start, prepared, done;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    InitRunLogPath();
    FileHandle log = StartRunLog();
    KernelHandle block = CreateStatusBlock();
    if (!block.Valid()) {
        fprintf(stderr, "bench_inproc: no status block (%lu)\n", GetLastError());
        return 2;
    }
    FillStatusBlock(block.Get(), scriptPath, workDir);
    if (PrepareScript(scriptPath) != PrepareResult::Written) {
        fprintf(stderr, "bench_inproc: cannot prepare %S\n", scriptPath);
        return 2;
    }
    ServiceCurrentState().store(SERVICE_RUNNING);
    QueryPerformanceCounter(&prepared);
    RunCleaning();
    QueryPerformanceCounter(&done);

    wchar_t copyPath[270];
    FormatW(copyPath, 270, L"%s.srvc", scriptPath);
    DeleteFileW(copyPath);
    printf("inproc: prepare %.3f s, RunCleaning %.3f s, status %d\n",
           double(prepared.QuadPart - start.QuadPart) / double(frequency.QuadPart),
           double(done.QuadPart - prepared.QuadPart) / double(frequency.QuadPart),
           ReadBlockStatus(block.Get()));
    return 0;
}
