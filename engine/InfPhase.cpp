// INF removal: every INF file of the system INF folder whose text names one of the [infs]
// or [drivers] entries is deleted, with its precompiled .pnf companion.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/FileSystem.h"
#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "foundation/Handles.h"
#include "foundation/PathSplit.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "launcher/RunLog.h"
#include "script/CleanScript.h"
#include "script/ExpandPath.h"

namespace {

enum class ReadResult { NotOpened, NoText, Text };

// The whole file as one zero-terminated narrow text in a malloc block. Opened for reading
// with the sharing of a plain C stream (others may read and write), read in one call.
ReadResult ReadWholeFile(const wchar_t* path, HeapBlock* text)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid())
        return ReadResult::NotOpened;
    LARGE_INTEGER size;
    // A file beyond 2 GB is not looked at.
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFFF)
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

// Deleted now or scheduled for the next restart.
bool RemoveOrSchedule(const wchar_t* path)
{
    return DeleteFileW(path) || MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// The texts looked for, narrowed once: the [infs] entries, then the [drivers] entries. A text
// that is empty (an entry that cannot be narrowed) would match every file and is left out.
void CollectNeedles(zqCleanScript& script, zqList<zqString>* needles)
{
    zqList<zqWString>* sources[2] = {&script.infs, &script.drivers};
    for (zqList<zqWString>* source : sources) {
        for (int i = 0; i < source->count; ++i) {
            zqString* needle = new zqString();
            if (!needle->Assign(source->At(i)->Get()) || needle->length == 0) {
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

}  // namespace

bool InfPhase(zqCleanScript& script)
{
    WriteLog(1, "Delete infs:\n");

    wchar_t** paths = nullptr;
    int count = 0;
    wchar_t* folder = nullptr;
    if (ExpandPathW(L"%SystemRoot%\\inf", &folder)) {
        count = FindFilesByMask(folder, L"*.inf", &paths, 0);
        free(folder);
    }

    zqList<zqString> needles;
    CollectNeedles(script, &needles);

    int deleted = 0;
    int next = 0;
    for (; next < count; ++next) {
        HeapBlock path(paths[next]);
        HeapBlock text;
        ReadResult read = ReadWholeFile(paths[next], &text);
        if (read == ReadResult::NotOpened)
            continue;
        if (read == ReadResult::Text && IsSelected(static_cast<const char*>(text.Get()), needles)) {
            const wchar_t* infPath = paths[next];
            WriteLog(0, "%S...", infPath);
            bool removed = RemoveOrSchedule(infPath);
            wchar_t companion[260];
            if (wcslen(infPath) < 260 && ReplaceExtension(companion, infPath, L"pnf"))
                RemoveOrSchedule(companion);
            if (WriteItemOutcome(removed, GetLastError()))
                ++deleted;
        }
        text.Close();
        path.Close();
        if (StopRequested()) {
            ++next;
            break;
        }
    }
    for (; next < count; ++next)  // the paths a stop request left unvisited
        free(paths[next]);
    free(paths);

    WriteLog(1, "%i inf files are deleted\n", deleted);
    return !StopRequested();
}
