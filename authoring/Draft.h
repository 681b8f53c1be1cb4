// The drafted script: its entries, section by section in the run's order, each one passed by
// the guard; and the lines of the section the run ignores, "[not removed]": what the guard
// refuses, what changed but was there before, what is skipped as noise, each with why.
#pragma once

#include "foundation/Result.h"

#include <windows.h>

#include "foundation/StringList.h"
#include "guard/Guard.h"

enum class Section { DrvPackages, Infs, Drivers, Files, DotNet, Folders, Registry, Devices };
const int kSectionCount = 8;

struct Draft {
    StringList entries[kSectionCount];
    TextIndex seen[kSectionCount];
    StringList notes;  // "<section>: <entry> -- <why>"
    TextIndex noted;
    ProtectedPlaces guard;
};

// Why the text cannot stand as a script line that reads back as written, or null.
enum class LineFit { Fits, EndsInBlank, Unfit };
LineFit FitsScriptLine(const wchar_t* text, const char** why);

// Whether the guard refuses target; a refusal is noted with the guard's reason.
bool Refused(Draft& draft, Section section, const wchar_t* entry, const Target& target);
// Adds the entry unless it does not fit a script line or the guard refuses it (both noted);
// false when it is not in the draft.
bool Propose(Draft& draft, Section section, const wchar_t* entry, const Target& target);
void Note(Draft& draft, Section section, const wchar_t* entry, const wchar_t* why);
void NoteReason(Draft& draft, Section section, const wchar_t* entry, const char* why);
int EntryCount(const Draft& draft);

// The draft as a script, UTF-8 with a byte-order mark, entries sorted: the same machine gives
// the same bytes.
Result WriteDraft(const Draft& draft, const wchar_t* path);
