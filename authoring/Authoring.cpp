#include "authoring/Authoring.h"

#include <windows.h>
#include <wchar.h>

#include "authoring/Comparison.h"
#include "authoring/Drafting.h"
#include "authoring/SnapshotFile.h"
#include "authoring/Walk.h"
#include "foundation/Handles.h"
#include "shared/RunLog.h"
#include "shared/StatusBlock.h"
#include "shared/StopSignal.h"

namespace {

const char kClosingLine[] =
    "--------------------------------------------------------------------------------------------\n";
const wchar_t kDraftName[] = L"zqclean.draft.ini";
// Place codes of the service host's refusals, as in a run: no status block, no working folder.
const int kErrorNoBlock = 760;
const int kErrorNoWorkDir = 761;

struct Counts {
    unsigned long folders = 0, files = 0, keys = 0, values = 0;
};

Counts CountItems(const Listing& listing)
{
    Counts counts;
    for (uint32_t i = 0; i < listing.count; ++i) {
        switch (listing.items[i].kind) {
        case ItemKind::Folder: ++counts.folders; break;
        case ItemKind::File: ++counts.files; break;
        case ItemKind::Key: ++counts.keys; break;
        case ItemKind::Value: ++counts.values; break;
        }
    }
    return counts;
}

// Walks the places; false (logged as a failure of what) when it did not end.
bool Walk(const Places& places, Listing& listing, const char* what)
{
    switch (WalkPlaces(places, listing)) {
    case WalkEnd::Done:
        return true;
    case WalkEnd::NoMemory:
        WriteLog(1, "Cannot %s (not enough memory: %i)\n", what, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
        return false;
    case WalkEnd::Stopped:
    default:
        return false;  // a stop request: no closing line
    }
}

bool TakeSnapshot(const wchar_t* snapshotPath, const wchar_t* workDir)
{
    WriteLog(1, "Snapshot: %S\n", snapshotPath);
    Places places;
    const wchar_t* workDirs[] = {workDir, nullptr};
    FindPlaces(&places, workDirs);
    Listing listing;
    if (!Walk(places, listing, "take the snapshot"))
        return false;
    SnapshotHeader header;
    GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&header.taken));
    header.workDir.Assign(workDir);
    uint64_t size = 0;
    Result written = MachineIdentity(&header.machine) ? WriteSnapshot(snapshotPath, header, places, listing, &size) : NoMemory();
    if (!written.ok) {
        WriteLog(1, "Cannot take the snapshot (%S: %i)\n", snapshotPath,
                 static_cast<int>(written.error != 0 ? written.error : ERROR_NOT_ENOUGH_MEMORY));
        return false;
    }
    Counts counts = CountItems(listing);
    WriteLog(1, "Recorded %i places: %lu folders, %lu files, %lu keys, %lu values (%I64u bytes).\n", places.count,
             counts.folders, counts.files, counts.keys, counts.values, size);
    WriteLog(0, "%s", kClosingLine);
    return true;
}

// The snapshot, when it is whole and this machine's and this build's; otherwise a line says why.
bool ReadOwnSnapshot(const wchar_t* path, SnapshotHeader* header, Places* places, Listing* listing)
{
    DWORD error = 0;
    const char* why = nullptr;
    switch (ReadSnapshot(path, header, places, listing, &error, &why)) {
    case SnapshotRead::Missing:
        WriteLog(1, "Cannot draft (no snapshot %S: %i)\n", path, static_cast<int>(error));
        return false;
    case SnapshotRead::Damaged:
        WriteLog(1, "Cannot draft (the snapshot %S is damaged: %s)\n", path, why);
        return false;
    case SnapshotRead::OtherVersion:
        WriteLog(1, "Cannot draft (the snapshot %S is of another version of zqclean)\n", path);
        return false;
    case SnapshotRead::Read:
        break;
    }
    zqWString machine;
    if (header->build != kBuild) {
        WriteLog(1, "Cannot draft (the snapshot %S was taken by zqclean%lu: draft with it)\n", path,
                 static_cast<unsigned long>(header->build));
        return false;
    }
    if (!MachineIdentity(&machine) || wcscmp(machine.Get(), header->machine.Get()) != 0) {
        WriteLog(1, "Cannot draft (the snapshot %S was taken on another machine: %S)\n", path, header->machine.Get());
        return false;
    }
    return true;
}

