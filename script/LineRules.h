// How a cleaning script line is read, trimmed and classified. The reader and the script
// preparation both use these, so that they always agree on what a line is.
#pragma once

#include <stdio.h>

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

const int kScriptLineBufferSize = 2048;

// Reads the next line piece (at most 2047 bytes) into line and trims its trailing bytes of
// signed value <= 32. Returns false at the end of the stream or on a read error; the trimmed
// line may be empty (the caller skips it). length receives the trimmed length.
bool ReadScriptLine(FILE* stream, char line[kScriptLineBufferSize], int* length);

// Removes trailing bytes whose value, taken as a signed 8-bit number, is at most 32.
int TrimScriptLine(char* line, int length);

// First byte '[' and last byte ']'.
bool IsHeaderLine(const char* line, int length);

// The section a header line opens (compared whole, ignoring case), or SectionNone.
ScriptSection SectionFromHeader(const char* line);
