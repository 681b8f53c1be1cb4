// The cleaning run in-process: status block, prepared script copy, the whole run log compared
// line by line, and what the file, .NET and folder phases leave on disk; the path environment
// and the list expansion it starts with.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/CleaningRun.h"
#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "engine/SystemPaths.h"
#include "engine/TargetExpansion.h"
#include "script/CleanScript.h"
#include "tests/support/DriverSupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;
const Lines kNoFiles = {"[TS]\tDelete files(0):", "[TS]\t0 files are deleted."};
const Lines kNoAssemblies = {"[TS]\tDelete .NET dlls from GAC(0):", "[TS]\t0 .NET dlls are deleted."};
const Lines kNoFolders = {"[TS]\tDelete folders(0):", "[TS]\t0 folders are deleted."};

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

// regsvr32.exe of the test program's folder comes first in the search order of process
// creation, so the stand-in placed there takes the run's calls for the test's duration.
struct Regsvr32StandIn {
    std::wstring base = TestProgramDir() + L"\\regsvr32";
    Regsvr32StandIn() { Clean(); CopyStandIn(L"gacutil", base + L".exe"); }
    ~Regsvr32StandIn() { Clean(); }
    void Clean()
    {
        for (const wchar_t* ext : {L".exe", L".args", L".seen", L".exitcode"})
            DeleteFileW((base + ext).c_str());
    }
};

class CleaningRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseBuiltinDifxapi();  // the driver-package section as LogHead has it
        root = MakeScratchDir(L"run");
        r = Narrow(root);
        for (std::wstring* dir : {&scriptDir, &p1, &p2, &work})
            CreateDirectoryW(dir->c_str(), nullptr);
        DropPendingRenames(root + L"\\");
        ServiceCurrentState() = SERVICE_RUNNING;
    }
    void TearDown() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        DropPendingRenames(root + L"\\");
        RemoveTree(root);
    }
    // The complete log of a run whose script has no sections beyond files, .NET and folders.
    Lines Log(std::initializer_list<Lines> middle) { return Joined({LogHead(scriptDir), Joined(middle), LogTail()}); }

    std::wstring root, scriptDir = L"C:\\zqtest\\run\\script", p1 = L"C:\\zqtest\\run\\p1",
                       p2 = L"C:\\zqtest\\run\\p2", work = L"C:\\zqtest\\run\\work dir";
    std::string r;
};

}  // namespace

