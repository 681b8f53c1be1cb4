#include "script/ExitCodesKey.h"

#include <wchar.h>

namespace {

const wchar_t kExitCodesKey[] = L"exitcodes=";
const size_t kExitCodesKeyLength = 10;

}  // namespace

bool ReadExitCodesKey(const zqWString& line, ExitConvention* convention, bool* known)
{
    if (line.length < static_cast<int>(kExitCodesKeyLength) ||
        _wcsnicmp(line.Get(), kExitCodesKey, kExitCodesKeyLength) != 0)
        return false;
    *convention = ExitConventionFromValue(line.Get() + kExitCodesKeyLength, known);
    return true;
}

ExitConvention ScriptExitConvention(ScriptText* script)
{
    size_t start = script->position;
    int lineNumber = script->lineNumber;
    ExitConvention convention = ExitConvention::Classic;
    ScriptSection section = SectionNone;
    zqWString line;
    LineProblem problem = LineProblem::None;
    bool known = false;
    while (NextScriptLine(script, &line, &problem)) {
        if (problem != LineProblem::None)
            continue;
        if (IsHeaderLine(line))
            section = SectionFromHeader(line.Get());
        else if (section == SectionGeneral)
            ReadExitCodesKey(line, &convention, &known);
    }
    script->position = start;
    script->lineNumber = lineNumber;
    return convention;
}
