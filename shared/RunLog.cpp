#include "shared/RunLog.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "foundation/FillToFit.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"

namespace {

zqWString runLogPath;

void WriteStamp(FILE* file, const SYSTEMTIME& now)
{
    fprintf(file, "[%04i/%02i/%02i %02i:%02i:%02i,%03i]\t", now.wYear, now.wMonth, now.wDay,
            now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
}

}  // namespace

bool SystemDriveFile(const char* name, zqWString* path)
{
    zqWString root;
    Result asked = FillToFit(&root, [](wchar_t* buffer, DWORD room) {
        return LengthOrRoom(GetSystemDirectoryW(buffer, room));
    });
    // The root folder of the system drive: everything up to the first separator.
    const wchar_t* cut = asked.ok ? wcspbrk(root.Get(), L"\\/") : nullptr;
    return FormatInto(*path, L"%.*s%S", cut != nullptr ? static_cast<int>(cut - root.Get()) + 1 : 0, root.Get(), name);
}

void InitRunLogPath(const char* name)
{
    SystemDriveFile(name, &runLogPath);
}

void SetRunLogPath(const char* path)
{
    runLogPath.Assign(path);
}

const wchar_t* RunLogPath()
{
    return runLogPath.Get();
}

FileHandle StartRunLog()
{
    // Made new: whatever stands at the name (an old log, a link planted to some other file) is
    // removed first, never written through.
    DeleteFileW(runLogPath.Get());
    return FileHandle(CreateFileW(runLogPath.Get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

namespace {

// The format for the wide formatter: the same text, with "%s" (narrow) and "%S" (wide)
// swapped, since the wide formatter reads them the other way round.
void WideFormat(const char* format, zqWString* wide)
{
    wide->Reserve(static_cast<int>(strlen(format)));
    wchar_t* out = wide->buffer;
    bool inConversion = false;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(format); *c != 0; ++c) {
        wchar_t unit = *c;
        if (inConversion && (unit == L's' || unit == L'S')) {
            unit = unit == L's' ? L'S' : L's';
            inConversion = false;
        } else if (inConversion && ((unit >= L'a' && unit <= L'z') || (unit >= L'A' && unit <= L'Z') || unit == L'%')) {
            inConversion = false;
        } else if (unit == L'%') {
            inConversion = true;
        }
        *out++ = unit;
    }
    *out = 0;
    wide->length = static_cast<int>(out - wide->buffer);
}

}  // namespace

void WriteLog(int stamp, const char* format, ...)
{
    StdioFile file(_wfopen(runLogPath.Get(), L"at"));
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (!file.Valid())
        return;
    if (stamp != 0)
        WriteStamp(file.Get(), now);
    // Formatted wide, then written in the ANSI code page: a letter it cannot spell becomes '?',
    // where the runtime's own conversion would end the text there.
    zqWString wideFormat, text;
    WideFormat(format, &wideFormat);
    va_list args;
    va_start(args, format);
    int length = _vscwprintf(wideFormat.Get(), args);
    va_end(args);
    if (length <= 0 || !text.Reserve(length))
        return;
    va_start(args, format);
    _vsnwprintf(text.buffer, static_cast<size_t>(length) + 1, wideFormat.Get(), args);
    va_end(args);
    text.buffer[length] = 0;
    // No best fit: a path shown as a different letter would name another file.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int size = WideCharToMultiByte(CP_ACP, flags, text.buffer, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {  // a UTF-8 code page takes no flags
        flags = 0;
        size = WideCharToMultiByte(CP_ACP, flags, text.buffer, length, nullptr, 0, nullptr, nullptr);
    }
    zqString bytes;
    if (size <= 0 || !bytes.Reserve(size))
        return;
    length = WideCharToMultiByte(CP_ACP, flags, text.buffer, length, bytes.buffer, size, nullptr, nullptr);
    bytes.buffer[length] = 0;
    fwrite(bytes.buffer, 1, static_cast<size_t>(length), file.Get());
}

void WriteResultLine(int status)
{
    const char* text;
    switch (status) {
    case -1: text = "Unknown error"; break;
    case 0: text = "Everything is cleaned"; break;
    case 1: text = "ZU Rovid is executed from invalid path"; break;
    default: text = "????"; break;
    }
    WriteLog(1, "%s\n", text);
}