TEST_F(CleaningRun, ExactLogOfFilesAssembliesAndFolders)
{
    ScopedPath path((p1 + L";" + p2).c_str());
    Regsvr32StandIn regsvr32;
    std::wstring ex = root + L"\\ex";
    CreateDirectoryW(ex.c_str(), nullptr);
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    for (const wchar_t* file : {L"\\p1\\zqrun_twice.txt", L"\\p2\\zqrun_twice.txt", L"\\ex\\zqrun_ex.dat",
                                L"\\p2\\zqrun_full.txt", L"\\p1\\zqrun_ctl.ocx", L"\\p2\\zqrun_ctl.ocx",
                                L"\\ex\\zqm1.log", L"\\p1\\zqm2.log"})
        WriteFileBytes(root + file, "x");
    for (const wchar_t* sub : {L"\\gone", L"\\gone\\deeper", L"\\gone2"})
        CreateDirectoryW((root + sub).c_str(), nullptr);
    WriteFileBytes(root + L"\\gone\\deeper\\f.bin", "x");

    RunOutcome run = RunWithScript(scriptDir,
        "\n[files]\nzqrun_twice.txt\nzqrun_ex.dat\n" + r + "\\p2\\zqrun_full.txt\nzqrun_missing.txt\n"
        "zqrun_ctl.OCX\n[maskedfiles]\nzqm*.log\n[exfolders]\n" + r + "\\ex\n"
        "[.NET]\nZq.Assembly.One\nZq.Two, Version=1.0\n"
        "[folders]\n" + r + "\\gone\n" + r + "\\nothere\nC:/zqtest//run/gone2=1\n", work, "exact");

    EXPECT_EQ(run.status, -1);  // a completed run writes no status
    EXPECT_EQ(run.lines, Log({{
        "[TS]\tDelete files(7):",  // five entries and two mask matches
        r + "\\p1\\zqrun_twice.txt...OK",  // the default order finds p1; its own pass skips it
        r + "\\p2\\zqrun_twice.txt...OK",
        r + "\\ex\\zqrun_ex.dat...OK",
        r + "\\p2\\zqrun_full.txt...OK",
        r + "\\p1\\zqrun_ctl.OCX...OK",  // the entry's capitals: the path as SearchPathW gives it
        r + "\\p2\\zqrun_ctl.OCX...OK",
        r + "\\p1\\zqm2.log...OK",  // masks follow the search directories' order
        r + "\\ex\\zqm1.log...OK",
        "[TS]\t8 files are deleted.",
        "[TS]\tDelete .NET dlls from GAC(2):",
        "Zq.Assembly.One...OK",
        "Zq.Two, Version=1.0...OK",
        "[TS]\t2 .NET dlls are deleted.",
        "[TS]\tDelete folders(3):",
        r + "\\gone...OK",
        r + "\\gone2...OK",
        "[TS]\t2 folders are deleted."}}));
    // The launcher's folder holds the tool: its path quoted, the assembly name as written.
    std::string tool = "\"" + Narrow(work) + "\\gacutil.exe\"";
    EXPECT_EQ(RunLogLines(work + L"\\gacutil.args"),
              Lines({tool + " /u Zq.Assembly.One /silent", tool + " /u Zq.Two, Version=1.0 /silent"}));
    // Each copy of the control is unregistered while it is still there.
    EXPECT_EQ(RunLogLines(regsvr32.base + L".args"),
              Lines({"regsvr32.exe /S /U \"" + r + "\\p1\\zqrun_ctl.OCX\"",
                     "regsvr32.exe /S /U \"" + r + "\\p2\\zqrun_ctl.OCX\""}));
    EXPECT_EQ(RunLogLines(regsvr32.base + L".seen"), Lines({"present", "present"}));
    for (const wchar_t* gone : {L"\\p1\\zqrun_twice.txt", L"\\p2\\zqrun_twice.txt", L"\\ex\\zqrun_ex.dat",
                                L"\\p1\\zqrun_ctl.ocx", L"\\p2\\zqrun_ctl.ocx", L"\\gone", L"\\gone2"})
        EXPECT_FALSE(PathExists(root + gone)) << Narrow(gone);
    EXPECT_TRUE(PathExists(ex));
}

