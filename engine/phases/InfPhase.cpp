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
#include "foundation/Utf8.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "script/CleanScript.h"
#include "platform/ExpandPath.h"

namespace {

enum class ReadResult { NotOpened, NoText, Text };

// A file beyond this is no INF file of any product and is not read.
const LONGLONG kLargestInf = 64 * 1024 * 1024;

// The whole file as one zero-terminated block, read in one call; *size receives its bytes.
// Opened with the sharing of a plain C stream (others may read and write).
ReadResult ReadWholeFile(const wchar_t* path, HeapArray<char>* text, size_t* size)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid())
        return ReadResult::NotOpened;
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(file.Get(), &fileSize) || fileSize.QuadPart > kLargestInf)
        return ReadResult::NoText;
    DWORD length = static_cast<DWORD>(fileSize.QuadPart);
    if (!text->Resize(static_cast<size_t>(length) + 1))
        return ReadResult::NoText;
    char* bytes = text->Get();
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, length, &got, nullptr))
        got = 0;
    bytes[got] = 0;
    *size = got;
    return ReadResult::Text;
}

// One text looked for, in the form of each encoding an INF file may have: its single-byte
// form for a file without a byte-order mark (compared as its bytes, as ever), its UTF-8 form
// after a UTF-8 mark, its UTF-16 units after a UTF-16 mark of either byte order.
struct Needle {
    zqString single;
    zqString utf8;
    zqWString little;
    zqWString big;
};

bool MakeNeedle(const wchar_t* text, Needle* needle)
{
    std::string utf8 = Utf8(text);
    if (!needle->single.Assign(text) || needle->single.length == 0 || utf8.empty() ||
        !needle->utf8.Assign(utf8.c_str()) || !needle->little.Assign(text) || !needle->big.Assign(text))
        return false;
    for (int i = 0; i < needle->big.length; ++i)
        needle->big.buffer[i] = static_cast<wchar_t>((needle->big.buffer[i] << 8) | (needle->big.buffer[i] >> 8 & 0xff));
    return true;
}

// The texts looked for, narrowed once: the [infs] entries, then the [drivers] entries. A text
// that is empty (an entry that cannot be narrowed) would match every file and is left out. An
// [infs] text that singles out no product's INF files is refused with a line of its own; a
// [drivers] name that is one of the system's own services, or no such text, selects nothing
// (its service's own line says why).
void CollectNeedles(RunContext& run, PhaseRun& phase, zqList<Needle>* needles)
{
    const zqList<zqWString>* sources[2] = {&run.script->infs, &run.script->drivers};
    for (const zqList<zqWString>* source : sources) {
        for (int i = 0; i < source->count; ++i) {
            const wchar_t* text = source->At(i)->Get();
            DWORD error = 0;
            const char* reason = nullptr;
            bool driver = source == &run.script->drivers;
            Needle* needle = new (std::nothrow) Needle;
            if (needle == nullptr || !MakeNeedle(text, needle) || (driver && IsSystemService(run.places, text))) {
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

// Whether the UTF-16 units of needle (length bytes) stand in text (size bytes) at a whole unit.
bool HoldsUnits(const char* text, size_t size, const wchar_t* needle, size_t length)
{
    const char* end = text + size;
    const char* first = reinterpret_cast<const char*>(needle);
    for (const char* at = text; static_cast<size_t>(end - at) >= length;) {
        const char* hit = static_cast<const char*>(memchr(at, first[0], static_cast<size_t>(end - at) - length + 1));
        if (hit == nullptr)
            return false;
        if ((hit - text) % 2 == 0 && memcmp(hit, first, length) == 0)
            return true;
        at = hit + 1;
    }
    return false;
}

// Each needle in the form of the file's encoding, which its byte-order mark tells.
bool IsSelected(const char* text, size_t size, const zqList<Needle>& needles)
{
    const unsigned char* mark = reinterpret_cast<const unsigned char*>(text);
    bool utf8 = size >= 3 && mark[0] == 0xef && mark[1] == 0xbb && mark[2] == 0xbf;
    bool little = size >= 2 && mark[0] == 0xff && mark[1] == 0xfe;
    bool big = size >= 2 && mark[0] == 0xfe && mark[1] == 0xff;
    for (int i = 0; i < needles.count; ++i) {
        const Needle& needle = *needles.At(i);
        bool found = little ? HoldsUnits(text + 2, size - 2, needle.little.Get(), needle.little.length * sizeof(wchar_t))
                     : big  ? HoldsUnits(text + 2, size - 2, needle.big.Get(), needle.big.length * sizeof(wchar_t))
                     : utf8 ? strstr(text + 3, needle.utf8.Get()) != nullptr
                            : strstr(text, needle.single.Get()) != nullptr;
        if (found)
            return true;
    }
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
    zqList<Needle> needles;
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
        size_t size = 0;
        ReadResult read = ReadWholeFile(found.paths[i], &text, &size);
        if (read == ReadResult::NotOpened)
            continue;  // not a candidate: no poll either
        bool goOn;
        if (read == ReadResult::Text && IsSelected(text.Get(), size, needles)) {
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