bool DraftScript(const wchar_t* snapshotPath, const wchar_t* workDir)
{
    zqWString draftPath;
    if (!FormatInto(draftPath, L"%s\\%s", workDir, kDraftName))
        return false;
    WriteLog(1, "Draft: %S\n", draftPath.Get());
    SnapshotHeader header;
    Places recorded;
    Listing snapshot;
    if (!ReadOwnSnapshot(snapshotPath, &header, &recorded, &snapshot))
        return false;
    SYSTEMTIME taken;
    FILETIME local;
    if (!FileTimeToLocalFileTime(reinterpret_cast<const FILETIME*>(&header.taken), &local) ||
        !FileTimeToSystemTime(&local, &taken))
        taken = SYSTEMTIME();
    Counts counts = CountItems(snapshot);
    WriteLog(1, "Snapshot of %04i/%02i/%02i %02i:%02i:%02i: %i places, %lu folders, %lu files, %lu keys, %lu values.\n",
             taken.wYear, taken.wMonth, taken.wDay, taken.wHour, taken.wMinute, taken.wSecond, recorded.count,
             counts.folders, counts.files, counts.keys, counts.values);

    // What the snapshot's launch did not record is not recorded now either.
    Places places;
    const wchar_t* workDirs[] = {workDir, header.workDir.Get(), nullptr};
    FindPlaces(&places, workDirs);
    Listing current;
    if (!Walk(places, current, "draft"))
        return false;
    uint32_t unrecorded = 0;
    CompareWithSnapshot(current, places, snapshot, recorded, &unrecorded);

    DraftContext context;
    context.current = &current;
    context.places = &places;
    context.workDir = workDir;
    InitSystemPaths(context.paths);
    context.infPhasesRun = kBuild == 64 || !context.paths.isWow64;
    AskProtectedPlaces(&context.draft.guard);
    for (int p = 0; p < places.count; ++p)
        if (unrecorded & (1u << p))
            Note(context.draft, IsKeyPlace(places.list[p].use) ? Section::Registry : Section::Folders,
                 places.list[p].root.Get(), L"the snapshot has no record of this place");
    DraftKeyPlaces(context);
    DraftInfFiles(context);
    DraftFilePlaces(context);
    if (StopRequested())
        return false;
    Result written = WriteDraft(context.draft, draftPath.Get());
    if (!written.ok) {
        WriteLog(1, "Cannot draft (%S: %i)\n", draftPath.Get(), static_cast<int>(written.error));
        return false;
    }
    WriteLog(1, "%i entries drafted, %i lines not removed.\n", EntryCount(context.draft), context.draft.notes.count);
    WriteLog(0, "%s", kClosingLine);
    return true;
}

}  // namespace

int RunAuthoring(RunMode mode)
{
    KernelHandle block(OpenStatusBlock());
    if (!block.Valid()) {
        WriteLog(1, "zqclean error(%i): %i\n", kErrorNoBlock, static_cast<int>(GetLastError()));
        return 1;
    }
    wchar_t workDir[kBlockPathUnits];
    ReadBlockWorkDir(block.Get(), workDir);
    if (workDir[0] == 0) {
        WriteLog(1, "zqclean error(%i)\n", kErrorNoWorkDir);
        return 1;
    }
    zqWString snapshotPath;
    if (!SystemDriveFile("zqclean.snapshot", &snapshotPath))
        return 1;
    bool done = mode == RunMode::Snapshot ? TakeSnapshot(snapshotPath.Get(), workDir)
                                          : DraftScript(snapshotPath.Get(), workDir);
    // How it ended, for the launcher's exit code: these modes leave no report of their own.
    WriteBlockRunEnd(block.Get(), done ? LaunchEnd::Clean : StopRequested() ? LaunchEnd::Stopped : LaunchEnd::Failed);
    return 1;
}