// Command lines that do not fit 260 units are not run cut: a shorter path or assembly name
// could name another one. A tool's failure and a missing tool are reported with their codes.
TEST_F(CleaningRun, ToolCommandsThatDoNotFitFailingAndMissingTools)
{
    Regsvr32StandIn regsvr32;
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    // "regsvr32.exe /S /U \"" (20), the path, the closing quote: 259 units at most.
    std::wstring dir = root + L"\\" + std::wstring(238 - root.size() - 1 - 9, L'd');
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    std::string ocxFits = Narrow(dir) + "\\ctl1.ocx", ocxLong = Narrow(dir) + "\\ctl12.ocx";
    WriteFileBytes(Widen(ocxFits), "x");
    WriteFileBytes(Widen(ocxLong), "x");
    std::string fixed = "\"" + Narrow(work) + "\\gacutil.exe\" /u  /silent";
    std::string fits(259 - fixed.size(), 'a'), tooLong(260 - fixed.size(), 'b');

    RunOutcome run = RunWithScript(scriptDir, "[files]\n" + ocxFits + "\n" + ocxLong + "\n[.NET]\n" + fits +
                                   "\n" + tooLong + "\n", work, "longcmd");
    EXPECT_EQ(run.lines, Log({{
        "[TS]\tDelete files(2):", ocxFits + "...OK", ocxLong + "...OK", "[TS]\t2 files are deleted.",
        "[TS]\tDelete .NET dlls from GAC(2):", fits + "...OK", tooLong + "...FAILED. Error: 206(-1)",
        "[TS]\t1 .NET dlls are deleted."}, kNoFolders}));
    EXPECT_EQ(RunLogLines(regsvr32.base + L".args"), Lines({"regsvr32.exe /S /U \"" + ocxFits + "\""}));
    Lines args = RunLogLines(work + L"\\gacutil.args");
    ASSERT_EQ(args.size(), 1u);
    EXPECT_EQ(args[0].size(), 259u);

    WriteFileBytes(work + L"\\gacutil.exitcode", "3\n");
    run = RunWithScript(scriptDir, "[.NET]\nZq.Fails\n", work, "toolfails");
    // The first number is whatever system error the thread last had; the tool's code follows.
    for (std::string& line : run.lines)
        if (line.rfind("Zq.Fails...FAILED. Error: ", 0) == 0 && line.substr(line.size() - 3) == "(3)")
            line = "Zq.Fails...FAILED. Error: N(3)";
    EXPECT_EQ(run.lines, Log({kNoFiles, {"[TS]\tDelete .NET dlls from GAC(1):", "Zq.Fails...FAILED. Error: N(3)",
                                         "[TS]\t0 .NET dlls are deleted."}, kNoFolders}));

    DeleteFileW((work + L"\\gacutil.exe").c_str());
    run = RunWithScript(scriptDir, "[.NET]\nZq.NoTool\n", work, "notool");
    EXPECT_EQ(run.lines, Log({kNoFiles, {"[TS]\tDelete .NET dlls from GAC(1):",
                                         "Zq.NoTool...FAILED. Error: 2(-1)",  // the start's own error
                                         "[TS]\t0 .NET dlls are deleted."}, kNoFolders}));
}

TEST_F(CleaningRun, LockedFileIsScheduledAndCountedAgainAfterAnotherCopy)
{
    // Search order: p1, p2, the drivers entry, then p1 again spelled in another case (an extra
    // folder, appended since the merge compares exactly).
    ScopedPath path((p1 + L";" + p2).c_str());
    std::wstring locked = p1 + L"\\zqrun_locked.txt", p1Other = L"C:\\zqtest\\run\\P1";
    WriteFileBytes(locked, "locked");
    WriteFileBytes(p2 + L"\\zqrun_locked.txt", "free");
    LockedFile holder(locked);
    ASSERT_TRUE(holder.held);

    RunOutcome run = RunWithScript(scriptDir, "[files]\nzqrun_locked.txt\n" + r + "\\p1\\zqrun_locked.txt\n"
                                   "[exfolders]\n" + Narrow(p1Other) + "\n", L"", "locked");
    EXPECT_EQ(run.lines, Log({{
        "[TS]\tDelete files(2):",
        r + "\\p1\\zqrun_locked.txt...AFTER BOOT",  // default search order; p1 itself then skips it
        r + "\\p2\\zqrun_locked.txt...OK",
        Narrow(p1Other) + "\\zqrun_locked.txt...AFTER BOOT",  // found again after another copy
        r + "\\p1\\zqrun_locked.txt...AFTER BOOT",  // the full-path entry: only once
        "[TS]\t4 files are deleted."}, kNoAssemblies, kNoFolders}));
    EXPECT_EQ(PendingWith(root + L"\\"), std::vector<std::wstring>({locked, p1Other + L"\\zqrun_locked.txt", locked}));
    EXPECT_TRUE(PathExists(locked));
    EXPECT_FALSE(PathExists(p2 + L"\\zqrun_locked.txt"));
}

