// Mask listing, wildcard matching, folder-tree deletion and process starts, on real files in
// C:\zqtest\fs of the scratch prefix.
#include <windows.h>

#include <errno.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

void Touch(const std::wstring& path)
{
    WriteFileBytes(path, "x");
    ASSERT_TRUE(PathExists(path)) << Narrow(path);
}

void MakeDir(const std::wstring& path)
{
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << Narrow(path);
}

// Runs FindFilesByMask and hands back the paths, freeing what it allocated.
int Find(const std::wstring& dir, const wchar_t* mask, int depth, std::vector<std::wstring>* out)
{
    wchar_t** paths = reinterpret_cast<wchar_t**>(0x1);  // must be overwritten
    int count = FindFilesByMask(dir.c_str(), mask, &paths, depth);
    out->clear();
    if (count > 0) {
        EXPECT_NE(paths, nullptr);
        for (int i = 0; i < count; ++i) {
            out->push_back(paths[i]);
            free(paths[i]);
        }
        free(paths);
    } else {
        EXPECT_EQ(paths, nullptr) << "no list expected for count " << count;
    }
    return count;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> items)
{
    std::sort(items.begin(), items.end());
    return items;
}

// Directory entries in the order the file system lists them, without "." and "..".
std::vector<std::wstring> ListingOrder(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// PendingFileRenameOperations as (source, target) pairs; an empty target means delete.
std::vector<std::pair<std::wstring, std::wstring>> PendingOperations()
{
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                      0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return pairs;
    DWORD size = 0;
    DWORD type = 0;
    std::vector<wchar_t> data;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        data.resize(size / sizeof(wchar_t) + 2, 0);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &size);
    }
    RegCloseKey(key);
    size_t count = size / sizeof(wchar_t);
    size_t at = 0;
    while (at < count && data[at] != 0) {  // an empty source ends the list
        std::wstring source = data.data() + at;
        at += source.size() + 1;
        std::wstring target = at < count ? data.data() + at : L"";
        at += target.size() + 1;
        pairs.emplace_back(source, target);
    }
    return pairs;
}

std::wstring StandinsDir()
{
    std::wstring dir = TestProgramDir();  // <build>\tests
    return dir.substr(0, dir.rfind(L'\\')) + L"\\standins";
}

std::wstring CurrentDir()
{
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    return dir;
}

// locker.exe holding a file open with share mode 0 until Release().
struct Locker {
    HANDLE ready = nullptr;
    HANDLE release = nullptr;
    PROCESS_INFORMATION process = {};

    bool Start(const std::wstring& file)
    {
        std::wstring suffix = std::to_wstring(GetCurrentProcessId());
        std::wstring readyName = L"zqtest_fs_ready_" + suffix;
        std::wstring releaseName = L"zqtest_fs_release_" + suffix;
        ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
        release = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
        std::wstring line = L"\"" + StandinsDir() + L"\\locker.exe\" \"" + file + L"\" " +
                            readyName + L" " + releaseName;
        std::vector<wchar_t> buffer(line.begin(), line.end());
        buffer.push_back(0);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &process))
            return false;
        HANDLE waits[2] = {ready, process.hProcess};
        return WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    }

    DWORD Release()
    {
        DWORD code = 0xFFFFFFFF;
        if (release != nullptr)
            SetEvent(release);
        if (process.hProcess != nullptr &&
            WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        return code;
    }

    ~Locker()
    {
        Release();
        for (HANDLE h : {process.hThread, process.hProcess, ready, release})
            if (h != nullptr)
                CloseHandle(h);
    }
};

}  // namespace

TEST(WildcardMatch, QuestionMarkTakesExactlyOneCharacter)
{
    EXPECT_TRUE(WildcardMatch(L"ab", L"a?"));
    EXPECT_FALSE(WildcardMatch(L"a", L"a?"));
    EXPECT_FALSE(WildcardMatch(L"abc", L"a?"));
    EXPECT_FALSE(WildcardMatch(L"", L"?"));
    EXPECT_TRUE(WildcardMatch(L"a.b", L"???"));
    EXPECT_FALSE(WildcardMatch(L"a", L"*??"));  // '*' may be empty, the two '?' may not
    EXPECT_TRUE(WildcardMatch(L"a.", L"*??"));
    EXPECT_TRUE(WildcardMatch(L"a.", L"*?"));
}

