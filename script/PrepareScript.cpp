#include "script/PrepareScript.h"

#include <windows.h>
#include <wchar.h>

#include "foundation/Bytes.h"
#include "foundation/Result.h"
#include "foundation/Utf8.h"
#include "platform/ExpandPath.h"
#include "platform/Paths.h"
#include "script/LineRules.h"

namespace {

// One line of the copy in UTF-8, the line end included.
void PutLine(Bytes& copy, const wchar_t* text, int length)
{
    if (length > 0) {
        std::string utf8 = Utf8(text, length);
        if (utf8.empty())
            copy.failed = true;
        Put(copy, utf8.data(), utf8.size());
    }
    Put(copy, "\r\n", 2);
}

// A refused line goes over so that the reader refuses it again, for the same reason: its text
// keeps the NUL or Ctrl-Z and its length; undecodable bytes stay undecodable.
void PutRefusedLine(Bytes& copy, const zqWString& line, LineProblem problem)
{
    if (problem == LineProblem::BadText) {
        Put(copy, "\xFF\r\n", 3);
        return;
    }
    PutLine(copy, line.Get(), line.length);
}

// A [folders] or [exfolders] line (and the [general] backup line) with its environment
// references expanded, as the launcher's environment has them: the service's environment is not
// the user's.
void PutExpandedLine(Bytes& copy, const zqWString& line)
{
    zqWString expanded;
    // No memory for the expansion: the line goes over as written, so the entry is still there
    // for the reader, which expands [folders] entries itself once more.
    if (ExpandPath(line.Get(), &expanded).ok)
        PutLine(copy, expanded.Get(), expanded.length);
    else
        PutLine(copy, line.Get(), line.length);
}

}  // namespace

bool PreparedCopyPath(const wchar_t* scriptPath, zqWString* copyPath)
{
    if (scriptPath == nullptr || wcslen(scriptPath) > static_cast<size_t>(kMaxScriptPathUnits))
        return false;
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
    DWORD error = 0;
    ReadScriptSource(scriptPath, &source);
    return PrepareScript(scriptPath, &source, held, &error);
}

PrepareResult PrepareScript(const wchar_t* scriptPath, ScriptSource* source, FileHandle* held, DWORD* error)
{
    // A cut path would name some other file and the service would read a copy nobody wrote,
    // so a path with no room left for the suffix is refused and nothing is written.
    zqWString copyPath;
    *error = ERROR_FILENAME_EXCED_RANGE;
    if (!PreparedCopyPath(scriptPath, &copyPath))
        return PrepareResult::CopyNotMade;
    ScriptText& script = source->text;
    bool readable = source->readable;

    // The copy is always made new: whatever stands at its name (a stale copy, a link planted to
    // some other file) is removed first, never written through. It is made even when the script
    // is missing, so that no stale copy is left for the service to read.
    Result cleared = Checked(DeleteFileW(copyPath.Get()));
    if (!cleared.ok && cleared.error != ERROR_FILE_NOT_FOUND) {
        *error = cleared.error;
        return PrepareResult::CopyNotMade;
    }
    FileHandle copy(CreateFileW(copyPath.Get(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy.Valid()) {
        *error = GetLastError();
        return PrepareResult::CopyNotMade;
    }

    Bytes text;
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
    if (text.failed || !WriteFile(copy.Get(), text.data, static_cast<DWORD>(text.size), &written, nullptr) ||
        written != text.size) {
        // Nothing half written is left for the service to read.
        copy.Close();
        DeleteFileW(copyPath.Get());
        *error = ERROR_WRITE_FAULT;
        return PrepareResult::CopyNotMade;
    }
    if (held != nullptr)
        *held = static_cast<FileHandle&&>(copy);
    *error = readable ? ERROR_SUCCESS : source->error;
    return readable ? PrepareResult::Written : PrepareResult::ScriptUnreadable;
}