// A stop seen inside the file phase keeps its count line, one inside the .NET phase does not;
// either way nothing follows.
TEST_F(CleaningRun, StopWhileAToolRunsEndsTheRun)
{
    ScopedPath path(p1.c_str());
    WriteFileBytes(p1 + L"\\zqrun_a.ocx", "x");
    WriteFileBytes(p1 + L"\\zqrun_b.txt", "x");
    {
        Regsvr32StandIn regsvr32;
        StopWhileToolRuns stop(regsvr32.base + L".exitcode", 0);
        RunOutcome run = RunWithScript(scriptDir, "[files]\nzqrun_a.ocx\nzqrun_b.txt\n[.NET]\nZq.Never\n"
                                       "[folders]\n" + Narrow(p1) + "\n", L"", "stopfiles");
        EXPECT_EQ(run.lines, Joined({LogHead(scriptDir), {"[TS]\tDelete files(2):", r + "\\p1\\zqrun_a.ocx...OK",
                                                          "[TS]\t1 files are deleted."}}));
        EXPECT_EQ(run.status, -1);
        EXPECT_TRUE(PathExists(p1 + L"\\zqrun_b.txt"));
    }
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    StopWhileToolRuns stop(work + L"\\gacutil.exitcode", 0);
    RunOutcome run = RunWithScript(scriptDir, "[.NET]\nZq.One\nZq.Two\n[folders]\n" + Narrow(p2) + "\n", work,
                                   "stopdotnet");
    EXPECT_EQ(run.lines, Joined({LogHead(scriptDir), kNoFiles, {"[TS]\tDelete .NET dlls from GAC(2):", "Zq.One...OK"}}));
    EXPECT_EQ(RunLogLines(work + L"\\gacutil.args").size(), 1u);
    EXPECT_TRUE(PathExists(p2));
}

// The stop rules of each phase, seen at the first poll after its first item.
TEST_F(CleaningRun, PhaseStopRulesCalledDirectly)
{
    std::wstring log = FreshRunLog("phasestops");
    std::wstring f1 = root + L"\\f1", f2 = root + L"\\f2";
    CreateDirectoryW(f1.c_str(), nullptr);
    CreateDirectoryW(f2.c_str(), nullptr);
    WriteFileBytes(p1 + L"\\a.txt", "x");
    WriteFileBytes(p1 + L"\\b.txt", "x");
    zqCleanScript script, empty;
    AddEntries(&script.folders, {f1.c_str(), f2.c_str()});
    AddEntries(&script.files, {(p1 + L"\\a.txt").c_str(), (p1 + L"\\b.txt").c_str()});
    AddEntries(&script.searchDirs, {p1.c_str()});
    AddEntries(&script.maskedFiles, {L"*.txt"});

    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(ExpandMaskedFiles(script));  // polled before the first directory
    EXPECT_EQ(script.files.count, 2);
    EXPECT_FALSE(FilePhase(script));
    EXPECT_FALSE(FolderPhase(script));
    ServiceCurrentState() = SERVICE_STOPPED;  // stopped counts as well
    EXPECT_FALSE(DotNetPhase(empty, L"C:\\zqtest\\run"));  // polled before the count line
    EXPECT_FALSE(FolderPhase(empty));
    ServiceCurrentState() = SERVICE_RUNNING;
    EXPECT_TRUE(FolderPhase(empty));
    EXPECT_TRUE(DotNetPhase(empty, L"C:\\zqtest\\run"));
    EXPECT_TRUE(ExpandMaskedFiles(script));
    EXPECT_EQ(Texts(script.files).back(), p1 + L"\\b.txt");

    EXPECT_EQ(RunLogLines(log), Lines({
        "[TS]\tDelete files(2):", r + "\\p1\\a.txt...OK", "[TS]\t1 files are deleted.",
        "[TS]\tDelete folders(2):", r + "\\f1...OK",
        "[TS]\tDelete .NET dlls from GAC(0):", "[TS]\tDelete folders(0):",
        "[TS]\tDelete folders(0):", "[TS]\t0 folders are deleted.",
        "[TS]\tDelete .NET dlls from GAC(0):", "[TS]\t0 .NET dlls are deleted.",
    }));
    EXPECT_TRUE(PathExists(f2));
}

