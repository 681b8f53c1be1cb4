// The INF files, read as the run reads them (up to their first zero byte): a new service is a
// [drivers] entry unless its name is in an INF file that was there before (which the entry would
// delete too); a new INF file that no such entry takes gets an [infs] text that this file alone
// holds, a line of its own in the order [Strings] lines, other "key=value" lines, the rest.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

#include "authoring/Drafting.h"
#include "authoring/TextSearch.h"
#include "foundation/HeapArray.h"
#include "platform/Paths.h"
#include "platform/WholeFile.h"

namespace {

const size_t kLargestInf = 64 * 1024 * 1024;  // beyond it the run reads no text of a file
const int kCandidates = 8;
const size_t kShortestText = 12;  // shorter texts say little about their file
const size_t kLongestText = 2047;

struct Span {
    size_t at, length;
};

struct InfFile {
    uint32_t item;
    const char* text;  // owned by the pass
    size_t length;
    bool isNew, deleted, shared;
    Span candidates[kCandidates];
    int candidateCount;
};

struct Pair {
    size_t driver, file;
};

struct InfPass {
    ~InfPass()
    {
        for (size_t i = 0; i < count; ++i)
            free(const_cast<char*>(files[i].text));
        free(files);
        free(pairs);
    }
    InfFile* files = nullptr;
    size_t count = 0;
    Pair* pairs = nullptr;  // a driver name in a new INF file
    size_t pairCount = 0, pairCapacity = 0;
    long* conflict = nullptr;  // per driver needle: an INF file that was there before and holds it, or -1
    size_t driverNeedles = 0;
    size_t* owners = nullptr;  // per [infs] needle: its file
    bool failed = false;
};

bool IsInfName(const wchar_t* path)
{
    size_t length = wcslen(path);
    return length > 4 && SameText(path + length - 4, L".inf");
}

bool Fits(const char* line, size_t length)
{
    if (length < kShortestText || length > kLongestText || (line[0] == '[' && line[length - 1] == ']'))
        return false;
    for (size_t i = 0; i < length; ++i)
        if (line[i] < 0x20 || line[i] > 0x7E)
            return false;
    return true;
}

// Lines of plain text, trimmed, each of a kind: [Strings] lines, "key=value" lines, the rest.
void FindCandidates(InfFile& file)
{
    file.candidateCount = 0;
    for (int kind = 0; kind < 3 && file.candidateCount < kCandidates; ++kind) {
        bool inStrings = false;
        for (size_t at = 0; at < file.length && file.candidateCount < kCandidates;) {
            size_t end = at;
            while (end < file.length && file.text[end] != '\r' && file.text[end] != '\n')
                ++end;
            size_t first = at, last = end;
            at = end + 1;
            while (first < last && (file.text[first] == ' ' || file.text[first] == '\t'))
                ++first;
            while (last > first && (file.text[last - 1] == ' ' || file.text[last - 1] == '\t'))
                --last;
            const char* line = file.text + first;
            size_t length = last - first;
            if (length > 0 && line[0] == '[') {
                inStrings = length > 8 && _strnicmp(line + 1, "Strings", 7) == 0;
                continue;
            }
            bool pair = memchr(line, '=', length) != nullptr;
            int lineKind = inStrings && pair ? 0 : pair ? 1 : 2;
            if (lineKind == kind && Fits(line, length))
                file.candidates[file.candidateCount++] = {first, length};
        }
    }
}

void Found(void* context, size_t needle, size_t text)
{
    InfPass& pass = *static_cast<InfPass*>(context);
    if (needle >= pass.driverNeedles) {
        if (pass.owners[needle - pass.driverNeedles] != text)
            pass.files[pass.owners[needle - pass.driverNeedles]].shared = true;
        return;
    }
    if (!pass.files[text].isNew) {
        if (pass.conflict[needle] < 0)
            pass.conflict[needle] = static_cast<long>(text);
        return;
    }
    if (pass.pairCount == pass.pairCapacity) {
        size_t capacity = pass.pairCapacity == 0 ? 64 : pass.pairCapacity * 2;
        Pair* grown = static_cast<Pair*>(realloc(pass.pairs, capacity * sizeof(Pair)));
        if (grown == nullptr) {
            pass.failed = true;
            return;
        }
        pass.pairs = grown;
        pass.pairCapacity = capacity;
    }
    pass.pairs[pass.pairCount++] = {needle, text};
}

// Every INF file of the place, new or not, with its text.
bool ReadInfFiles(DraftContext& context, int place, InfPass& pass)
{
    const Listing& listing = *context.current;
    size_t total = listing.placeStart[place + 1] - listing.placeStart[place];
    pass.files = static_cast<InfFile*>(calloc(total + 1, sizeof(InfFile)));
    if (pass.files == nullptr)
        return false;
    zqWString extended;
    for (uint32_t i = listing.placeStart[place]; i < listing.placeStart[place + 1]; ++i) {
        uint32_t item = listing.order[i];
        const Item& it = listing.items[item];
        if (it.kind != ItemKind::File || !IsInfName(ItemText(listing, item)))
            continue;
        if (it.state == ItemState::Changed)
            Note(context.draft, Section::Infs, ItemText(listing, item),
                 L"changed since the snapshot: it was there before");
        InfFile& file = pass.files[pass.count++];
        file.item = item;
        file.isNew = it.state == ItemState::New;
        HeapArray<char> bytes;
        size_t size = 0;
        if (ExtendedPath(ItemText(listing, item), &extended) &&
            ReadWholeFile(extended.Get(), kLargestInf, &bytes, &size).ok) {
            file.length = strlen(bytes.Get());  // the run's search ends at a zero byte
            file.text = bytes.Release();
        }
        if (file.text == nullptr)
            file.text = static_cast<char*>(calloc(1, 1));
        if (file.text == nullptr)
            return false;
        if (file.isNew)
            FindCandidates(file);
    }
    return true;
}

// A [drivers] entry for a service; false when it does not fit a line or the guard refuses it
// (both noted). check: only ask, add nothing.
bool ProposeDriver(DraftContext& context, const wchar_t* name, bool check)
{
    zqWString keyPath;
    const char* why = nullptr;
    if (FitsScriptLine(name, &why) != LineFit::Fits) {
        if (check)
            NoteReason(context.draft, Section::Drivers, name, why);
        return false;
    }
    if (!FormatInto(keyPath, L"SYSTEM\\CurrentControlSet\\Services\\%s", name))
        return false;
    Target target = {TargetKind::ServiceKey, keyPath.Get(), HKEY_LOCAL_MACHINE};
    return check ? !Refused(context.draft, Section::Drivers, name, target)
                 : Propose(context.draft, Section::Drivers, name, target);
}

// Rounds of one search each: the services' names with every new INF file's first line, then
// each file's next line while it has none of its own. False when no memory (before any
// service's entry is decided).
bool SearchInfFiles(DraftContext& context, const StringList& drivers, InfPass& pass)
{
    const Listing& listing = *context.current;
    // The names as the run looks for them: narrowed; one that cannot be has no INF file.
    zqList<zqString> narrowed;
    for (int d = 0; d < drivers.count; ++d) {
        zqString* name = new (std::nothrow) zqString;
        if (name != nullptr && !name->Assign(drivers.At(d)->Get()))
            name->Reserve(0);
        narrowed.AppendOwned(name);
    }
    size_t driverCount = static_cast<size_t>(narrowed.count);
    HeapArray<Needle> needleBlock(driverCount + pass.count + 1);
    HeapArray<size_t> ownerBlock(pass.count + 1);
    HeapArray<long> conflictBlock(driverCount + 1);
    HeapArray<Haystack> textBlock(pass.count + 1);
    Needle* needles = needleBlock.Get();
    Haystack* texts = textBlock.Get();
    pass.owners = ownerBlock.Get();
    pass.conflict = conflictBlock.Get();
    if (needles == nullptr || texts == nullptr || pass.owners == nullptr || pass.conflict == nullptr)
        return false;
    for (size_t i = 0; i < pass.count; ++i)
        texts[i] = {pass.files[i].text, pass.files[i].length};
    for (int round = 0; round < kCandidates; ++round) {
        size_t count = round == 0 ? driverCount : 0;
        for (size_t d = 0; d < count; ++d) {
            zqString* name = narrowed.At(static_cast<int>(d));
            needles[d] = {name != nullptr ? name->Get() : "", name != nullptr ? static_cast<size_t>(name->length) : 0};
            pass.conflict[d] = -1;
        }
        size_t first = count;
        for (size_t i = 0; i < pass.count; ++i) {
            InfFile& file = pass.files[i];
            file.shared = false;
            if (!file.isNew || file.deleted || round >= file.candidateCount)
                continue;
            needles[count] = {file.text + file.candidates[round].at, file.candidates[round].length};
            pass.owners[count++ - first] = i;
        }
        if (count == 0)
            break;
        pass.driverNeedles = first;  // the needles before it are the services' names
        if (!FindNeedles(needles, count, texts, pass.count, Found, &pass) || pass.failed)
            return round > 0;  // after the first round the services are decided
        for (size_t d = 0; d < first; ++d) {
            const wchar_t* name = drivers.At(static_cast<int>(d))->Get();
            zqWString why;
            if (pass.conflict[d] >= 0) {
                if (FormatInto(why, L"its name is in %s, which was there before: [drivers] would delete that file too",
                               ItemText(listing, pass.files[pass.conflict[d]].item)))
                    Note(context.draft, Section::Drivers, name, why.Get());
                continue;
            }
            if (ProposeDriver(context, name, false))
                for (size_t k = 0; k < pass.pairCount; ++k)
                    if (pass.pairs[k].driver == d)
                        pass.files[pass.pairs[k].file].deleted = true;
        }
        for (size_t n = first; n < count; ++n) {
            InfFile& file = pass.files[pass.owners[n - first]];
            if (file.deleted || file.shared)
                continue;
            zqWString text;
            const Span& span = file.candidates[round];
            if (!text.Reserve(static_cast<int>(span.length)))
                continue;
            for (size_t c = 0; c < span.length; ++c)
                text.buffer[c] = static_cast<unsigned char>(file.text[span.at + c]);
            text.buffer[span.length] = 0;
            text.length = static_cast<int>(span.length);
            Target target = {TargetKind::InfFile, ItemText(listing, file.item)};
            file.deleted = Propose(context.draft, Section::Infs, text.Get(), target);
        }
    }
    return true;
}

}  // namespace

