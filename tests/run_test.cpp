// The cleaning run in-process, from the status block and the prepared copy to the closing line;
// the search directories and folders it expands before the phases.
#include <windows.h>

#include <gtest/gtest.h>

#include "run/CleaningRun.h"
#include "shared/StopSignal.h"
#include "platform/SystemPaths.h"
#include "phases/TargetExpansion.h"
#include "script/CleanScript.h"
#include "shared/StatusBlock.h"
#include "tests/support/Support.h"

namespace {

std::vector<std::wstring> Texts(const zqList<zqWString>& list)
{
    std::vector<std::wstring> texts;
    for (int i = 0; i < list.count; ++i)
        texts.push_back(list.At(i)->Get());
    return texts;
}

std::wstring Expanded(const wchar_t* text)
{
    wchar_t buffer[1024];
    ExpandEnvironmentStringsW(text, buffer, 1024);
    return buffer;
}

class CleaningRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        root = MakeScratchDir(L"run");
        for (const std::wstring& folder : {scriptDir, work, keep})
            CreateDirectoryW(folder.c_str(), nullptr);
    }
    void TearDown() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        RemoveTree(root);
    }
    ScopedDllOverride builtin{L"difxapi", L"builtin"};  // Wine's own stub: an empty package phase
    std::wstring root, scriptDir = L"C:\\zqtest\\run\\script", work = L"C:\\zqtest\\run\\work dir",
                       keep = L"C:\\zqtest\\run\\keep";
};

}  // namespace

TEST_F(CleaningRun, RefusedWhenStartedFromAFolderItDeletes)
{
    RunOutcome run = RunWithScript(scriptDir, "[folders]\n" + Narrow(keep) + "\n" + Narrow(work) + "\n", work, "refused");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines, Lines{S("Ininame: " + Narrow(scriptDir) + "\\zqclean.ini")});
    EXPECT_TRUE(PathExists(work) && PathExists(keep));

    // Another letter case is another text: no refusal, and the folder goes.
    std::wstring other = L"C:\\zqtest\\run\\WORK DIR";
    run = RunWithScript(scriptDir, "[folders]\n" + Narrow(other) + "\n", work, "notrefused");
    EXPECT_EQ(run.status, -1);  // a completed run writes no status
    EXPECT_EQ(run.lines, RunLog(scriptDir, {}, {}, {Narrow(other) + "...OK"}));
    EXPECT_FALSE(PathExists(work));
}

TEST_F(CleaningRun, AStopBeforeTheListsEndsItAtOnce)
{
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    std::wstring scriptPath = scriptDir + L"\\zqclean.ini";
    WriteFileBytes(scriptPath + L".srvc", "[folders]\n" + Narrow(keep) + "\n");
    std::wstring log = FreshRunLog("stopfirst");
    KernelHandle block = CreateStatusBlock();
    FillStatusBlock(block.Get(), scriptPath.c_str(), work.c_str());
    RunCleaning();
    EXPECT_EQ(LogLines(log), Lines{S("Ininame: " + Narrow(scriptPath))});
    EXPECT_TRUE(PathExists(keep));
}

// "<script>.srvc" must fit 259 characters: a longer name is not cut to another file's name but
// taken as no script at all. Without a status block, or without a working directory in it, the
// service host cleans nothing: the tool and the library would come from the drive root.
TEST_F(CleaningRun, NoScriptWithoutRoomForItsCopyNoRunWithoutBlockOrWorkingDirectory)
{
    for (size_t length : {254u, 255u}) {
        std::wstring dir = root + L"\\" + std::wstring(length - root.size() - 13, L's');
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        RunOutcome run = RunWithScript(dir, "[folders]\n" + Narrow(keep) + "\n", work, "longpath");
        EXPECT_EQ(run.lines, RunLog(dir, {}, {}, length == 254 ? Lines{Narrow(keep) + "...OK"} : Lines{}));
        CreateDirectoryW(keep.c_str(), nullptr);
    }
    std::wstring log = FreshRunLog("noblock");
    RunCleaning();
    EXPECT_EQ(LogLines(log), Lines{S("zqclean error(760): 2")});
    RunOutcome run = RunWithScript(scriptDir, "[folders]\n" + Narrow(keep) + "\n", L"", "noworkdir");
    EXPECT_EQ(run.lines, Lines{S("zqclean error(761)")});
    EXPECT_TRUE(PathExists(keep));
}