TEST_F(CleaningRun, StopSeenBeforeTheListsAreExpanded)
{
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    RunOutcome run = RunWithScript(scriptDir, "[folders]\n" + Narrow(p1) + "\n", L"", "stopfirst", true);
    EXPECT_EQ(run.lines, Lines({Stamped("Ininame: " + Narrow(scriptDir) + "\\zqclean.ini")}));
    EXPECT_TRUE(PathExists(p1));
    EXPECT_EQ(run.status, -1);
}

TEST_F(CleaningRun, StartedFromAFolderToDeleteIsRefused)
{
    RunOutcome run = RunWithScript(scriptDir, "[folders]\n" + Narrow(p1) + "\n" + Narrow(work) +
                                   "\n[files]\n" + Narrow(p2) + "\\f.txt\n", work, "refused");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines, Lines({Stamped("Ininame: " + Narrow(scriptDir) + "\\zqclean.ini")}));
    EXPECT_TRUE(PathExists(work));
    EXPECT_TRUE(PathExists(p1));

    // Another letter case is another text: no refusal, and the folder goes.
    std::wstring workOther = root + L"\\WORK DIR";
    run = RunWithScript(scriptDir, "[folders]\n" + Narrow(workOther) + "\n", work, "notrefused");
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.lines, Log({kNoFiles, kNoAssemblies,
                              {"[TS]\tDelete folders(1):", Narrow(workOther) + "...OK", "[TS]\t1 folders are deleted."}}));
    EXPECT_FALSE(PathExists(work));
}

// "<script>.srvc" must fit 259 characters; a longer name is not cut to another file's name but
// taken as no script at all. With no status block the run goes on with empty lists.
TEST_F(CleaningRun, NoScriptWithoutRoomForTheSuffixOrWithoutStatusBlock)
{
    std::wstring keep = root + L"\\keep";
    for (size_t length : {254u, 255u}) {
        CreateDirectoryW(keep.c_str(), nullptr);
        // root (13) + one separator + name + "\\zqclean.ini" (12)
        scriptDir = root + L"\\" + std::wstring(length - 26, L's');
        ASSERT_TRUE(CreateDirectoryW(scriptDir.c_str(), nullptr));
        RunOutcome run = RunWithScript(scriptDir, "[folders]\n" + Narrow(keep) + "\n", L"", "longpath");
        Lines folders = length == 255 ? kNoFolders : Lines({"[TS]\tDelete folders(1):", Narrow(keep) + "...OK",
                                                            "[TS]\t1 folders are deleted."});
        EXPECT_EQ(run.lines, Log({kNoFiles, kNoAssemblies, folders}));
        EXPECT_EQ(PathExists(keep), length == 255);
    }

    std::wstring log = FreshRunLog("noblock");
    RunCleaning();
    EXPECT_EQ(RunLogLines(log), Joined({LogHead(L""), kNoFiles, kNoAssemblies, kNoFolders, LogTail()}));
}

