#include "shared/StatusBlock.h"

#include <sddl.h>
#include <string.h>
#include <wchar.h>

const char kStatusBlockName[] = "Global\\DIRezizUro";

namespace {

// A view of the whole section, unmapped when the holder goes.
MappedView MapBlock(HANDLE block)
{
    if (block == nullptr || block == INVALID_HANDLE_VALUE)
        return MappedView();
    return MappedView(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, 0));
}

StatusBlock* Fields(const MappedView& view)
{
    return static_cast<StatusBlock*>(view.Get());
}

void CopyTerminated(wchar_t target[kBlockPathUnits], const wchar_t* source)
{
    wcsncpy(target, source, kBlockPathUnits - 1);
    target[kBlockPathUnits - 1] = 0;
}

}  // namespace

KernelHandle CreateStatusBlock(bool* existed)
{
    // Only the local system account and administrators may open it: the block names the script
    // that a service of the system account will run.
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr))
        return KernelHandle();
    LocalBlock descriptor(attributes.lpSecurityDescriptor);
    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, sizeof(StatusBlock),
                                      kStatusBlockName);
    if (existed != nullptr)
        *existed = block != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    return KernelHandle(block);
}

void FillStatusBlock(HANDLE block, const wchar_t* scriptPath, const wchar_t* workDir)
{
    MappedView view = MapBlock(block);
    if (!view.Valid())
        return;
    StatusBlock* fields = Fields(view);
    fields->status = kStatusNoResult;
    CopyTerminated(fields->scriptPath, scriptPath != nullptr ? scriptPath : L"");
    // The working directory is zero-padded; at 260 units or more it keeps no terminator.
    // Without one, a section that already existed must not keep the directory of an earlier
    // launch, or the run would compare its folders with a directory nobody started from.
    if (workDir != nullptr)
        wcsncpy(fields->workDir, workDir, kBlockPathUnits);
    else
        memset(fields->workDir, 0, sizeof fields->workDir);
    memset(&fields->progress, 0, sizeof fields->progress);
}

HANDLE OpenStatusBlock()
{
    return OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kStatusBlockName);
}

int ReadBlockStatus(HANDLE block)
{
    MappedView view = MapBlock(block);
    return view.Valid() ? Fields(view)->status : kStatusNoResult;
}

void WriteBlockStatus(HANDLE block, int status)
{
    MappedView view = MapBlock(block);
    if (view.Valid())
        Fields(view)->status = status;
}

void ReadBlockScriptPath(HANDLE block, wchar_t path[kBlockPathUnits])
{
    path[0] = 0;
    MappedView view = MapBlock(block);
    if (view.Valid())
        CopyTerminated(path, Fields(view)->scriptPath);
}

void ReadBlockWorkDir(HANDLE block, wchar_t dir[kBlockPathUnits])
{
    dir[0] = 0;
    MappedView view = MapBlock(block);
    if (!view.Valid())
        return;
    // The stored text may lack a terminator; never read past the field.
    wchar_t stored[kBlockPathUnits];
    memcpy(stored, Fields(view)->workDir, sizeof stored);
    size_t length = wcsnlen(stored, kBlockPathUnits);
    if (length > kBlockPathUnits - 1)
        length = kBlockPathUnits - 1;
    memcpy(dir, stored, length * sizeof(wchar_t));
    dir[length] = 0;
}

void WriteBlockConvention(HANDLE block, ExitConvention convention)
{
    MappedView view = MapBlock(block);
    if (view.Valid())
        Fields(view)->ended.standardCodes = convention == ExitConvention::Standard ? 1 : 0;
}

ExitConvention ReadBlockConvention(HANDLE block)
{
    MappedView view = MapBlock(block);
    return view.Valid() && Fields(view)->ended.standardCodes == 1 ? ExitConvention::Standard : ExitConvention::Classic;
}

void WriteBlockRunEnd(HANDLE block, LaunchEnd end)
{
    MappedView view = MapBlock(block);
    if (view.Valid())
        Fields(view)->ended.runEnd = static_cast<int32_t>(end);
}

LaunchEnd ReadBlockRunEnd(HANDLE block)
{
    MappedView view = MapBlock(block);
    int32_t end = view.Valid() ? Fields(view)->ended.runEnd : 0;
    // A value no run writes tells nothing: the launcher then fails closed.
    bool known = end > 0 && end <= static_cast<int32_t>(LaunchEnd::Clean);
    return known ? static_cast<LaunchEnd>(end) : LaunchEnd::Unknown;
}

RunProgress ReadBlockProgress(HANDLE block)
{
    RunProgress progress = {};
    MappedView view = MapBlock(block);
    if (!view.Valid())
        return progress;
    const volatile RunProgress& published = Fields(view)->progress;
    progress.phase = published.phase;
    progress.done = published.done;
    progress.items = published.items;
    return progress;
}

ProgressView MapProgress(HANDLE block)
{
    ProgressView progress;
    progress.view = MapBlock(block);
    if (progress.view.Valid())
        progress.fields = &Fields(progress.view)->progress;
    return progress;
}

void PublishProgress(const ProgressView& progress, int phase, int done, int items)
{
    if (progress.fields == nullptr)
        return;
    // The launcher may read between two stores: it clamps what it sees.
    progress.fields->items = items;
    progress.fields->done = done;
    progress.fields->phase = phase;
}
