#include "script/LineRules.h"

#include <string.h>

namespace {

// Indexed by ScriptSection.
const char* const kHeaders[] = {
    "[general]", "[folders]",  "[files]",       "[devices]",     "[exfolders]", "[drivers]",
    "[infs]",    "[registry]", "[maskedfiles]", "[drvpackages]", "[.NET]",
};

}  // namespace

bool ReadScriptLine(FILE* stream, char line[kScriptLineBufferSize], int* length)
{
    if (fgets(line, kScriptLineBufferSize, stream) == nullptr) {
        line[0] = 0;
        *length = 0;
        return false;
    }
    *length = TrimScriptLine(line, static_cast<int>(strlen(line)));
    return true;
}

int TrimScriptLine(char* line, int length)
{
    // Signed on purpose: bytes 0x80..0xFF at the end go together with blanks and the line end.
    while (length > 0 && static_cast<signed char>(line[length - 1]) <= 32)
        --length;
    line[length] = 0;
    return length;
}

bool IsHeaderLine(const char* line, int length)
{
    return length > 0 && line[0] == '[' && line[length - 1] == ']';
}

ScriptSection SectionFromHeader(const char* line)
{
    for (int i = 0; i < static_cast<int>(sizeof kHeaders / sizeof kHeaders[0]); ++i) {
        if (_stricmp(line, kHeaders[i]) == 0)
            return static_cast<ScriptSection>(i);
    }
    return SectionNone;
}