TEST_F(CleaningRun, DriveRootsAndTheWindowsFolderAreNeverDeleted)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring w = windows, upper = w;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    // The run below names them: make sure of the guard before anything can be lost.
    for (const std::wstring& path : {std::wstring(L"C:"), std::wstring(L"C:\\"), std::wstring(L"d:\\\\"),
                                     std::wstring(L"\\"), std::wstring(L"\\\\server"),
                                     std::wstring(L"\\\\server\\share\\"), std::wstring(L"\\\\?\\C:\\"),
                                     std::wstring(L"\\\\?\\UNC\\server\\share"), w, upper + L"\\", w + L"\\\\"})
        ASSERT_TRUE(IsProtectedFolder(path.c_str())) << Narrow(path);
    for (const std::wstring& path : {std::wstring(L""), std::wstring(L"C:\\zqtest"), std::wstring(L"C:x"),
                                     std::wstring(L"\\\\server\\share\\sub"), std::wstring(L"\\\\?\\C:\\x"),
                                     w + L"\\system32", w + L"x"})
        EXPECT_FALSE(IsProtectedFolder(path.c_str())) << Narrow(path);

    std::wstring sub = root + L"\\mend\\sub", canary = root + L"\\mend\\canary.txt";
    CreateDirectoryW((root + L"\\mend").c_str(), nullptr);
    CreateDirectoryW(sub.c_str(), nullptr);
    WriteFileBytes(sub + L"\\f.txt", "x");
    WriteFileBytes(canary, "x");
    RunOutcome run = RunWithScript(scriptDir,
        "[folders]\nC:\\\n%SystemRoot%\n%SystemRoot%\\system32\\..\n" + Narrow(sub) + "\n", L"", "mend");
    std::string n = Narrow(w);
    EXPECT_EQ(run.lines, Log({kNoFiles, kNoAssemblies, {
#ifdef _WIN64
        "[TS]\tDelete folders(5):",
#else
        "[TS]\tDelete folders(4):",
#endif
        "C:\\...FAILED(Err:5)", n + "...FAILED(Err:5)",
        n + "...FAILED(Err:5)",  // the path as resolved decides
        Narrow(sub) + "...OK",
#ifdef _WIN64
        n + "...FAILED(Err:5)",  // the twin, SysWOW64\.., is the Windows folder as well
#endif
        "[TS]\t1 folders are deleted."}}));
    EXPECT_FALSE(PathExists(sub));
    EXPECT_TRUE(PathExists(canary));
    EXPECT_TRUE(PathExists(w + L"\\system32"));
}

#ifdef _WIN64
TEST_F(CleaningRun, TwinsOfProgramAndSystemFoldersAreDeletedAndCounted)
{
    ScopedPath path(L"%SystemRoot%\\system32");
    std::wstring pf = Expanded(L"%ProgramFiles%\\zqtest_run_twin");
    std::wstring pf86 = Expanded(L"%ProgramFiles(x86)%\\zqtest_run_twin");
    std::wstring s32 = Expanded(L"%SystemRoot%\\system32\\zqtest_run_twin");
    std::wstring wow = Expanded(L"%SystemRoot%\\SysWOW64\\zqtest_run_twin");
    for (const std::wstring& dir : {pf, pf86, s32, wow}) {
        RemoveTree(dir);
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << Narrow(dir);
    }
    // Only in SysWOW64: found through the twin of the PATH directory system32.
    std::wstring wowFile = Expanded(L"%SystemRoot%\\SysWOW64\\zqrun_wowonly.txt");
    WriteFileBytes(wowFile, "x");

    RunOutcome run = RunWithScript(scriptDir, "[files]\nzqrun_wowonly.txt\n[folders]\n"
                                   "%ProgramFiles%\\zqtest_run_twin\n%SystemRoot%\\system32\\zqtest_run_twin\n",
                                   L"", "twins");
    EXPECT_EQ(run.lines, Log({{"[TS]\tDelete files(1):", Narrow(wowFile) + "...OK", "[TS]\t1 files are deleted."},
                              kNoAssemblies, {"[TS]\tDelete folders(4):",
        Narrow(pf) + "...OK", Narrow(s32) + "...OK", Narrow(pf86) + "...OK", Narrow(wow) + "...OK",
        "[TS]\t4 folders are deleted."}}));
    for (const std::wstring& gone : {pf, pf86, s32, wow, wowFile})
        EXPECT_FALSE(PathExists(gone)) << Narrow(gone);
}

