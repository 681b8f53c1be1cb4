// A preview: what the run would do, and nothing done. What is held open now would go at the
// next restart.
#include "action/Preview.h"

#include "foundation/Handles.h"
#include "platform/Paths.h"

namespace {


// Whether nobody holds the file open against its deletion now.
bool DeletableNow(const wchar_t* path)
{
    zqWString extended;
    FileHandle file;
    if (ExtendedPath(path, &extended))
        file.Reset(CreateFileW(extended.Get(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.Valid();
}

// Whether everything in the tree is deletable now; a link is not entered.
bool TreeDeletableNow(const wchar_t* folder)
{
    zqWString pattern, child, extended;
    WIN32_FIND_DATAW entry;
    FindHandle listing;
    if (ExtendedPath(folder, &extended) && FormatInto(pattern, L"%s\\*", extended.Get()))
        listing.Reset(FindFirstFileW(pattern.Get(), &entry));
    while (listing.Valid()) {
        if (!IsDotEntry(entry.cFileName) && FormatInto(child, L"%s\\%s", folder, entry.cFileName)) {
            bool tree = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            if (tree ? !TreeDeletableNow(child.Get()) : !DeletableNow(child.Get()))
                return false;
        }
        if (!FindNextFileW(listing.Get(), &entry))
            break;
    }
    return true;
}

// A preview: what the run would do, and nothing done. What is held open now would go at the
}  // namespace

Outcome Foresee(const Target& target)
{
    bool now = true;
    if (target.kind == TargetKind::File || target.kind == TargetKind::InfFile)
        now = DeletableNow(target.path);
    else if (target.kind == TargetKind::Folder)
        now = TreeDeletableNow(target.path) && DeletableNow(target.path);
    return {now ? OutcomeKind::WouldRemove : OutcomeKind::WouldRemoveAtRestart};
}
