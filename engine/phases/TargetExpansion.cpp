#include "phases/TargetExpansion.h"

#include <stdlib.h>
#include <wchar.h>


#include "platform/FolderListing.h"
#include "platform/Paths.h"
#include "platform/Search.h"
#include "guard/Guard.h"
#include "shared/StopSignal.h"
#include "foundation/Handles.h"
#include "foundation/TextIndex.h"
#include "script/CleanScript.h"
#include "platform/ExpandPath.h"

namespace {

const wchar_t* TextOf(const zqList<zqWString>& list, int index)
{
    const zqWString* entry = list.At(index);
    return entry != nullptr ? entry->Get() : L"";
}

#ifdef _WIN64
// Twins of every non-empty entry of source, appended to the scratch list.
void CollectTwins(const SystemPaths& paths, const zqList<zqWString>& source,
                  zqList<zqWString>& twins)
{
    zqWString twin;
    for (int i = 0; i < source.count; ++i) {
        const wchar_t* text = TextOf(source, i);
        if (text[0] != 0 && TwinPath(paths, text, &twin))
            AppendEntry(twins, twin.Get());
    }
}

#endif

void IndexAll(const zqList<zqWString>& list, TextIndex& index)
{
    for (int i = 0; i < list.count; ++i)
        TextIndexAdd(index, TextOf(list, i));
}

// Appends each non-empty entry of source to target unless it is already there.
void AppendAllUnique(const zqList<zqWString>& source, zqList<zqWString>& target, TextIndex& index)
{
    for (int i = 0; i < source.count; ++i) {
        const wchar_t* text = TextOf(source, i);
        if (text[0] != 0)
            AppendUnique(target, index, text);
    }
}

}  // namespace

// Each merge compares with the whole target list through an index of it: a script with a
// hundred thousand folders must not take a hundred thousand scans of the list.
void ExpandTargetLists(const zqCleanScript& script, const SystemPaths& paths, RunLists& lists)
{
    for (int i = 0; i < script.files.count; ++i)
        AppendEntry(lists.files, TextOf(script.files, i));
    for (int i = 0; i < script.folders.count; ++i)
        AppendEntry(lists.folders, TextOf(script.folders, i));
    TextIndex searchIndex;
    IndexAll(lists.searchDirs, searchIndex);
    AppendAllUnique(script.exFolders, lists.searchDirs, searchIndex);
#ifdef _WIN64
    zqList<zqWString> twins;
    TextIndex folderIndex;
    IndexAll(lists.folders, folderIndex);
    CollectTwins(paths, lists.folders, twins);
    AppendAllUnique(twins, lists.folders, folderIndex);
    twins.RemoveAll();
#else
    (void)paths;
#endif
    AppendAllUnique(lists.folders, lists.searchDirs, searchIndex);
#ifdef _WIN64
    CollectTwins(paths, lists.searchDirs, twins);
    AppendAllUnique(twins, lists.searchDirs, searchIndex);
#endif
}

// The product's own folders, where a mask that names no file of its own ("*.dll") may look: the
// extra folders and the folders (their twins included), never the PATH or the drivers folder.
void IndexProductFolders(const zqCleanScript& script, const RunLists& lists, const SystemPaths& paths,
                         TextIndex& index, zqList<zqWString>& twins)
{
    IndexAll(script.exFolders, index);
    IndexAll(lists.folders, index);
#ifdef _WIN64
    CollectTwins(paths, script.exFolders, twins);
    IndexAll(twins, index);
#else
    (void)paths;
    (void)twins;
#endif
}

bool ExpandMaskedFiles(const zqCleanScript& script, const SystemPaths& paths, const ProtectedPlaces& places,
                       RunLists& lists)
{
    TextIndex productFolders;
    zqList<zqWString> twins;
    IndexProductFolders(script, lists, paths, productFolders, twins);
    for (int m = 0; m < script.maskedFiles.count; ++m) {
        const wchar_t* mask = TextOf(script.maskedFiles, m);
        bool anyName = !MaskNamesFiles(mask);
        if (StopRequested())
            return false;
        for (int d = 0; d < lists.searchDirs.count; ++d) {
            const wchar_t* searchDir = TextOf(lists.searchDirs, d);
            if (anyName && !TextIndexContains(productFolders, searchDir))
                continue;
            wchar_t* expanded = nullptr;
            if (!ExpandPathW(searchDir, &expanded))
                continue;
            HeapBlock directory(expanded);
            if (anyName && IsProtectedSearchFolder(places, expanded))
                continue;
            // Each folder is listed once for every mask; one the listing cannot answer for is
            // searched as before.
            FolderListing* listing = ListingOf(lists.searchListings, expanded);
            if (listing == nullptr || !AppendMaskMatches(*listing, mask, lists.files)) {
                wchar_t** found = nullptr;
                int count = FindFilesByMask(expanded, mask, &found, 0);
                for (int i = 0; i < count; ++i) {
                    AppendEntry(lists.files, found[i]);
                    free(found[i]);
                }
                free(found);
            }
            if (StopRequested())
                return false;
        }
    }
    // Once more before the files header, also when there was nothing to expand.
    return !StopRequested();
}
