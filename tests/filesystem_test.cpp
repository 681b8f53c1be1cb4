// Mask listing, wildcard matching, folder-tree deletion and process starts, on real files in
// C:\zqtest\fs of the scratch prefix.
#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/FileSystem.h"
#include "tests/support/DriverSupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using Paths = std::vector<std::wstring>;

// FindFilesByMask's result as a list (sorted unless asked not to); the count is returned.
int Find(const std::wstring& dir, const wchar_t* mask, int depth, Paths* out, bool sorted = true)
{
    wchar_t** paths = reinterpret_cast<wchar_t**>(0x1);  // must be overwritten
    int count = FindFilesByMask(dir.c_str(), mask, &paths, depth);
    out->clear();
    EXPECT_EQ(paths == nullptr, count <= 0) << "a list exactly when something was found";
    for (int i = 0; i < count && paths != nullptr; ++i) {
        out->push_back(paths[i]);
        free(paths[i]);
    }
    if (count > 0)
        free(paths);
    if (sorted)
        std::sort(out->begin(), out->end());
    return count;
}

// Directory entries in the order the file system lists them, without "." and "..".
Paths ListingOrder(const std::wstring& dir)
{
    Paths names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring CurrentDir()
{
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    return dir;
}

class FileSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeScratchDir(L"fs");
        DropPendingRenames(L"\\zqtest\\fs\\");
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(saved.c_str());
        DropPendingRenames(L"\\zqtest\\fs\\");
        RemoveTree(dir);
    }
    void Touch(std::initializer_list<std::wstring> names)
    {
        for (const std::wstring& name : names)
            WriteFileBytes(dir + L"\\" + name, "x");
    }
    Paths Full(std::initializer_list<const wchar_t*> names)
    {
        Paths paths;
        for (const wchar_t* name : names)
            paths.push_back(dir + L"\\" + name);
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    DWORD Run(const std::wstring& line)
    {
        std::vector<wchar_t> buffer(line.begin(), line.end());
        buffer.resize(260, 0);
        return RunProcessAndWait(buffer.data());
    }

    std::wstring dir, saved = CurrentDir();
};

}  // namespace

TEST(WildcardMatch, Rules)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* pattern;
        bool match;
    };
    const Case cases[] = {
        // '?' takes exactly one character, never an empty stretch.
        {L"ab", L"a?", true}, {L"a", L"a?", false}, {L"abc", L"a?", false}, {L"", L"?", false},
        {L"a.b", L"???", true}, {L"a", L"*??", false}, {L"a.", L"*??", true}, {L"a.", L"*?", true},
        // '*' may be empty and backtracks; code units are compared exactly.
        {L"", L"*", true}, {L"", L"***", true}, {L"setup.inf.inf", L"*.inf", true},
        {L"a.b.c", L"*.c", true}, {L"a.b.c", L"*.b", false}, {L"abcabd", L"*abd", true},
        {L"xaaab", L"x*a*b", true}, {L"xaaac", L"x*a*b", false}, {L"oem12.pnf", L"oem*.inf", false},
        {L"readme.", L"*.", true}, {L"readme.txt", L"*.", false}, {L"abxyz", L"*[x]?z", true},
        {L"abxyz", L"*?z", true}, {L"X.INF", L"*.inf", false}, {L"abc", L"ab", false},
        // Classes: members and inclusive ranges, one character each.
        {L"b.sys", L"[a-c]*", true}, {L"a", L"[a-c]", true}, {L"c", L"[a-c]", true},
        {L"d.sys", L"[a-c]*", false}, {L"w1", L"[xyz]1", false}, {L"q", L"[a-cq]", true},
        {L"ab", L"[a-c]", false},
        // A '-' right after '[' or right before ']' fails unless the character already belongs;
        // no ']' before the end fails even for a member.
        {L"a", L"[-a]*", false}, {L"-x", L"[-a]*", true}, {L"a", L"[a-]", true},
        {L"b", L"[a-]", false}, {L"-", L"[a-]", true}, {L"a", L"[a", false}, {L"a", L"[abc", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.match) << Narrow(c.name) << " ~ " << Narrow(c.pattern);
}