#ifdef _WIN64
TEST(TargetExpansion, TwinPathByPrefixOnly)
{
    ScopedEnv path(L"PATH", L"C:\\zqtest");
    SystemPaths paths;
    InitSystemPaths(paths);
    std::wstring windows = Expanded(L"%SystemRoot%");
    // Only the prefix's characters count: "system32extra" and the x86 folder itself match too.
    const std::pair<std::wstring, std::wstring> cases[] = {
        {windows + L"\\System32\\zq", windows + L"\\SysWOW64\\zq"},
        {L"c:\\PROGRAM FILES\\Zq Tool", L"C:\\Program Files (x86)\\Zq Tool"},
        {windows + L"\\system32extra", windows + L"\\SysWOW64extra"},
        {L"C:\\Program Files (x86)\\Zq", L"C:\\Program Files (x86) (x86)\\Zq"},
        {L"C:\\zqtest\\x", L""}, {L"C:\\Program", L""},
        // Whatever its length: a twin is never left out for want of room.
        {L"C:\\Program Files\\" + std::wstring(300, L'x'), L"C:\\Program Files (x86)\\" + std::wstring(300, L'x')},
    };
    for (const auto& c : cases) {
        zqWString twin;
        twin.Assign(L"junk");
        EXPECT_EQ(TwinPath(paths, c.first.c_str(), &twin), !c.second.empty()) << Narrow(c.first);
        EXPECT_EQ(std::wstring(twin.Get()), c.second) << Narrow(c.first);
    }
}
#endif

// PATH in its order (first spelling wins, expanded, normalised), the drivers entry, then the
// extra folders, the folders and, in the 64-bit build, their twins.
TEST(TargetExpansion, SearchDirectoriesAndFoldersInTheirOrder)
{
    ScopedEnv path(L"PATH", L"C:\\zqtest\\A;c:\\ZQTEST\\a;%SystemRoot%\\system32;;C:/zqtest//B");
    zqCleanScript script;
    RunLists lists;
    SystemPaths paths;
    InitSystemPaths(paths);
    SeedSearchDirs(lists.searchDirs);
    std::wstring s32 = Expanded(L"%SystemRoot%\\system32");
    std::wstring drivers = L";" + Expanded(L"%SystemRoot%") + L"\\system32\\drivers\\;";
    AddEntries(&script.exFolders, {L"C:\\zqtest\\E1", L"", L"C:\\zqtest\\E1"});
    AddEntries(&script.folders, {L"C:\\Program Files\\a", L"c:\\program files\\A", (s32 + L"\\b").c_str()});
    ExpandTargetLists(script, paths, lists);

    std::vector<std::wstring> folders = {L"C:\\Program Files\\a", L"c:\\program files\\A", s32 + L"\\b"};
    std::vector<std::wstring> search = {L"C:\\zqtest\\A", s32, L"C:\\zqtest\\B", drivers, L"C:\\zqtest\\E1",
                                        L"C:\\Program Files\\a", L"c:\\program files\\A", s32 + L"\\b"};
#ifdef _WIN64
    std::wstring wow = Expanded(L"%SystemRoot%\\SysWOW64");
    std::vector<std::wstring> twins = {L"C:\\Program Files (x86)\\a", L"C:\\Program Files (x86)\\A", wow + L"\\b"};
    folders.insert(folders.end(), twins.begin(), twins.end());
    search.insert(search.end(), twins.begin(), twins.end());
    // twins of the search directories not yet present, the folder twins' own twins included
    search.insert(search.end(), {wow, L"C:\\Program Files (x86) (x86)\\a", L"C:\\Program Files (x86) (x86)\\A"});
#else
    EXPECT_TRUE(paths.isWow64);  // the test prefix is a 64-bit one
#endif
    EXPECT_EQ(Texts(lists.folders), folders);
    EXPECT_EQ(Texts(lists.searchDirs), search);
}

// A hundred thousand folders are merged into the search directories in a few seconds at most.
TEST(TargetExpansion, AHundredThousandFoldersQuickly)
{
    ScopedEnv path(L"PATH", L"C:\\zqtest");
    zqCleanScript script;
    RunLists lists;
    SystemPaths paths;
    InitSystemPaths(paths);
    SeedSearchDirs(lists.searchDirs);
    for (int i = 0; i < 100000; ++i) {
        std::wstring folder = L"C:\\Program Files\\Vendor\\f" + std::to_wstring(i % 50000);
        AppendEntry(script.folders, folder.c_str());
    }
    DWORD started = GetTickCount();
    ExpandTargetLists(script, paths, lists);
    EXPECT_LT(GetTickCount() - started, 3000u);
    // Each folder once after PATH and the drivers entry; in the 64-bit build its twin and the
    // twin's own "(x86) (x86)" twin too.
    EXPECT_EQ(lists.searchDirs.count, 2 + 50000 * (sizeof(void*) == 8 ? 3 : 1));
}
