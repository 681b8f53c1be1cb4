// The file-system, process and registry primitives on real files and keys of the scratch prefix.
#include <windows.h>
#include <stdlib.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "platform/Removal.h"
#include "platform/Search.h"
#include "platform/Process.h"
#include "platform/Copy.h"
#include "registry/RegistryKey.h"
#include "registry/RegistryPrimitives.h"
#include "tests/support/Support.h"

namespace {

using Paths = std::vector<std::wstring>;

// FindFilesByMask's result, sorted; the count is returned.
int Find(const std::wstring& dir, const wchar_t* mask, int depth, Paths* out)
{
    wchar_t** paths = nullptr;
    int count = FindFilesByMask(dir.c_str(), mask, &paths, depth);
    out->clear();
    EXPECT_EQ(paths == nullptr, count <= 0) << "a list exactly when something was found";
    for (int i = 0; i < count; ++i) {
        out->push_back(paths[i]);
        free(paths[i]);
    }
    free(paths);
    std::sort(out->begin(), out->end());
    return count;
}

class Primitives : public ::testing::Test {
protected:
    void SetUp() override { dir = MakeScratchDir(L"fs"); }
    void TearDown() override
    {
        DropPendingRenames(L"\\zqtest\\fs\\");
        RemoveTree(dir);
        RemoveScratchKey(HKEY_CURRENT_USER, kKey);
    }
    void Touch(std::initializer_list<const wchar_t*> names)
    {
        for (const wchar_t* name : names)
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
    std::wstring dir;
    const std::wstring kKey = L"Software\\zqtestreg";
};

}  // namespace

TEST(WildcardMatch, Rules)
{
    const struct {
        const wchar_t* name;
        const wchar_t* pattern;
        bool match;
    } cases[] = {
        // '?' takes exactly one character, never an empty stretch.
        {L"ab", L"a?", true}, {L"a", L"a?", false}, {L"abc", L"a?", false}, {L"", L"?", false},
        {L"a", L"*??", false}, {L"a.", L"*??", true},
        // '*' may be empty and backtracks; code units are compared exactly.
        {L"", L"*", true}, {L"", L"***", true}, {L"setup.inf.inf", L"*.inf", true},
        {L"a.b.c", L"*.b", false}, {L"abcabd", L"*abd", true}, {L"xaaab", L"x*a*b", true},
        {L"xaaac", L"x*a*b", false}, {L"readme.", L"*.", true}, {L"readme.txt", L"*.", false},
        {L"abxyz", L"*[x]?z", true}, {L"X.INF", L"*.inf", false}, {L"abc", L"ab", false},
        // Classes: members and inclusive ranges, one character each.
        {L"b.sys", L"[a-c]*", true}, {L"c", L"[a-c]", true}, {L"d.sys", L"[a-c]*", false},
        {L"q", L"[a-cq]", true}, {L"ab", L"[a-c]", false},
        // A '-' right after '[' or right before ']' fails unless the character already belongs;
        // no ']' before the end fails even for a member.
        {L"a", L"[-a]*", false}, {L"-x", L"[-a]*", true}, {L"a", L"[a-]", true},
        {L"b", L"[a-]", false}, {L"a", L"[abc", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.match) << Narrow(c.name) << " ~ " << Narrow(c.pattern);
}

// Star-heavy masks against a plain backtracking matcher, and in time proportional to mask times
// name length: fourteen stars against a sixty-character name took seconds once.
bool Backtracking(const wchar_t* name, const wchar_t* mask)
{
    if (*mask == L'*')
        return Backtracking(name, mask + 1) || (*name != 0 && Backtracking(name + 1, mask));
    if (*name == 0 || *mask == 0)
        return *name == 0 && *mask == 0;
    return (*mask == L'?' || *mask == *name) && Backtracking(name + 1, mask + 1);
}

TEST(WildcardMatch, AgreesWithBacktrackingAndStaysQuick)
{
    unsigned seed = 7;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 20000; ++round) {
        std::wstring name, mask;
        for (unsigned n = next() % 8; n > 0; --n)
            name += L"ab."[next() % 3];
        for (unsigned n = next() % 8; n > 0; --n)
            mask += L"ab.*?"[next() % 5];
        ASSERT_EQ(WildcardMatch(name.c_str(), mask.c_str()), Backtracking(name.c_str(), mask.c_str()))
            << Narrow(name) << " ~ " << Narrow(mask);
    }
    std::wstring name(60, L'a'), mask = L"a*a*a*a*a*a*a*a*a*a*a*a*a*a*b";
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < 1000; ++i)
        ASSERT_FALSE(WildcardMatch(name.c_str(), mask.c_str()));
    QueryPerformanceCounter(&end);
    EXPECT_LT(double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart), 0.2) << "1000 matches";
}