TEST_F(FileSystem, FindFilesByMaskMatchesLowerCasedNamesAtTheRightDepth)
{
    Touch({L"readme", L"setup.txt", L"drv.inf", L"UPPER.INF", L"b.sys", L"d.sys", L"-dash", L"x.inf.bak"});
    CreateDirectoryW((dir + L"\\sub.inf").c_str(), nullptr);
    Touch({L"sub.inf\\inner.inf", L"sub.inf\\inner.txt"});
    // Both sides lower-cased, names without an extension get a dot; the paths keep their case.
    const std::pair<const wchar_t*, Paths> cases[] = {
        {L"*.*", Full({L"readme", L"setup.txt", L"drv.inf", L"UPPER.INF", L"b.sys", L"d.sys", L"-dash", L"x.inf.bak"})},
        {L"*.", Full({L"readme", L"-dash"})}, {L"*.INF", Full({L"drv.inf", L"UPPER.INF"})},  // depth 0: no sub.inf
        {L"[a-c]*", Full({L"b.sys"})}, {L"[-a]*", Full({L"-dash"})}, {L"README.", Full({L"readme"})},
        {L"readme", {}}, {L"?", {}}};
    Paths found;
    for (const auto& c : cases) {
        EXPECT_EQ(Find(dir, c.first, 0, &found), static_cast<int>(c.second.size())) << Narrow(c.first);
        EXPECT_EQ(found, c.second) << Narrow(c.first);
    }
    EXPECT_EQ(Find(dir + L"\\", L"*.sys", 0, &found), 2);  // no doubled separator
    EXPECT_EQ(found, Full({L"b.sys", L"d.sys"}));

    // Depth 1: a subfolder's matches come where the subfolder is listed.
    Paths expected;
    for (const std::wstring& name : ListingOrder(dir)) {
        if (name == L"sub.inf")
            expected.push_back(dir + L"\\sub.inf\\inner.inf");
        else if (name == L"drv.inf" || name == L"UPPER.INF")
            expected.push_back(dir + L"\\" + name);
    }
    EXPECT_EQ(Find(dir, L"*.inf", 1, &found, false), 3);
    EXPECT_EQ(found, expected);

    // More matches than the first 32 slots.
    CreateDirectoryW((dir + L"\\many").c_str(), nullptr);
    for (int i = 0; i < 75; ++i)
        Touch({L"many\\f" + std::to_wstring(i) + L".dat"});
    EXPECT_EQ(Find(dir + L"\\many", L"*.dat", 0, &found), 75);
    EXPECT_EQ(Find(dir, L"*.dat", 1, &found), 75);

    // A missing folder or a file: -1 and no list.
    EXPECT_EQ(Find(dir + L"\\absent", L"*.*", 0, &found), -1);
    EXPECT_EQ(Find(dir + L"\\setup.txt", L"*.*", 0, &found), -1);
    EXPECT_EQ(Find(dir + L"\\no\\such\\path", L"*.*", 3, &found), -1);
}

