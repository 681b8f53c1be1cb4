#include "engine/Phases.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "engine/FileSystem.h"
#include "engine/StopSignal.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "launcher/RunLog.h"
#include "script/CleanScript.h"

namespace {

// The entry as written decides, not the path found.
bool IsActiveXControl(const wchar_t* entry)
{
    size_t length = wcslen(entry);
    return length > 4 && _wcsicmp(entry + length - 4, L".ocx") == 0;
}

// Deletes the file now or at the next restart; writes the outcome. True when counted.
bool DeleteOneFile(const wchar_t* path)
{
    WriteLog(0, "%S...", path);
    if (DeleteFileW(path)) {
        WriteLog(0, "OK\n");
        return true;
    }
    if (MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        WriteLog(0, "AFTER BOOT\n");
        return true;
    }
    DWORD error = GetLastError();
    WriteLog(0, "FAILED(Err:%i)\n", static_cast<int>(error));
    return false;
}

}  // namespace

bool FilePhase(zqCleanScript& script)
{
    WriteLog(1, "Delete files(%i):\n", script.files.count);
    int deleted = 0;
    bool stopped = false;
    for (int i = 0; i < script.files.count && !stopped; ++i) {
        const zqWString* item = script.files.At(i);
        const wchar_t* entry = item != nullptr ? item->Get() : L"";
        bool activeX = IsActiveXControl(entry);
        // The copy processed last for this entry: a lookup that finds it again is skipped.
        zqWString last;
        for (int pass = 0; pass <= script.searchDirs.count && !stopped; ++pass) {
            const wchar_t* directory = nullptr;
            if (pass > 0) {
                const zqWString* dir = script.searchDirs.At(pass - 1);
                directory = dir != nullptr ? dir->Get() : L"";
            }
            HeapBlock found(SearchPathAlloc(directory, entry));
            if (!found.Valid())
                continue;
            const wchar_t* path = static_cast<const wchar_t*>(found.Get());
            if (last.length > 0 && _wcsicmp(path, last.Get()) == 0)
                continue;
            if (activeX) {
                // A cut command line would name another file: the control is then only deleted.
                wchar_t commandLine[260];
                if (FormatW(commandLine, 260, L"regsvr32.exe /S /U \"%s\"", path) >= 0)
                    RunProcessAndWait(commandLine);
            }
            if (DeleteOneFile(path))
                ++deleted;
            last.Assign(path);
            if (StopRequested())
                stopped = true;
        }
    }
    WriteLog(1, "%i files are deleted.\n", deleted);
    return !StopRequested();
}
