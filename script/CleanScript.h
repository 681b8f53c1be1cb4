// The cleaning script model: one list per script section, as the script says it.
#pragma once

#include <windows.h>
#include <stdio.h>

#include "foundation/StringList.h"
#include "foundation/zqString.h"
#include "script/LineRules.h"

// Why the reader passed a script line over.
enum class NoteReason {
    Refused,              // malformed: problem says how; the line is refused whole
    BeforeFirstHeader,    // before any section header
    UnknownSection,       // a header that is none of the eleven
    InUnknownSection,     // a line of such a section
    UnreadGeneralKey,     // a [general] key nobody reads
    BadToolTimeout,       // a [general] tooltimeout that is no whole number of seconds from 1 up
    RegistryRootNotFull,  // a [registry] entry whose root is not one of the five full names
    ScriptUnreadable,     // the whole script (line 0): not readable, or larger than allowed
    UnknownExitCodes,     // a [general] exitcodes value that asks for nothing known
};

// How long a tool (gacutil.exe, regsvr32.exe, reg.exe) may run unless the script says otherwise,
// and the longest time it may say: the limit must fit in milliseconds.
const unsigned long kDefaultToolTimeoutSeconds = 300;
const unsigned long kLongestToolTimeoutSeconds = 4294966;

struct ScriptNote {
    int line = 0;  // counted from 1, as an editor counts
    NoteReason reason = NoteReason::Refused;
    LineProblem problem = LineProblem::None;
    zqWString text;
};

class zqCleanScript {
public:
    zqCleanScript() = default;
    zqCleanScript(const zqCleanScript&) = delete;
    zqCleanScript& operator=(const zqCleanScript&) = delete;

    // Appends the entries of a stream opened in binary mode, from its position to its end;
    // the lines it passes over go to notes.
    void Read(FILE* stream);

    bool excludeFolders = false;
    zqWString backupFolder;  // [general] backup=<folder>, expanded; empty: no backup
    DWORD toolTimeoutSeconds = kDefaultToolTimeoutSeconds;  // [general] tooltimeout=<seconds>
    zqList<zqWString> folders;
    zqList<zqWString> maskedFiles;
    zqList<zqWString> files;
    zqList<zqWString> devices;
    zqList<zqWString> drivers;
    zqList<zqWString> infs;
    zqList<zqWString> registry;
    zqList<zqWString> exFolders;
    zqList<zqWString> drvPackages;
    zqList<zqWString> dotNet;
    zqList<ScriptNote> notes;

private:
    void Note(int line, NoteReason reason, LineProblem problem, const zqWString& text);
};
