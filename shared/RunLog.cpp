#include "shared/RunLog.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"

namespace {

char runLogPath[MAX_PATH];

void WriteStamp(FILE* file, const SYSTEMTIME& now)
{
    fprintf(file, "[%04i/%02i/%02i %02i:%02i:%02i,%03i]\t", now.wYear, now.wMonth, now.wDay,
            now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
}

}  // namespace

void SystemDriveFile(const char* name, char* path, size_t size)
{
    char root[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(root, sizeof root);
    if (length == 0 || length >= sizeof root)
        root[0] = 0;
    // The root folder of the system drive: everything up to the first separator.
    char* cut = strchr(root, '\\');
    if (cut == nullptr)
        cut = strchr(root, '/');
    if (cut != nullptr)
        cut[1] = 0;
    else
        root[0] = 0;
    FormatA(path, size, "%s%s", root, name);
}

void InitRunLogPath(const char* name)
{
    SystemDriveFile(name, runLogPath, sizeof runLogPath);
}

void SetRunLogPath(const char* path)
{
    FormatA(runLogPath, sizeof runLogPath, "%s", path);
}

const char* RunLogPath()
{
    return runLogPath;
}

FileHandle StartRunLog()
{
    // Made new: whatever stands at the name (an old log, a link planted to some other file) is
    // removed first, never written through.
    DeleteFileA(runLogPath);
    return FileHandle(CreateFileA(runLogPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void WriteLog(int stamp, const char* format, ...)
{
    StdioFile file(fopen(runLogPath, "at"));
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (!file.Valid())
        return;
    if (stamp != 0)
        WriteStamp(file.Get(), now);
    va_list args;
    va_start(args, format);
    vfprintf(file.Get(), format, args);
    va_end(args);
}

bool WriteItemOutcome(bool done, unsigned long error)
{
    if (done)
        WriteLog(0, "OK\n");
    else
        WriteLog(0, "FAILED(Err:%i)\n", static_cast<int>(error));
    return done;
}

void WriteResultLine(int status)
{
    StdioFile file(fopen(runLogPath, "at"));
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (!file.Valid())
        return;
    const char* text;
    switch (status) {
    case -1: text = "Unknown error"; break;
    case 0: text = "Everything is cleaned"; break;
    case 1: text = "ZU Rovid is executed from invalid path"; break;
    default: text = "????"; break;
    }
    char line[256];
    FormatA(line, sizeof line, "%s", text);
    WriteStamp(file.Get(), now);
    fprintf(file.Get(), "%s\n", line);
}
