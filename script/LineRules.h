// How a cleaning script's bytes become lines: its encoding (single-byte text in the machine's
// ANSI code page, or UTF-8 or UTF-16 by their byte-order marks), where a line ends (CR LF, LF or a lone CR), which lines are
// refused whole, how a line is trimmed and recognised as a header. The reader and the script
// preparation both use these, so that they always agree on what a line is.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include "foundation/HeapArray.h"
#include "foundation/zqString.h"

enum ScriptSection {
    SectionNone = -1,
    SectionGeneral,
    SectionFolders,
    SectionFiles,
    SectionDevices,
    SectionExFolders,
    SectionDrivers,
    SectionInfs,
    SectionRegistry,
    SectionMaskedFiles,
    SectionDrvPackages,
    SectionDotNet,
};

enum class ScriptEncoding { SingleByte, Utf8, Utf16LE, Utf16BE };

// Why a line is refused whole: it is never cut, split or read in part.
enum class LineProblem { None, NulByte, CtrlZ, TooLong, BadText };

// The longest line, in characters.
const int kLongestLine = 2047;
// A script is read whole; a larger file is no cleaning script.
const size_t kLargestScript = 64 * 1024 * 1024;

// The whole script in memory, and where the next line starts.
struct ScriptText {
    HeapArray<unsigned char> bytes;
    size_t size = 0;
    size_t position = 0;
    ScriptEncoding encoding = ScriptEncoding::SingleByte;
    int lineNumber = 0;  // of the line last read, counted from 1
};

// Reads the whole stream (opened in binary mode) and notes its encoding, skipping a byte-order
// mark. False when it cannot be read or is larger than kLargestScript.
bool ReadScriptText(FILE* stream, ScriptText* script);

// The next line, decoded and trimmed. A refused line comes with its problem and its text as
// far as it could be decoded, untrimmed. False at the end of the script.
bool NextScriptLine(ScriptText* script, zqWString* line, LineProblem* problem);

// First character '[' and last ']'.
bool IsHeaderLine(const zqWString& line);
// The section a header line opens (compared whole, ignoring case), or SectionNone.
ScriptSection SectionFromHeader(const wchar_t* line);

// The run log's words for a refused line: "it holds a NUL byte" and the like.
const char* ProblemText(LineProblem problem);
