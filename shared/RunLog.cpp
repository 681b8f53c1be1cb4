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

FileHandle heldLog;

FileHandle OpenForAppending()
{
    return FileHandle(CreateFileW(runLogPath.Get(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Writes one piece as a text-mode stream would (every "\n" as "\r\n"), in one call.
void AppendPiece(const char* bytes, size_t size)
{
    zqString crlf;
    size_t lineEnds = 0;
    for (size_t i = 0; i < size; ++i)
        lineEnds += bytes[i] == '\n';
    if (!crlf.Reserve(static_cast<int>(size + lineEnds)))
        return;
    char* out = crlf.buffer;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == '\n')
            *out++ = '\r';
        *out++ = bytes[i];
    }
    FileHandle ownOpen;
    if (!heldLog.Valid())
        ownOpen = OpenForAppending();
    HANDLE file = heldLog.Valid() ? heldLog.Get() : ownOpen.Get();
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE)
        WriteFile(file, crlf.buffer, static_cast<DWORD>(out - crlf.buffer), &written, nullptr);
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

RunLogHold::RunLogHold()
{
    heldLog = OpenForAppending();
}

RunLogHold::~RunLogHold()
{
    heldLog.Close();
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
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stampText[32] = "";
    int stampLength = 0;
    if (stamp != 0)
        stampLength = snprintf(stampText, sizeof stampText, "[%04i/%02i/%02i %02i:%02i:%02i,%03i]\t", now.wYear,
                               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    // Formatted wide, then written in the ANSI code page: a letter it cannot spell becomes '?',
    // where the runtime's own conversion would end the text there.
    zqWString wideFormat, text;
    WideFormat(format, &wideFormat);
    va_list args;
    va_start(args, format);
    int length = _vscwprintf(wideFormat.Get(), args);
    va_end(args);
    if (length <= 0 || !text.Reserve(length)) {
        AppendPiece(stampText, static_cast<size_t>(stampLength));
        return;
    }
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
    if (size <= 0 || !bytes.Reserve(stampLength + size))
        return;
    memcpy(bytes.buffer, stampText, static_cast<size_t>(stampLength));
    length = WideCharToMultiByte(CP_ACP, flags, text.buffer, length, bytes.buffer + stampLength, size, nullptr, nullptr);
    AppendPiece(bytes.buffer, static_cast<size_t>(stampLength + length));
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