TEST_F(Primitives, FindFilesByMaskLowerCasesAndKeepsToItsDepth)
{
    Touch({L"readme", L"drv.inf", L"UPPER.INF", L"b.sys", L"x.inf.bak"});
    CreateDirectoryW((dir + L"\\sub.inf").c_str(), nullptr);
    Touch({L"sub.inf\\inner.inf"});
    const std::pair<const wchar_t*, Paths> cases[] = {
        {L"*.*", Full({L"readme", L"drv.inf", L"UPPER.INF", L"b.sys", L"x.inf.bak"})},
        {L"*.", Full({L"readme"})},  // a name without extension gets a dot
        {L"*.INF", Full({L"drv.inf", L"UPPER.INF"})}, {L"README.", Full({L"readme"})}, {L"readme", {}}};
    Paths found;
    for (const auto& c : cases) {
        EXPECT_EQ(Find(dir, c.first, 0, &found), static_cast<int>(c.second.size())) << Narrow(c.first);
        EXPECT_EQ(found, c.second) << Narrow(c.first);
    }
    EXPECT_EQ(Find(dir, L"*.inf", 1, &found), 3);
    EXPECT_EQ(found, Full({L"drv.inf", L"UPPER.INF", L"sub.inf\\inner.inf"}));
    EXPECT_EQ(Find(dir + L"\\absent", L"*.*", 0, &found), -1);
    EXPECT_EQ(Find(dir + L"\\readme", L"*.*", 0, &found), -1);
}

// What became of a removal: "removed", "scheduled", or the error it failed with.
std::string Became(const Result& result, bool atRestart)
{
    return !result.ok ? "failed " + std::to_string(result.error) : atRestart ? "scheduled" : "removed";
}
std::string FileBecame(const std::wstring& path)
{
    bool atRestart = false;
    Result removed = RemoveNowOrAtRestart(path.c_str(), &atRestart);
    return Became(removed, atRestart);
}
std::string TreeBecame(const std::wstring& path)
{
    bool atRestart = false;
    Result removed = DeleteFolderTree(path.c_str(), EnterTest(), &atRestart);
    return Became(removed, atRestart);
}