void DraftInfFiles(DraftContext& context)
{
    const Listing& listing = *context.current;
    int place = PlaceOfUse(context, PlaceUse::InfFolder);
    StringList drivers;  // the services that may be entries at all
    for (int d = 0; d < context.drivers.count; ++d)
        if (ProposeDriver(context, context.drivers.At(d)->Get(), true))
            AppendEntry(drivers, context.drivers.At(d)->Get());
    if (place < 0 || !context.infPhasesRun) {
        // No INF file is deleted: the services' keys go alone.
        for (int d = 0; d < drivers.count; ++d)
            ProposeDriver(context, drivers.At(d)->Get(), false);
        uint32_t i = place < 0 ? 0 : listing.placeStart[place], end = place < 0 ? 0 : listing.placeStart[place + 1];
        for (; i < end; ++i) {
            const wchar_t* path = ItemText(listing, listing.order[i]);
            const Item& it = listing.items[listing.order[i]];
            if (it.kind == ItemKind::File && it.state == ItemState::New && IsInfName(path))
                Note(context.draft, Section::Infs, path,
                     L"a 32-bit run on 64-bit Windows leaves INF files to zqclean64");
        }
        return;
    }
    InfPass pass;
    if (!ReadInfFiles(context, place, pass) || !SearchInfFiles(context, drivers, pass))
        for (int d = 0; d < drivers.count; ++d)
            Note(context.draft, Section::Drivers, drivers.At(d)->Get(),
                 L"the INF files could not be searched (no memory)");
    for (size_t i = 0; i < pass.count; ++i) {
        const InfFile& file = pass.files[i];
        const wchar_t* path = ItemText(listing, file.item);
        if (file.deleted)
            AppendUnique(context.deletedInfs, context.deletedInfIndex, path);
        else if (file.isNew)
            Note(context.draft, Section::Infs, path,
                 file.candidateCount == 0 ? L"it holds no line of plain text the run's search can find"
                                          : L"no line of it is found in this file alone");
    }
}
