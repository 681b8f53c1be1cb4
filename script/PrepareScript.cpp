#include "script/PrepareScript.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "script/ExpandPath.h"
#include "script/LineRules.h"

namespace {


// Writes one [folders] or [exfolders] line with its environment references expanded, as the
// launcher's environment has them; the service's environment is not the user's.
void WriteExpandedLine(FILE* copy, const char* line)
{
    char* expanded = nullptr;
    if (!ExpandPathA(line, &expanded)) {
        // No memory for the expansion: the line goes over as written, so the entry is still
        // there for the reader, which expands [folders] entries itself once more.
        fprintf(copy, "%s\n", line);
        return;
    }
    HeapBlock block(expanded);
    // The reader takes at most 2047 bytes at once; a longer expansion would split the entry.
    if (strlen(expanded) >= static_cast<size_t>(kScriptLineBufferSize))
        expanded[kScriptLineBufferSize - 1] = 0;
    fprintf(copy, "%s\n", expanded);
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

bool PrepareScript(const wchar_t* scriptPath)
{
    // A cut path would name some other file and the service would read a copy nobody wrote,
    // so a path with no room left for the suffix is refused and nothing is written.
    zqWString copyPath;
    if (!PreparedCopyPath(scriptPath, &copyPath))
        return false;

    StdioFile script(_wfopen(scriptPath, L"rt"));
    DWORD scriptError = script.Valid() ? ERROR_SUCCESS : GetLastError();
    // The copy is created (or emptied) even when the script is missing, so that no stale copy
    // of an earlier launch is left for the service to read.
    StdioFile copy(_wfopen(copyPath.Get(), L"wt"));
    DWORD copyError = copy.Valid() ? ERROR_SUCCESS : GetLastError();
    if (!script.Valid()) {
        copy.Close();
        SetLastError(scriptError);
        return false;
    }
    if (!copy.Valid()) {
        script.Close();
        SetLastError(copyError);
        return false;
    }

    char line[kScriptLineBufferSize];
    int length = 0;
    ScriptSection section = SectionNone;
    while (ReadScriptLine(script.Get(), line, &length)) {
        if (length == 0)
            continue;
        if (IsHeaderLine(line, length)) {
            // Every header-shaped line stays, known or not, so the copy reads as the script does.
            fprintf(copy.Get(), "\n%s\n", line);
            section = SectionFromHeader(line);
        } else if (section == SectionFolders || section == SectionExFolders) {
            WriteExpandedLine(copy.Get(), line);
        } else {
            fprintf(copy.Get(), "%s\n", line);
        }
    }

    // A copy that could not be written completely is not reported as written.
    bool written = !ferror(copy.Get());
    FILE* stream = copy.Release();
    if (fclose(stream) != 0)
        written = false;
    if (!written) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}