TEST(TargetExpansion, TwinPathByPrefixOnly)
{
    ScopedPath path(L"C:\\zqtest");
    zqCleanScript script;
    SystemPaths paths;
    InitSystemPaths(paths, script);
    std::wstring windows = Expanded(L"%SystemRoot%");
    std::wstring fits = L"C:\\Program Files\\" + std::wstring(259 - 23, L'x');
    // Only the prefix's characters count: "system32extra" and the x86 folder itself match too.
    const std::pair<std::wstring, std::wstring> cases[] = {
        {windows + L"\\System32\\zq", windows + L"\\SysWOW64\\zq"},
        {L"c:\\PROGRAM FILES\\Zq Tool", L"C:\\Program Files (x86)\\Zq Tool"},
        {windows + L"\\system32extra", windows + L"\\SysWOW64extra"},
        {L"C:\\Program Files (x86)\\Zq", L"C:\\Program Files (x86) (x86)\\Zq"},
        {fits, L"C:\\Program Files (x86)\\" + std::wstring(259 - 23, L'x')},
        {L"C:\\zqtest\\x", L""}, {L"C:\\Program", L""},
        {fits + L"y", L""},  // a twin that does not fit 259 characters is left out, not cut
    };
    for (const auto& c : cases) {
        wchar_t twin[260] = L"junk";
        EXPECT_EQ(TwinPath(paths, c.first.c_str(), twin), !c.second.empty()) << Narrow(c.first);
        EXPECT_EQ(std::wstring(twin), c.second) << Narrow(c.first);
    }
    FreeSystemPaths(paths);
}
#endif

// PATH in its order (first spelling wins, expanded, normalised), the drivers entry, then the
// extra folders, the folders and, in the 64-bit build, their twins.
TEST(TargetExpansion, SearchDirectoriesAndFoldersInTheirOrder)
{
    ScopedPath path(L"C:\\zqtest\\A;c:\\ZQTEST\\a;%SystemRoot%\\system32;;C:/zqtest//B;C:\\zqtest\\A");
    zqCleanScript script;
    SystemPaths paths;
    InitSystemPaths(paths, script);
    std::wstring s32 = Expanded(L"%SystemRoot%\\system32");
    std::wstring drivers = L";" + Expanded(L"%SystemRoot%") + L"\\system32\\drivers\\;";
    AddEntries(&script.exFolders, {L"C:\\zqtest\\E1", L"", L"C:\\zqtest\\E1"});
    AddEntries(&script.folders, {L"C:\\Program Files\\a", L"c:\\program files\\A", L"", (s32 + L"\\b").c_str(),
                                 L"C:\\zqtest\\E1"});
    ExpandTargetLists(script, paths);

    std::vector<std::wstring> folders = {L"C:\\Program Files\\a", L"c:\\program files\\A", L"", s32 + L"\\b",
                                         L"C:\\zqtest\\E1"};
    std::vector<std::wstring> search = {L"C:\\zqtest\\A", s32, L"C:\\zqtest\\B", drivers, L"C:\\zqtest\\E1",
                                        L"C:\\Program Files\\a", L"c:\\program files\\A", s32 + L"\\b"};
#ifdef _WIN64
    EXPECT_FALSE(paths.isWow64);
    EXPECT_STREQ(paths.programFilesDir, L"C:\\Program Files");  // Wine's layout
    EXPECT_STREQ(paths.programFilesX86Dir, L"C:\\Program Files (x86)");
    std::wstring wow = Expanded(L"%SystemRoot%\\SysWOW64");
    std::vector<std::wstring> twins = {L"C:\\Program Files (x86)\\a", L"C:\\Program Files (x86)\\A", wow + L"\\b"};
    folders.insert(folders.end(), twins.begin(), twins.end());
    search.insert(search.end(), twins.begin(), twins.end());
    // twins of the search directories not yet present, the folder twins' own twins included
    search.insert(search.end(), {wow, L"C:\\Program Files (x86) (x86)\\a", L"C:\\Program Files (x86) (x86)\\A"});
    EXPECT_EQ(script.wowTwins.count, 0);
#else
    EXPECT_TRUE(paths.isWow64);  // the test prefix is a 64-bit one
#endif
    EXPECT_EQ(Texts(script.folders), folders);
    EXPECT_EQ(Texts(script.searchDirs), search);
    FreeSystemPaths(paths);

    ScopedPath noPath(nullptr);  // no search directories at all, not even the drivers entry
    zqCleanScript bare;
    InitSystemPaths(paths, bare);
    EXPECT_EQ(bare.searchDirs.count, 0);
    FreeSystemPaths(paths);
}
