// INF files: every INF file of the system INF folder whose text names one of the [infs] or
// [drivers] entries, with its precompiled .pnf companion.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

#include "platform/Search.h"
#include "guard/Guard.h"
#include "phases/PhaseSources.h"
#include "foundation/Handles.h"
#include "foundation/HeapArray.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "script/CleanScript.h"
#include "platform/ExpandPath.h"

namespace {

enum class ReadResult { NotOpened, NoText, Text };

// A file beyond this is no INF file of any product and is not read.
const LONGLONG kLargestInf = 64 * 1024 * 1024;

// The whole file as one zero-terminated narrow text, read in one call. Opened with the sharing
// of a plain C stream (others may read and write).
ReadResult ReadInfText(const wchar_t* path, HeapArray<char>* text)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid())
        return ReadResult::NotOpened;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLargestInf)
        return ReadResult::NoText;
    DWORD length = static_cast<DWORD>(size.QuadPart);
    if (!text->Resize(static_cast<size_t>(length) + 1))
        return ReadResult::NoText;
    char* bytes = text->Get();
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, length, &got, nullptr))
        got = 0;
    bytes[got] = 0;
    return ReadResult::Text;
}

// The texts looked for, narrowed once: the [infs] entries, then the [drivers] entries. A text
// that is empty (an entry that cannot be narrowed) would match every file and is left out. An
// [infs] text that singles out no product's INF files is refused with a line of its own; a
// [drivers] name that is one of the system's own services, or no such text, selects nothing
// (its service's own line says why).
void CollectNeedles(RunContext& run, PhaseRun& phase, zqList<zqString>* needles)
{
    const zqList<zqWString>* sources[2] = {&run.script->infs, &run.script->drivers};
    for (const zqList<zqWString>* source : sources) {
        for (int i = 0; i < source->count; ++i) {
            const wchar_t* text = source->At(i)->Get();
            DWORD error = 0;
            const char* reason = nullptr;
            bool driver = source == &run.script->drivers;
            zqString* needle = new (std::nothrow) zqString;
            if (needle == nullptr || !needle->Assign(text) || needle->length == 0 ||
                (driver && IsSystemService(run.places, text))) {
                delete needle;
                continue;
            }
            if (IsRefusedInfText(run.places, text, &error, &reason)) {
                if (!driver)
                    RefuseEntry(phase, text, error, reason);
                delete needle;
                continue;
            }
            needles->AppendOwned(needle);
        }
    }
}

// The system's own INF files (every one no product's setup copied there as oem<n>.inf) are
// never selected: a text they hold is refused.
bool IsProductInf(const wchar_t* path)
{
    const wchar_t* name = wcsrchr(path, L'\\');
    return name != nullptr && _wcsnicmp(name + 1, L"oem", 3) == 0;
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
    zqWString folder;
    if (ExpandPath(L"%SystemRoot%\\inf", &folder).ok)
        found.count = FindFilesByMask(folder.Get(), L"*.inf", &found.paths, 0);
    zqList<zqString> needles;
    CollectNeedles(run, phase, &needles);

    CountItems(phase, found.count);  // its items are the INF files it scans
    for (int i = 0; i < found.count; ++i) {
        ReachItem(phase, i);
        if (needles.count == 0 || !IsProductInf(found.paths[i])) {
            if (!PassOver(phase))
                return;
            continue;
        }
        HeapArray<char> text;
        ReadResult read = ReadInfText(found.paths[i], &text);
        if (read == ReadResult::NotOpened)
            continue;  // not a candidate: no poll either
        bool goOn;
        if (read == ReadResult::Text && IsSelected(text.Get(), needles)) {
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