// Paths that do not fit their buffers are never used cut: a cut path names another folder or
// file (a 259-character folder listed itself without end).
TEST_F(FileSystem, PathsThatDoNotFitAreNotCut)
{
    std::wstring a = dir + L"\\" + std::wstring(249 - dir.size() - 1, L'a');  // 249 characters
    std::wstring longDir = a + L"\\b";
    ASSERT_TRUE(CreateDirectoryW(a.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(longDir.c_str(), nullptr));
    WriteFileBytes(a + L"\\x.tmp", "x");
    Paths found;
    EXPECT_EQ(Find(longDir, L"*.tmp", 0, &found), 0);  // not the listing of a
    // Full paths are cut at 255: "nnnnn.tm" would become the other file "nnnnn".
    std::wstring shortName = a + L"\\nnnnn";
    WriteFileBytes(shortName, "x");
    WriteFileBytes(shortName + L".tm", "x");
    ASSERT_TRUE(PathExists(shortName + L".tm"));
    EXPECT_EQ(Find(a, L"*.tm", 0, &found), 0);

    std::wstring deep = dir + L"\\" + std::wstring(259 - dir.size() - 1, L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << GetLastError();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree(deep.c_str()), 1);
    EXPECT_FALSE(PathExists(deep));
}

TEST_F(FileSystem, DeleteFolderTreeSchedulesOnlyWhatIsInUse)
{
    // A missing folder is neither removed nor scheduled.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree((dir + L"\\absent").c_str()), 0);
    DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;

    std::wstring root = dir + L"\\locked";
    for (const wchar_t* sub : {L"", L"\\sub", L"\\sub\\deeper", L"\\other"})
        CreateDirectoryW((root + sub).c_str(), nullptr);
    Touch({L"locked\\sub\\held.txt", L"locked\\sub\\free.txt", L"locked\\sub\\deeper\\x.txt",
           L"locked\\other\\y.txt", L"locked\\top.txt"});
    SetFileAttributesW((root + L"\\top.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);  // attributes play no part
    LockedFile holder(root + L"\\sub\\held.txt");
    ASSERT_TRUE(holder.held);
    SetLastError(0xdeadbeef);
    EXPECT_NE(DeleteFolderTree(root.c_str()), 0);
    EXPECT_EQ(ListingOrder(root), Paths{L"sub"});
    EXPECT_EQ(ListingOrder(root + L"\\sub"), Paths{L"held.txt"});
    // Deepest first, each once, and only what stays (a subfolder removed now is not listed).
    EXPECT_EQ(PendingWith(L"\\zqtest\\fs\\"), Paths({root + L"\\sub\\held.txt", root + L"\\sub", root}));
}

// Wine 8 cannot make a junction or symbolic link from a Windows program, but it shows a Unix
// link to a folder as a directory with FILE_ATTRIBUTE_REPARSE_POINT; the CTest step
// filesystem_links_setup plants C:\zqtest\fslinks\target\{keep.txt, inner\deep.txt},
// tree\{plain.txt, dirlink, sub\dirlink} and toplink (links to target), used up by one run.
// (Wine's DeleteFileW on a Unix link to a file removes the target, so there is no file link.)
TEST(DeleteFolderTreeLinks, LinksAreRemovedAndTheirTargetsStay)
{
    const std::wstring base = L"C:\\zqtest\\fslinks";
    DWORD linkAttributes = GetFileAttributesW((base + L"\\tree\\dirlink").c_str());
    if (linkAttributes == INVALID_FILE_ATTRIBUTES || !PathExists(base + L"\\toplink"))
        GTEST_SKIP() << "link fixture missing (made by the CTest step filesystem_links_setup)";
    ASSERT_EQ(linkAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    ASSERT_TRUE(PathExists(base + L"\\tree\\dirlink\\inner\\deep.txt"));
    ASSERT_TRUE(PathExists(base + L"\\tree\\sub\\dirlink\\keep.txt"));
    const bool onWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const Paths treeOrder = ListingOrder(base + L"\\tree");
    DropPendingRenames(base);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree((base + L"\\tree").c_str()), 1);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree((base + L"\\toplink").c_str()), 1);

    // What the links point to is never entered.
    EXPECT_EQ(ListingOrder(base + L"\\target").size(), 2u);
    EXPECT_TRUE(PathExists(base + L"\\target\\keep.txt"));
    EXPECT_TRUE(PathExists(base + L"\\target\\inner\\deep.txt"));
    EXPECT_FALSE(PathExists(base + L"\\tree\\plain.txt"));
    Paths expected;
    if (onWine) {
        // Wine 8 deletes through the resolved Unix path, so RemoveDirectoryW on the link tries
        // the target (not empty: refused) and DeleteFileW refuses a directory. The links stay
        // and are scheduled, each before its folder; the target is still untouched.
        EXPECT_TRUE(PathExists(base + L"\\tree\\dirlink"));
        for (const std::wstring& name : treeOrder) {
            if (name == L"dirlink")
                expected.push_back(base + L"\\tree\\dirlink");
            else if (name == L"sub")
                expected.insert(expected.end(), {base + L"\\tree\\sub\\dirlink", base + L"\\tree\\sub"});
        }
        expected.insert(expected.end(), {base + L"\\tree", base + L"\\toplink"});
    } else {
        EXPECT_FALSE(PathExists(base + L"\\tree"));
        EXPECT_FALSE(PathExists(base + L"\\toplink"));
    }
    EXPECT_EQ(PendingWith(base), expected);
    DropPendingRenames(base);
    RemoveTree(base);
}

// Wine's GetProcessHandleCount always gives 0, so a leak shows instead in the handle values:
// the lowest free slots are handed out first, and a leaked handle keeps its slot taken.
std::vector<HANDLE> LowestFreeHandles()
{
    std::vector<HANDLE> handles;
    for (int i = 0; i < 64; ++i)
        handles.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (HANDLE h : handles)
        CloseHandle(h);
    std::sort(handles.begin(), handles.end());
    return handles;
}

TEST_F(FileSystem, RunProcessAndWaitGivesTheExitCodeAndRestoresTheDirectory)
{
    std::wstring locker = StandinPath(L"locker.exe"), standins = locker.substr(0, locker.rfind(L'\\'));
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    std::wstring home = CurrentDir();
    // The quoted form: its run folder starts with a quote, so the child runs where we are.
    const std::pair<std::wstring, DWORD> runs[] = {
        {locker + L" --exit 3", 3}, {locker + L" --exit 0", 0}, {locker + L" --exit 0xC0000135", 0xC0000135},
        {L"\"" + locker + L"\" --exit 7", 7}};
    for (const auto& run : runs) {
        EXPECT_EQ(Run(run.first), run.second) << Narrow(run.first);
        EXPECT_EQ(CurrentDir(), home);
    }
    // Process and thread handles closed. Wine reopens the current directory's handle in the
    // lowest free slot at each change, so the runs change it an even number of times.
    std::vector<HANDLE> before = LowestFreeHandles();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Run(locker + L" --exit 1"), 1u);
    EXPECT_EQ(LowestFreeHandles(), before);

    // The child runs in its program's folder, unless an argument's separator spoils that.
    const std::pair<std::wstring, std::wstring> cwdRuns[] = {{L"cwd.bin", standins}, {home + L"\\here.bin", home}};
    for (const auto& run : cwdRuns) {
        std::wstring out = run.second + L"\\" + run.first.substr(run.first.rfind(L'\\') + 1);
        DeleteFileW(out.c_str());
        EXPECT_EQ(Run(locker + L" --write-cwd " + run.first), 0u);
        EXPECT_EQ(CurrentDir(), home);
        std::string bytes = ReadFileBytes(out);
        DeleteFileW(out.c_str());
        std::wstring childDir(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        EXPECT_EQ(_wcsicmp(childDir.c_str(), run.second.c_str()), 0) << Narrow(childDir);
    }

    // A missing program: all ones, the start's error, our directory unchanged.
    for (const std::wstring& missing : {dir + L"\\nowhere\\gacutil.exe", dir + L"\\gacutil.exe"}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(Run(missing + L" /u Some.Assembly /silent"), 0xFFFFFFFFu);
        DWORD error = GetLastError();  // Wine says 2 for the missing folder too
        EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
        EXPECT_EQ(CurrentDir(), home);
    }
}
