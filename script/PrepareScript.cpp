#include "script/PrepareScript.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "platform/ExpandPath.h"
#include "platform/Paths.h"
#include "script/LineRules.h"

namespace {

// The copy's bytes, gathered before one write.
struct CopyText {
    HeapBlock bytes;
    size_t size = 0;
    size_t capacity = 0;
    bool failed = false;
};

void Put(CopyText& copy, const char* bytes, size_t count)
{
    if (copy.failed || count == 0)
        return;
    if (copy.size + count > copy.capacity) {
        size_t capacity = copy.capacity == 0 ? 64 * 1024 : copy.capacity;
        while (capacity < copy.size + count)
            capacity *= 2;
        void* grown = realloc(copy.bytes.Get(), capacity);
        if (grown == nullptr) {
            copy.failed = true;
            return;
        }
        copy.bytes.Release();
        copy.bytes.Reset(grown);
        copy.capacity = capacity;
    }
    memcpy(static_cast<char*>(copy.bytes.Get()) + copy.size, bytes, count);
    copy.size += count;
}

// One line of the copy in UTF-8, the line end included.
void PutLine(CopyText& copy, const wchar_t* text, int length)
{
    if (length > 0) {
        int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
        HeapBlock utf8(malloc(static_cast<size_t>(size) + 1));
        if (size == 0 || !utf8.Valid()) {
            copy.failed = true;
            return;
        }
        WideCharToMultiByte(CP_UTF8, 0, text, length, static_cast<char*>(utf8.Get()), size, nullptr, nullptr);
        Put(copy, static_cast<const char*>(utf8.Get()), static_cast<size_t>(size));
    }
    Put(copy, "\r\n", 2);
}

// A refused line goes over so that the reader refuses it again, for the same reason: its text
// keeps the NUL or Ctrl-Z and its length; undecodable bytes stay undecodable.
void PutRefusedLine(CopyText& copy, const zqWString& line, LineProblem problem)
{
    if (problem == LineProblem::BadText) {
        Put(copy, "\xFF\r\n", 3);
        return;
    }
    PutLine(copy, line.Get(), line.length);
}

// A [folders] or [exfolders] line (and the [general] backup line) with its environment references expanded, as the launcher's
// environment has them: the service's environment is not the user's.
void PutExpandedLine(CopyText& copy, const zqWString& line)
{
    wchar_t* expanded = nullptr;
    if (!ExpandPathW(line.Get(), &expanded)) {
        // No memory for the expansion: the line goes over as written, so the entry is still
        // there for the reader, which expands [folders] entries itself once more.
        PutLine(copy, line.Get(), line.length);
        return;
    }
    HeapBlock block(expanded);
    PutLine(copy, expanded, static_cast<int>(wcslen(expanded)));
}

}  // namespace

bool PreparedCopyPath(const wchar_t* scriptPath, zqWString* copyPath)
{
    if (scriptPath == nullptr || wcslen(scriptPath) > static_cast<size_t>(kMaxScriptPathUnits)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return FormatInto(*copyPath, L"%s.srvc", scriptPath);
}

void ReadScriptSource(const wchar_t* scriptPath, ScriptSource* source)
{
    zqWString extended;
    StdioFile file;
    if (ExtendedPath(scriptPath, &extended))
        file.Reset(_wfopen(extended.Get(), L"rb"));
    source->error = file.Valid() ? ERROR_SUCCESS : GetLastError();
    source->readable = file.Valid() && ReadScriptText(file.Get(), &source->text);
    if (file.Valid() && !source->readable)
        source->error = ERROR_FILE_TOO_LARGE;
}

PrepareResult PrepareScript(const wchar_t* scriptPath, FileHandle* held)
{
    ScriptSource source;
    ReadScriptSource(scriptPath, &source);
    return PrepareScript(scriptPath, &source, held);
}

PrepareResult PrepareScript(const wchar_t* scriptPath, ScriptSource* source, FileHandle* held)
{
    // A cut path would name some other file and the service would read a copy nobody wrote,
    // so a path with no room left for the suffix is refused and nothing is written.
    zqWString copyPath;
    if (!PreparedCopyPath(scriptPath, &copyPath))
        return PrepareResult::CopyNotMade;
    ScriptText& script = source->text;
    bool readable = source->readable;

    // The copy is always made new: whatever stands at its name (a stale copy, a link planted to
    // some other file) is removed first, never written through. It is made even when the script
    // is missing, so that no stale copy is left for the service to read.
    if (!DeleteFileW(copyPath.Get()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return PrepareResult::CopyNotMade;
    FileHandle copy(CreateFileW(copyPath.Get(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy.Valid())
        return PrepareResult::CopyNotMade;

    CopyText text;
    Put(text, "\xEF\xBB\xBF", 3);  // the copy is UTF-8, whatever the script's encoding
    zqWString line;
    LineProblem problem = LineProblem::None;
    ScriptSection section = SectionNone;
    // Line for line, so that a line of the copy has the number of the script's line.
    while (readable && NextScriptLine(&script, &line, &problem)) {
        if (problem != LineProblem::None) {
            PutRefusedLine(text, line, problem);
        } else if (IsHeaderLine(line)) {
            PutLine(text, line.Get(), line.length);
            section = SectionFromHeader(line.Get());
        } else if ((section == SectionFolders || section == SectionExFolders) && line.length > 0) {
            PutExpandedLine(text, line);
        } else if (section == SectionGeneral && _wcsnicmp(line.Get(), L"backup=", 7) == 0) {
            PutExpandedLine(text, line);
        } else {
            PutLine(text, line.Get(), line.length);
        }
    }
    DWORD written = 0;
    if (text.failed || !WriteFile(copy.Get(), text.bytes.Get(), static_cast<DWORD>(text.size), &written, nullptr) ||
        written != text.size) {
        // Nothing half written is left for the service to read.
        copy.Close();
        DeleteFileW(copyPath.Get());
        SetLastError(ERROR_WRITE_FAULT);
        return PrepareResult::CopyNotMade;
    }
    if (held != nullptr)
        *held = static_cast<FileHandle&&>(copy);
    if (!readable) {
        SetLastError(source->error);
        return PrepareResult::ScriptUnreadable;
    }
    return PrepareResult::Written;
}