TEST(WildcardMatch, StarBacktracksAndComparesCodeUnitsExactly)
{
    EXPECT_TRUE(WildcardMatch(L"", L"*"));
    EXPECT_TRUE(WildcardMatch(L"", L"***"));
    EXPECT_TRUE(WildcardMatch(L"anything.at.all", L"*"));
    EXPECT_TRUE(WildcardMatch(L"setup.inf.inf", L"*.inf"));
    EXPECT_TRUE(WildcardMatch(L"a.b.c", L"*.c"));
    EXPECT_FALSE(WildcardMatch(L"a.b.c", L"*.b"));
    EXPECT_TRUE(WildcardMatch(L"abcabd", L"*abd"));  // first "ab" is a false start
    EXPECT_TRUE(WildcardMatch(L"xaaab", L"x*a*b"));
    EXPECT_FALSE(WildcardMatch(L"xaaac", L"x*a*b"));
    EXPECT_TRUE(WildcardMatch(L"oem12.inf", L"oem*.inf"));
    EXPECT_FALSE(WildcardMatch(L"oem12.pnf", L"oem*.inf"));
    EXPECT_TRUE(WildcardMatch(L"readme.", L"*."));
    EXPECT_FALSE(WildcardMatch(L"readme.txt", L"*."));
    EXPECT_TRUE(WildcardMatch(L"abxyz", L"*[x]?z"));
    EXPECT_TRUE(WildcardMatch(L"abxyz", L"*?z"));
    EXPECT_FALSE(WildcardMatch(L"X.INF", L"*.inf"));  // callers lower-case both sides
    EXPECT_FALSE(WildcardMatch(L"abc", L"ab"));       // a name longer than the pattern
}

TEST(WildcardMatch, ClassesRangesAndTheDashRules)
{
    EXPECT_TRUE(WildcardMatch(L"b.sys", L"[a-c]*"));
    EXPECT_TRUE(WildcardMatch(L"a", L"[a-c]"));
    EXPECT_TRUE(WildcardMatch(L"c", L"[a-c]"));
    EXPECT_FALSE(WildcardMatch(L"d.sys", L"[a-c]*"));
    EXPECT_TRUE(WildcardMatch(L"x1", L"[xyz]1"));
    EXPECT_FALSE(WildcardMatch(L"w1", L"[xyz]1"));
    EXPECT_TRUE(WildcardMatch(L"q", L"[a-cq]"));
    EXPECT_FALSE(WildcardMatch(L"ab", L"[a-c]"));  // one class takes one character

    // A '-' right after '[' or right before ']' fails the match unless the character
    // already belongs to the class.
    EXPECT_FALSE(WildcardMatch(L"a", L"[-a]*"));
    EXPECT_FALSE(WildcardMatch(L"abc", L"[-a]*"));
    EXPECT_TRUE(WildcardMatch(L"-x", L"[-a]*"));
    EXPECT_TRUE(WildcardMatch(L"a", L"[a-]"));
    EXPECT_FALSE(WildcardMatch(L"b", L"[a-]"));
    EXPECT_TRUE(WildcardMatch(L"-", L"[a-]"));  // listed, so it belongs

    // No ']' before the end: a failure even for a member.
    EXPECT_FALSE(WildcardMatch(L"a", L"[a"));
    EXPECT_FALSE(WildcardMatch(L"a", L"[abc"));
}

class FindFilesByMaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeScratchDir(L"fs");
        dir = MakeScratchDir(L"fs\\mask");
        for (const wchar_t* name : {L"readme", L"setup.txt", L"drv.inf", L"UPPER.INF", L"b.sys",
                                    L"d.sys", L"-dash", L"x.inf.bak"})
            Touch(dir + L"\\" + name);
        MakeDir(dir + L"\\sub.inf");
        Touch(dir + L"\\sub.inf\\inner.inf");
        Touch(dir + L"\\sub.inf\\inner.txt");
    }
    void TearDown() override { RemoveTree(L"C:\\zqtest\\fs"); }

    std::vector<std::wstring> Full(std::initializer_list<const wchar_t*> names)
    {
        std::vector<std::wstring> paths;
        for (const wchar_t* name : names)
            paths.push_back(dir + L"\\" + name);
        return Sorted(paths);
    }

    std::wstring dir;
};