TEST_F(Primitives, RemovalsScheduleOnlyWhatIsInUse)
{
    EXPECT_EQ(TreeBecame(dir + L"\\absent"), "failed 2");
    EXPECT_EQ(FileBecame(dir + L"\\absent"), "removed");  // already gone

    std::wstring root = dir + L"\\locked";
    for (const wchar_t* sub : {L"", L"\\sub", L"\\sub\\deeper", L"\\other"})
        CreateDirectoryW((root + sub).c_str(), nullptr);
    Touch({L"locked\\sub\\held.txt", L"locked\\sub\\deeper\\x.txt", L"locked\\other\\y.txt", L"locked\\top.txt"});
    SetFileAttributesW((root + L"\\top.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    {
        LockedFile holder(root + L"\\sub\\held.txt");
        ASSERT_TRUE(holder.held);
        EXPECT_EQ(FileBecame(root + L"\\sub\\held.txt"), "scheduled");
        DropPendingRenames(L"\\zqtest\\fs\\");
        EXPECT_EQ(TreeBecame(root), "scheduled");
    }
    EXPECT_FALSE(PathExists(root + L"\\other") || PathExists(root + L"\\top.txt"));
    // Deepest first, each once, and only what stays.
    EXPECT_EQ(PendingWith(L"\\zqtest\\fs\\"), Paths({root + L"\\sub\\held.txt", root + L"\\sub", root}));

    // No fixed buffer: a tree nested beyond 260 characters is removed whole.
    std::wstring deep = dir + L"\\deep";
    CreateDirectoryW(deep.c_str(), nullptr);
    std::wstring level = deep + L"\\" + std::wstring(120, L'a');
    ASSERT_TRUE(CreateDirectoryW(level.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((level + L"\\" + std::wstring(120, L'b')).c_str(), nullptr));
    EXPECT_EQ(TreeBecame(deep), "removed");
    EXPECT_FALSE(PathExists(deep));
}

// Wine cannot make a junction from a Windows program but shows a Unix link to a folder as a
// directory reparse point: the CTest step primitives_links_setup plants C:\zqtest\fslinks with
// target\keep.txt, tree\dirlink and toplink (links to target).
TEST(FolderLinks, LinksAreNeverFollowed)
{
    const std::wstring base = L"C:\\zqtest\\fslinks";
    DWORD link = GetFileAttributesW((base + L"\\tree\\dirlink").c_str());
    if (link == INVALID_FILE_ATTRIBUTES || !(link & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "link fixture missing (made by the CTest step primitives_links_setup)";
    EXPECT_TRUE(DeleteFolderTree((base + L"\\tree").c_str()).ok);
    EXPECT_TRUE(DeleteFolderTree((base + L"\\toplink").c_str()).ok);
    EXPECT_TRUE(PathExists(base + L"\\target\\keep.txt"));
    EXPECT_TRUE(PathExists(base + L"\\target\\inner\\deep.txt"));
    EXPECT_FALSE(PathExists(base + L"\\tree\\plain.txt"));
    DropPendingRenames(base);
}

TEST_F(Primitives, RunProcessAndWaitGivesTheExitCode)
{
    const std::pair<std::wstring, DWORD> runs[] = {
        {L"\"" + StandinPath(L"locker.exe") + L"\" --exit 3", 3},
        {StandinPath(L"locker.exe") + L" --exit 0xC0000135", 0xC0000135},
        {L"\"" + dir + L"\\missing.exe\" /u x", kNoExitCode}};
    for (const auto& run : runs) {
        std::wstring line = run.first;
        DWORD exitCode = 0;
        Result ran = RunProcessAndWait(&line[0], nullptr, ToolLimits(), &exitCode);
        EXPECT_EQ(exitCode, run.second) << Narrow(run.first);
        EXPECT_EQ(ran.error, run.second == kNoExitCode ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : 0u);
    }
    // The child runs in the folder it is given.
    std::wstring line = L"\"" + StandinPath(L"locker.exe") + L"\" --write-cwd cwd.bin";
    DWORD exitCode = kNoExitCode;
    EXPECT_TRUE(RunProcessAndWait(&line[0], dir.c_str(), ToolLimits(), &exitCode).ok && exitCode == 0);
    std::string bytes = ReadFileBytes(dir + L"\\cwd.bin");
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2), dir);
}

TEST_F(Primitives, KeyTreesAndNames)
{
    const HKEY CU = HKEY_CURRENT_USER;
    for (const wchar_t* level : {L"\\tree", L"\\tree\\one\\two\\three", L"\\tree\\side", L"\\list\\Beta\\x",
                                 L"\\list\\alpha"})
        MakeKey(CU, kKey + level, {{L"", L"default"}, {L"Named", L"x"}});
    MakeKey(CU, kKey + L"\\list\\" + std::wstring(255, L'g'));  // the longest name allowed
    EXPECT_TRUE(DeleteKeyTree(CU, (kKey + L"\\tree").c_str()).ok);
    EXPECT_FALSE(KeyExists(CU, kKey + L"\\tree"));

    // Subkey names whole, the longest the registry allows among them, in enumeration order.
    RegKey list;
    StringList names;
    ASSERT_TRUE(OpenKey(CU, (kKey + L"\\list").c_str(), KEY_READ, &list).ok);
    ASSERT_TRUE(SubkeyNames(list.Get(), &names).ok);
    std::wstring joined;
    for (int i = 0; i < names.count; ++i)
        joined += names.At(i)->Get() + std::wstring(L"|");
    EXPECT_EQ(joined, L"alpha|Beta|" + std::wstring(255, L'g') + L"|");
    list.Close();

    // Keys are reached through the one above them: a chain far beyond 1024 characters goes whole.
    std::wstring chain = kKey + L"\\long";
    for (int level = 1; level <= 5; ++level)
        chain += L"\\" + std::wstring(249, static_cast<wchar_t>(L'a' + level));
    MakeKey(CU, chain, {{L"level", L"x"}});
    EXPECT_TRUE(DeleteKeyTree(CU, (kKey + L"\\long").c_str()).ok);
    EXPECT_FALSE(KeyExists(CU, kKey + L"\\long"));
    EXPECT_TRUE(DeleteKeyTree(CU, (kKey + L"\\list").c_str()).ok);  // the 255-character name too

    // The root is never emptied; a key directly below it is emptied and kept.
    MakeKey(CU, L"zqtestdirect\\sub", {{L"v", L"1"}});
    MakeKey(CU, L"zqtestdirect", {{std::wstring(300, L'v'), L"1"}});  // value names beyond 255
    for (const wchar_t* path : {L"", L"\\\\"})
        EXPECT_EQ(DeleteKeyTree(CU, path).error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(DeleteKeyTree(CU, L"zqtestdirect").ok);
    EXPECT_TRUE(KeyExists(CU, L"zqtestdirect"));
    EXPECT_FALSE(KeyExists(CU, L"zqtestdirect\\sub") || ValueExists(CU, L"zqtestdirect", std::wstring(300, L'v')));
    RemoveScratchKey(CU, L"zqtestdirect");

    const std::pair<const wchar_t*, HKEY> roots[] = {
        {L"hkey_local_machine", HKEY_LOCAL_MACHINE}, {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {L"hklm", nullptr}, {L"HKEY_PERFORMANCE_DATA", nullptr}, {L" HKEY_USERS", nullptr},
        {L"hkey_local_mach\x0131ne", nullptr}};  // only ASCII letters are upper-cased
    for (const auto& c : roots) {
        std::wstring text = c.first;
        EXPECT_EQ(RootKeyFromName(&text[0]), c.second) << Narrow(c.first);
    }
}

// A tree nested beyond 260 characters is listed, copied and removed now, through the "\\?\"
// form: no path is ever used cut, and nothing is left for a restart.
TEST_F(Primitives, TreesBeyondTwoHundredSixtyCharacters)
{
    std::wstring deep = dir + L"\\deep", level = deep, extended = L"\\\\?\\" + deep;
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    for (int i = 0; level.size() < 1200; ++i) {
        level += L"\\" + std::wstring(90, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + level).c_str(), nullptr)) << level.size();
        WriteFileBytes(L"\\\\?\\" + level + L"\\file.zqlong", "x");
    }
    Paths found;
    EXPECT_EQ(Find(level.substr(0, level.rfind(L'\\')), L"*.zqlong", 0, &found), 1);
    EXPECT_EQ(found, Paths{level.substr(0, level.rfind(L'\\')) + L"\\file.zqlong"});
    ASSERT_TRUE(CopyTree(deep.c_str(), (dir + L"\\copy").c_str()).ok);
    EXPECT_TRUE(PathExists(L"\\\\?\\" + dir + L"\\copy" + level.substr(deep.size()) + L"\\file.zqlong"));
    EXPECT_EQ(FileBecame(level + L"\\file.zqlong"), "removed");
    EXPECT_EQ(TreeBecame(deep), "removed");
    EXPECT_EQ(TreeBecame(dir + L"\\copy"), "removed");
    EXPECT_FALSE(PathExists(extended));
    EXPECT_TRUE(PendingWith(L"\\zqtest\\fs\\").empty());
    // The form every primitive takes its paths in (Wine takes long plain paths as well).
    const std::pair<const wchar_t*, std::wstring> forms[] = {
        {L"C:\\x", L"\\\\?\\C:\\x"}, {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"}, {L"\\\\.\\C:\\x", L"\\\\.\\C:\\x"}, {L"relative\\x", L"relative\\x"}};
    for (const auto& form : forms) {
        zqWString text;
        ASSERT_TRUE(ExtendedPath(form.first, &text));
        EXPECT_EQ(std::wstring(text.Get()), form.second) << Narrow(form.first);
    }
}
