#include "authoring/Draft.h"

#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "authoring/Listing.h"
#include "foundation/Bytes.h"
#include "foundation/HeapArray.h"
#include "foundation/Utf8.h"
#include "platform/WholeFile.h"

namespace {

// The script's section names, in the run's order of its phases.
const wchar_t* const kSectionNames[kSectionCount] = {L"drvpackages", L"infs",    L"drivers",  L"files",
                                                     L".NET",       L"folders", L"registry", L"devices"};
const int kLongestScriptLine = 2047;

void AddLine(Bytes& text, const wchar_t* line)
{
    std::string bytes = Utf8(line);
    Put(text, bytes.data(), bytes.size());
    Put(text, "\r\n", 2);
}

// Sorted ignoring ASCII letter case, then exactly: the same entries give the same order.
void AddSorted(Bytes& text, const wchar_t* header, const StringList& lines)
{
    if (lines.count == 0)
        return;
    HeapArray<const wchar_t*> order(static_cast<size_t>(lines.count));
    const wchar_t** sorted = order.Get();
    if (sorted == nullptr) {
        text.failed = true;
        return;
    }
    for (int i = 0; i < lines.count; ++i)
        sorted[i] = lines.At(i)->Get();
    std::sort(sorted, sorted + lines.count, [](const wchar_t* a, const wchar_t* b) {
        int order = ComparePaths(a, wcslen(a), b, wcslen(b));
        return order != 0 ? order < 0 : wcscmp(a, b) < 0;
    });
    AddLine(text, header);
    for (int i = 0; i < lines.count; ++i)
        AddLine(text, sorted[i]);
}

}  // namespace

LineFit FitsScriptLine(const wchar_t* text, const char** why)
{
    size_t length = wcslen(text);
    *why = nullptr;
    if (length == 0 || length > static_cast<size_t>(kLongestScriptLine)) {
        *why = length == 0 ? "it is empty" : "it is longer than a script line (2047 characters)";
        return LineFit::Unfit;
    }
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = text[i];
        if (c == L'\r' || c == L'\n' || c == 0x1A) {
            *why = "it holds a line break or a Ctrl-Z, which a script line cannot";
            return LineFit::Unfit;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            *why = "it holds a half of a character pair, which UTF-8 cannot spell";
            return LineFit::Unfit;
        }
    }
    if (text[0] == L'[' && text[length - 1] == L']') {
        *why = "it would read as a section header";
        return LineFit::Unfit;
    }
    if (text[length - 1] <= 0x20) {
        *why = "it ends in a blank, which a script line loses";
        return LineFit::EndsInBlank;
    }
    return LineFit::Fits;
}

void Note(Draft& draft, Section section, const wchar_t* entry, const wchar_t* why)
{
    zqWString line;
    if (FormatInto(line, L"%s: %s -- %s", kSectionNames[static_cast<int>(section)], entry, why))
        AppendUnique(draft.notes, draft.noted, line.Get());
}

void NoteReason(Draft& draft, Section section, const wchar_t* entry, const char* why)
{
    zqWString wide;
    if (wide.Assign(why))
        Note(draft, section, entry, wide.Get());
}

bool Refused(Draft& draft, Section section, const wchar_t* entry, const Target& target)
{
    DWORD error = 0;
    const char* reason = nullptr;
    if (!IsRefused(draft.guard, target, &error, &reason))
        return false;
    zqWString why;
    if (FormatInto(why, L"refused: %S (%lu)", reason != nullptr ? reason : "", error))
        Note(draft, section, entry, why.Get());
    return true;
}

bool Propose(Draft& draft, Section section, const wchar_t* entry, const Target& target)
{
    const char* why = nullptr;
    if (FitsScriptLine(entry, &why) != LineFit::Fits) {
        NoteReason(draft, section, entry, why);
        return false;
    }
    if (Refused(draft, section, entry, target))
        return false;
    int s = static_cast<int>(section);
    AppendUnique(draft.entries[s], draft.seen[s], entry);
    return true;
}

int EntryCount(const Draft& draft)
{
    int count = 0;
    for (const StringList& entries : draft.entries)
        count += entries.count;
    return count;
}

Result WriteDraft(const Draft& draft, const wchar_t* path)
{
    Bytes text;
    Put(text, "\xEF\xBB\xBF", 3);
    zqWString header;
    for (int s = 0; s < kSectionCount; ++s)
        if (FormatInto(header, L"[%s]", kSectionNames[s]))
            AddSorted(text, header.Get(), draft.entries[s]);
    AddSorted(text, L"[not removed]", draft.notes);
    if (text.failed)
        return NoMemory();
    return WriteWholeFile(path, text.data, text.size);
}