TEST_F(FindFilesByMaskTest, MasksMatchLowerCasedNamesAndExtensionlessNames)
{
    std::vector<std::wstring> found;
    EXPECT_EQ(Find(dir, L"*.*", 0, &found), 8);
    EXPECT_EQ(Sorted(found), Full({L"readme", L"setup.txt", L"drv.inf", L"UPPER.INF", L"b.sys",
                                   L"d.sys", L"-dash", L"x.inf.bak"}));

    EXPECT_EQ(Find(dir, L"*.", 0, &found), 2);
    EXPECT_EQ(Sorted(found), Full({L"readme", L"-dash"}));

    // Both sides lower-cased; the returned paths keep the names' own case.
    EXPECT_EQ(Find(dir, L"*.INF", 0, &found), 2);
    EXPECT_EQ(Sorted(found), Full({L"drv.inf", L"UPPER.INF"}));

    EXPECT_EQ(Find(dir, L"[a-c]*", 0, &found), 1);
    EXPECT_EQ(found, Full({L"b.sys"}));
    EXPECT_EQ(Find(dir, L"[-a]*", 0, &found), 1);
    EXPECT_EQ(found, Full({L"-dash"}));

    // A mask without wildcards matches by equality (the name with its added dot).
    EXPECT_EQ(Find(dir, L"README.", 0, &found), 1);
    EXPECT_EQ(Find(dir, L"readme", 0, &found), 0);

    EXPECT_EQ(Find(dir, L"?", 0, &found), 0);
    EXPECT_EQ(Find(dir, L"nothing*", 0, &found), 0);
}

TEST_F(FindFilesByMaskTest, DepthOneplacesSubfolderMatchesWhereTheSubfolderIsListed)
{
    std::vector<std::wstring> found;
    // Depth 0: the folder "sub.inf" is neither returned nor searched.
    EXPECT_EQ(Find(dir, L"*.inf", 0, &found), 2);
    EXPECT_EQ(Sorted(found), Full({L"drv.inf", L"UPPER.INF"}));

    std::vector<std::wstring> expected;
    for (const std::wstring& name : ListingOrder(dir)) {
        if (name == L"sub.inf")
            expected.push_back(dir + L"\\sub.inf\\inner.inf");
        else if (name == L"drv.inf" || name == L"UPPER.INF")
            expected.push_back(dir + L"\\" + name);
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(Find(dir, L"*.inf", 1, &found), 3);
    EXPECT_EQ(found, expected);

    // A directory given with a trailing backslash gives no doubled separator.
    EXPECT_EQ(Find(dir + L"\\", L"*.sys", 0, &found), 2);
    EXPECT_EQ(Sorted(found), Full({L"b.sys", L"d.sys"}));
}

TEST_F(FindFilesByMaskTest, ManyMatchesGrowTheArray)
{
    std::wstring many = dir + L"\\many";
    MakeDir(many);
    std::vector<std::wstring> expected;
    for (int i = 0; i < 75; ++i) {
        std::wstring path = many + L"\\f" + std::to_wstring(i) + L".dat";
        Touch(path);
        expected.push_back(path);
    }
    std::vector<std::wstring> found;
    EXPECT_EQ(Find(many, L"*.dat", 0, &found), 75);
    EXPECT_EQ(Sorted(found), Sorted(expected));
    EXPECT_EQ(Find(dir, L"*.dat", 1, &found), 75);
}

TEST_F(FindFilesByMaskTest, MissingFolderOrFileGivesMinusOneAndNoList)
{
    std::vector<std::wstring> found;
    EXPECT_EQ(Find(dir + L"\\absent", L"*.*", 0, &found), -1);
    EXPECT_EQ(Find(dir + L"\\setup.txt", L"*.*", 0, &found), -1);
    EXPECT_EQ(Find(L"C:\\zqtest\\fs\\no\\such\\path", L"*.*", 3, &found), -1);
    EXPECT_TRUE(found.empty());
}

class DeleteFolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override { MakeScratchDir(L"fs"); }
    void TearDown() override { RemoveTree(L"C:\\zqtest\\fs"); }
};

TEST_F(DeleteFolderTreeTest, RemovesADeepTree)
{
    std::wstring root = MakeScratchDir(L"fs\\deep");
    std::wstring level = root;
    for (int i = 0; i < 6; ++i) {
        Touch(level + L"\\file" + std::to_wstring(i) + L".txt");
        Touch(level + L"\\noext");
        level += L"\\level" + std::to_wstring(i);
        MakeDir(level);
    }
    MakeDir(root + L"\\empty");
    Touch(root + L"\\hidden.dat");
    SetFileAttributesW((root + L"\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
    size_t pendingBefore = PendingOperations().size();

    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree(root.c_str()), 1);
    EXPECT_FALSE(PathExists(root));
    EXPECT_TRUE(PathExists(L"C:\\zqtest\\fs"));
    // Nothing was left over, so nothing was scheduled.
    EXPECT_EQ(PendingOperations().size(), pendingBefore);
}

TEST_F(DeleteFolderTreeTest, MissingFolderIsNeitherRemovedNorScheduled)
{
    size_t pendingBefore = PendingOperations().size();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree(L"C:\\zqtest\\fs\\absent"), 0);
    DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    EXPECT_EQ(PendingOperations().size(), pendingBefore);
}

