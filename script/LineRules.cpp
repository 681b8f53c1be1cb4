#include "script/LineRules.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// Indexed by ScriptSection.
const wchar_t* const kHeaders[] = {
    L"[general]", L"[folders]",  L"[files]",       L"[devices]",     L"[exfolders]", L"[drivers]",
    L"[infs]",    L"[registry]", L"[maskedfiles]", L"[drvpackages]", L"[.NET]",
};

const wchar_t kCtrlZ = 0x1A;

size_t UnitSize(ScriptEncoding encoding)
{
    return encoding == ScriptEncoding::Utf16LE || encoding == ScriptEncoding::Utf16BE ? 2 : 1;
}

wchar_t UnitAt(const ScriptText& script, size_t offset)
{
    const unsigned char* b = script.bytes.Get() + offset;
    switch (script.encoding) {
    case ScriptEncoding::Utf16LE: return static_cast<wchar_t>(b[0] | (b[1] << 8));
    case ScriptEncoding::Utf16BE: return static_cast<wchar_t>((b[0] << 8) | b[1]);
    default: return static_cast<wchar_t>(b[0]);
    }
}

// Decodes units [start, end) of the script into line; false when they are no valid text. A
// single-byte script is text in the machine's ANSI code page, read as the system's own narrow
// calls read it (on code page 1252 the byte 0x80 is the euro sign, on 1251 a Cyrillic letter).
bool Decode(const ScriptText& script, size_t start, size_t end, zqWString* line)
{
    const char* raw = reinterpret_cast<const char*>(script.bytes.Get()) + start;
    int rawLength = static_cast<int>(end - start);
    int length = rawLength;
    UINT codePage = script.encoding == ScriptEncoding::Utf8 ? CP_UTF8 : CP_ACP;
    bool multiByte = UnitSize(script.encoding) == 1;
    if (multiByte && rawLength > 0) {
        length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, raw, rawLength, nullptr, 0);
        if (length == 0)
            return false;
    } else if (!multiByte) {
        if (rawLength % 2 != 0)
            return false;
        length = rawLength / 2;
    }
    if (!line->Reserve(length))
        return false;
    if (length == 0)
        return true;
    if (multiByte) {
        MultiByteToWideChar(codePage, 0, raw, rawLength, line->buffer, length);
    } else {
        for (int i = 0; i < length; ++i)
            line->buffer[i] = UnitAt(script, start + static_cast<size_t>(i) * UnitSize(script.encoding));
    }
    line->buffer[length] = 0;
    line->length = length;
    if (!multiByte) {
        // Surrogates come in pairs, high then low.
        for (int i = 0; i < length; ++i) {
            wchar_t c = line->buffer[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && line->buffer[i + 1] >= 0xDC00 &&
                line->buffer[i + 1] <= 0xDFFF)
                ++i;
            else if (c >= 0xD800 && c <= 0xDFFF)
                return false;
        }
    }
    return true;
}

LineProblem ProblemOf(const zqWString& line)
{
    if (wmemchr(line.Get(), 0, static_cast<size_t>(line.length)) != nullptr)
        return LineProblem::NulByte;
    if (wmemchr(line.Get(), kCtrlZ, static_cast<size_t>(line.length)) != nullptr)
        return LineProblem::CtrlZ;
    if (line.length > kLongestLine)
        return LineProblem::TooLong;
    return LineProblem::None;
}

// Trailing blanks, tabs and control characters go, and nothing else: whatever the encoding, a
// letter at the end of a name is part of it.
void Trim(zqWString* line)
{
    int length = line->length;
    while (length > 0 && line->buffer[length - 1] <= 0x20)
        --length;
    line->Reserve(length);
}

}  // namespace

bool ReadScriptText(FILE* stream, ScriptText* script)
{
    script->bytes.Resize(0);
    script->size = script->position = 0;
    script->lineNumber = 0;
    script->encoding = ScriptEncoding::SingleByte;
    for (;;) {
        if (script->size == script->bytes.count) {
            if (script->bytes.count > kLargestScript ||
                !script->bytes.Resize(script->bytes.count == 0 ? 64 * 1024 : script->bytes.count * 2))
                return false;
        }
        size_t got = fread(script->bytes.Get() + script->size, 1, script->bytes.count - script->size, stream);
        if (got == 0)
            break;
        script->size += got;
    }
    if (ferror(stream) || script->size > kLargestScript)
        return false;
    const unsigned char* b = script->bytes.Get();
    if (script->size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        script->encoding = ScriptEncoding::Utf8;
        script->position = 3;
    } else if (script->size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        script->encoding = ScriptEncoding::Utf16LE;
        script->position = 2;
    } else if (script->size >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        script->encoding = ScriptEncoding::Utf16BE;
        script->position = 2;
    }
    return true;
}

bool NextScriptLine(ScriptText* script, zqWString* line, LineProblem* problem)
{
    if (script->position >= script->size)
        return false;
    ++script->lineNumber;
    size_t unit = UnitSize(script->encoding);
    size_t start = script->position, end = start;
    while (end + unit <= script->size && UnitAt(*script, end) != L'\r' && UnitAt(*script, end) != L'\n')
        end += unit;
    if (end + unit > script->size)
        end = script->size;  // the last line, or a stray odd byte of UTF-16 text
    script->position = end + unit;
    if (end + unit <= script->size && UnitAt(*script, end) == L'\r' && end + 2 * unit <= script->size &&
        UnitAt(*script, end + unit) == L'\n')
        script->position += unit;

    *problem = Decode(*script, start, end, line) ? ProblemOf(*line) : LineProblem::BadText;
    if (*problem == LineProblem::None)
        Trim(line);
    return true;
}

bool IsHeaderLine(const zqWString& line)
{
    return line.length > 0 && line.buffer[0] == L'[' && line.buffer[line.length - 1] == L']';
}

ScriptSection SectionFromHeader(const wchar_t* line)
{
    for (int i = 0; i < static_cast<int>(sizeof kHeaders / sizeof kHeaders[0]); ++i) {
        const wchar_t* a = line;
        const wchar_t* b = kHeaders[i];
        // ASCII letters only: no other letter can turn into a header.
        while (*a != 0 && (*a == *b || (*a < 0x80 && *b < 0x80 && towlower(*a) == towlower(*b)))) {
            ++a;
            ++b;
        }
        if (*a == 0 && *b == 0)
            return static_cast<ScriptSection>(i);
    }
    return SectionNone;
}

const char* ProblemText(LineProblem problem)
{
    switch (problem) {
    case LineProblem::NulByte: return "it holds a NUL byte";
    case LineProblem::CtrlZ: return "it holds a Ctrl-Z byte";
    case LineProblem::TooLong: return "it is longer than 2047 characters";
    case LineProblem::BadText: return "its bytes are no valid text in the script's encoding";
    case LineProblem::None: break;
    }
    return "";
}
