// INF files: every INF file of the system INF folder whose text names one of the [infs] or
// [drivers] entries, with its precompiled .pnf companion.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "platform/Search.h"
#include "guard/Guard.h"
#include "phases/PhaseSources.h"
#include "foundation/Handles.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "script/CleanScript.h"
#include "platform/ExpandPath.h"

namespace {

enum class ReadResult { NotOpened, NoText, Text };

// A file beyond this is no INF file of any product and is not read.
const LONGLONG kLargestInf = 64 * 1024 * 1024;

// The whole file as one zero-terminated narrow text in a malloc block, read in one call.
// Opened with the sharing of a plain C stream (others may read and write).
ReadResult ReadWholeFile(const wchar_t* path, HeapBlock* text)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid())
        return ReadResult::NotOpened;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLargestInf)
        return ReadResult::NoText;
    DWORD length = static_cast<DWORD>(size.QuadPart);
    text->Reset(malloc(static_cast<size_t>(length) + 1));
    if (!text->Valid())
        return ReadResult::NoText;
    char* bytes = static_cast<char*>(text->Get());
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, length, &got, nullptr))
        got = 0;
    bytes[got] = 0;
    return ReadResult::Text;
}

// The texts looked for, narrowed once: the [infs] entries, then the [drivers] entries. A text
// that is empty (an entry that cannot be narrowed) would match every file and is left out, and
// so is the name of one of the system's own drivers, which the system's INF files mention.
void CollectNeedles(const RunContext& run, zqList<zqString>* needles)
{
    const zqList<zqWString>* sources[2] = {&run.script->infs, &run.script->drivers};
    for (const zqList<zqWString>* source : sources) {
        for (int i = 0; i < source->count; ++i) {
            if (source == &run.script->drivers && IsSystemDriver(run.places, source->At(i)->Get()))
                continue;
            zqString* needle = new (std::nothrow) zqString;
            if (needle != nullptr && (!needle->Assign(source->At(i)->Get()) || needle->length == 0)) {
                delete needle;
                continue;
            }
            needles->AppendOwned(needle);
        }
    }
}

bool IsSelected(const char* text, const zqList<zqString>& needles)
{
    for (int i = 0; i < needles.count; ++i)
        if (strstr(text, needles.At(i)->Get()) != nullptr)
            return true;
    return false;
}

// The paths of one FindFilesByMask listing, freed with it.
struct FoundPaths {
    wchar_t** paths = nullptr;
    int count = 0;
    ~FoundPaths()
    {
        for (int i = 0; i < count; ++i)
            free(paths[i]);
        free(paths);
    }
};

}  // namespace

void OfferInfFiles(RunContext& run, PhaseRun& phase)
{
    FoundPaths found;
    wchar_t* folder = nullptr;
    if (ExpandPathW(L"%SystemRoot%\\inf", &folder)) {
        found.count = FindFilesByMask(folder, L"*.inf", &found.paths, 0);
        free(folder);
    }
    zqList<zqString> needles;
    CollectNeedles(run, &needles);

    CountItems(phase, found.count);  // its items are the INF files it scans
    for (int i = 0; i < found.count; ++i) {
        ReachItem(phase, i);
        HeapBlock text;
        ReadResult read = ReadWholeFile(found.paths[i], &text);
        if (read == ReadResult::NotOpened)
            continue;  // not a candidate: no poll either
        bool goOn;
        if (read == ReadResult::Text && IsSelected(static_cast<const char*>(text.Get()), needles)) {
            Target target = {TargetKind::InfFile, found.paths[i]};
            target.shown = found.paths[i];
            goOn = OfferTarget(phase, target);
        } else {
            goOn = PassOver(phase);
        }
        if (!goOn)
            return;
    }
}