TEST_F(DeleteFolderTreeTest, FileInUseIsScheduledWithItsFoldersAndTheRestGoesNow)
{
    std::wstring root = MakeScratchDir(L"fs\\locked");
    MakeDir(root + L"\\sub");
    MakeDir(root + L"\\sub\\deeper");
    MakeDir(root + L"\\other");
    Touch(root + L"\\sub\\held.txt");
    Touch(root + L"\\sub\\free.txt");
    Touch(root + L"\\sub\\deeper\\x.txt");
    Touch(root + L"\\other\\y.txt");
    Touch(root + L"\\top.txt");

    Locker locker;
    ASSERT_TRUE(locker.Start(root + L"\\sub\\held.txt"));
    ASSERT_FALSE(DeleteFileW((root + L"\\sub\\held.txt").c_str()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    SetLastError(0xdeadbeef);
    EXPECT_NE(DeleteFolderTree(root.c_str()), 0);

    EXPECT_TRUE(PathExists(root + L"\\sub\\held.txt"));
    EXPECT_EQ(ListingOrder(root), std::vector<std::wstring>{L"sub"});
    EXPECT_EQ(ListingOrder(root + L"\\sub"), std::vector<std::wstring>{L"held.txt"});

    // Deepest first, each once, and only what stays: the removed subfolders are not listed.
    std::vector<std::pair<std::wstring, std::wstring>> pending = PendingOperations();
    std::wstring held = L"\\??\\" + root + L"\\sub\\held.txt";
    auto last = std::find_if(pending.rbegin(), pending.rend(),
                             [&](const auto& op) { return op.first == held; });
    ASSERT_NE(last, pending.rend()) << "held.txt was not scheduled";
    std::vector<std::pair<std::wstring, std::wstring>> tail(last.base() - 1, pending.end());
    std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {held, L""}, {L"\\??\\" + root + L"\\sub", L""}, {L"\\??\\" + root, L""}};
    EXPECT_EQ(tail, expected);

    EXPECT_EQ(locker.Release(), 0u);
}

// Wine 8 cannot make a junction or a symbolic link from a Windows program: CreateSymbolicLinkW
// returns TRUE and creates nothing, FSCTL_SET_REPARSE_POINT fails with ERROR_NOT_SUPPORTED.
// It does show a Unix symbolic link to a folder as a directory with
// FILE_ATTRIBUTE_REPARSE_POINT, so the CTest step filesystem_links_setup plants such links in
// the fresh prefix:
//   C:\zqtest\fslinks\target\{keep.txt, inner\deep.txt}
//   C:\zqtest\fslinks\tree\{plain.txt, dirlink -> target, sub\dirlink -> target}
//   C:\zqtest\fslinks\toplink -> target
// They are used up by one run; the test skips when they are absent (a run outside CTest).
// A Unix link to a file looks like a plain file under Wine, and Wine's DeleteFileW on it
// removes the target, so there is no file link here.
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
    const bool onWine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const std::vector<std::wstring> treeOrder = ListingOrder(base + L"\\tree");
    size_t pendingBefore = PendingOperations().size();

    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree((base + L"\\tree").c_str()), 1);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFolderTree((base + L"\\toplink").c_str()), 1);

    // What the links point to is never entered.
    EXPECT_EQ(ListingOrder(base + L"\\target").size(), 2u);
    EXPECT_TRUE(PathExists(base + L"\\target\\keep.txt"));
    EXPECT_TRUE(PathExists(base + L"\\target\\inner\\deep.txt"));
    EXPECT_FALSE(PathExists(base + L"\\tree\\plain.txt"));

    std::vector<std::pair<std::wstring, std::wstring>> pending = PendingOperations();
    if (onWine) {
        // Wine 8 deletes through the resolved Unix path, so RemoveDirectoryW on the link tries
        // the target (not empty: refused) and DeleteFileW refuses a directory. The links stay
        // and are scheduled, each before its folder; the target is still untouched.
        EXPECT_TRUE(PathExists(base + L"\\tree\\dirlink"));
        std::vector<std::pair<std::wstring, std::wstring>> expected;
        for (const std::wstring& name : treeOrder) {
            if (name == L"dirlink") {
                expected.push_back({L"\\??\\" + base + L"\\tree\\dirlink", L""});
            } else if (name == L"sub") {
                expected.push_back({L"\\??\\" + base + L"\\tree\\sub\\dirlink", L""});
                expected.push_back({L"\\??\\" + base + L"\\tree\\sub", L""});
            }
        }
        expected.push_back({L"\\??\\" + base + L"\\tree", L""});
        expected.push_back({L"\\??\\" + base + L"\\toplink", L""});
        ASSERT_GE(pending.size(), pendingBefore);
        std::vector<std::pair<std::wstring, std::wstring>> tail(pending.begin() + pendingBefore,
                                                                pending.end());
        EXPECT_EQ(tail, expected);
    } else {
        EXPECT_FALSE(PathExists(base + L"\\tree"));
        EXPECT_FALSE(PathExists(base + L"\\toplink"));
        EXPECT_EQ(pending.size(), pendingBefore);
    }
    RemoveTree(base);
}

class RunProcessAndWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeScratchDir(L"fs");
        home = MakeScratchDir(L"fs\\home");
        ASSERT_TRUE(SetCurrentDirectoryW(home.c_str()));
        home = CurrentDir();
        locker = StandinsDir() + L"\\locker.exe";
        ASSERT_TRUE(PathExists(locker));
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(saved.c_str());
        RemoveTree(L"C:\\zqtest\\fs");
    }

    DWORD Run(const std::wstring& line)
    {
        std::vector<wchar_t> buffer(line.begin(), line.end());
        buffer.resize(260, 0);
        return RunProcessAndWait(buffer.data());
    }

    std::wstring saved = CurrentDir();
    std::wstring home;
    std::wstring locker;
};

TEST_F(RunProcessAndWaitTest, ReturnsTheChildsOwnExitCode)
{
    EXPECT_EQ(Run(locker + L" --exit 3"), 3u);
    EXPECT_EQ(CurrentDir(), home);
    EXPECT_EQ(Run(locker + L" --exit 0"), 0u);
    EXPECT_EQ(Run(locker + L" --exit 0xC0000135"), 0xC0000135u);
    EXPECT_EQ(CurrentDir(), home);
    // The quoted form: the run folder taken from it starts with a quote, so the child runs
    // where we are.
    EXPECT_EQ(Run(L"\"" + locker + L"\" --exit 7"), 7u);
    EXPECT_EQ(CurrentDir(), home);
}

TEST_F(RunProcessAndWaitTest, ChildRunsInItsProgramsFolderAndOursIsRestored)
{
    std::wstring written = StandinsDir() + L"\\cwd.bin";
    DeleteFileW(written.c_str());
    EXPECT_EQ(Run(locker + L" --write-cwd cwd.bin"), 0u);
    EXPECT_EQ(CurrentDir(), home);
    std::string bytes = ReadFileBytes(written);
    DeleteFileW(written.c_str());
    std::wstring childDir(reinterpret_cast<const wchar_t*>(bytes.data()),
                          bytes.size() / sizeof(wchar_t));
    EXPECT_EQ(_wcsicmp(childDir.c_str(), StandinsDir().c_str()), 0) << Narrow(childDir);

    // A separator in an argument makes the run folder invalid: the child runs where we are.
    std::wstring here = home + L"\\here.bin";
    EXPECT_EQ(Run(locker + L" --write-cwd " + here), 0u);
    bytes = ReadFileBytes(here);
    childDir.assign(reinterpret_cast<const wchar_t*>(bytes.data()),
                    bytes.size() / sizeof(wchar_t));
    EXPECT_EQ(_wcsicmp(childDir.c_str(), home.c_str()), 0) << Narrow(childDir);
    EXPECT_EQ(CurrentDir(), home);
}

TEST_F(RunProcessAndWaitTest, MissingProgramGivesAllOnesAndItsError)
{
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Run(L"C:\\zqtest\\fs\\nowhere\\gacutil.exe /u Some.Assembly /silent"),
              0xFFFFFFFFu);
    DWORD error = GetLastError();  // Wine says 2 for the missing folder too
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    EXPECT_EQ(CurrentDir(), home);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(Run(L"C:\\zqtest\\fs\\home\\gacutil.exe /u Some.Assembly /silent"), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CurrentDir(), home);
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

TEST_F(RunProcessAndWaitTest, ProcessAndThreadHandlesAreClosed)
{
    std::vector<HANDLE> before = LowestFreeHandles();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Run(locker + L" --exit 1"), 1u);
    EXPECT_EQ(LowestFreeHandles(), before);
}

TEST_F(DeleteFolderTreeTest, PathsThatDoNotFitAreNotCut)
{
    std::wstring root = MakeScratchDir(L"fs\\long");
    std::wstring sub = root + L"\\" + std::wstring(259 - root.size() - 1, L'n');
    ASSERT_EQ(sub.size(), 259u);
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr)) << GetLastError();
    EXPECT_NE(DeleteFolderTree(root.c_str()), 0);
}
