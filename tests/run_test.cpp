// The cleaning run end to end, in-process: status block, prepared script copy, run log, and
// the files, assemblies and folders it removes. The phases of other areas may add their own
// lines; the checks look at the lines of the file, .NET and folder phases as a span found by
// its header, plus the first line and the closing line.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/CleaningRun.h"
#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "foundation/Handles.h"
#include "launcher/StatusBlock.h"
#include "script/CleanScript.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TestSupport.h"

namespace {

const char kClosing[] =
    "--------------------------------------------------------------------------------------------";

std::string Ininame(const std::wstring& scriptDir)
{
    return "[TS]\tIniname: " + Narrow(scriptDir) + "\\zqclean.ini";
}

std::vector<std::string> Lines(std::initializer_list<std::string> lines) { return lines; }

std::vector<std::string> ArgsLines(const std::wstring& argsFile)
{
    std::vector<std::string> lines = MaskedLogLines(ReadFileBytes(argsFile));
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

// The multi-string value the system reads at the next start, as one text per entry.
std::vector<std::wstring> PendingRenames()
{
    std::vector<std::wstring> entries;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return entries;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, 0);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size);
        // Pairs of source and target; a deletion has an empty target, so empty texts are skipped.
        const wchar_t* end = data.data() + size / sizeof(wchar_t);
        for (const wchar_t* p = data.data(); p < end; p += wcslen(p) + 1)
            if (*p != 0)
                entries.push_back(p);
    }
    RegCloseKey(key);
    return entries;
}

int CountOf(const std::vector<std::wstring>& list, const std::wstring& text)
{
    int n = 0;
    for (const auto& entry : list)
        n += entry == text;
    return n;
}

#ifdef _WIN64
std::wstring Expanded(const wchar_t* text)
{
    wchar_t buffer[1024];
    ExpandEnvironmentStringsW(text, buffer, 1024);
    return buffer;
}
#endif

class CleaningRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = MakeScratchDir(L"run");
        scriptDir = root + L"\\script";
        CreateDirectoryW(scriptDir.c_str(), nullptr);
        p1 = root + L"\\p1";
        p2 = root + L"\\p2";
        CreateDirectoryW(p1.c_str(), nullptr);
        CreateDirectoryW(p2.c_str(), nullptr);
        ServiceCurrentState() = SERVICE_RUNNING;
    }
    void TearDown() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        RemoveTree(root);
    }

    std::wstring root, scriptDir, p1, p2;
};

}  // namespace

TEST_F(CleaningRun, ExactLogOfFilesAssembliesAndFolders)
{
    ScopedPath path((p1 + L";" + p2).c_str());
    std::wstring ex = root + L"\\ex";
    std::wstring work = root + L"\\work dir";  // a blank in the launcher's folder
    CreateDirectoryW(ex.c_str(), nullptr);
    CreateDirectoryW(work.c_str(), nullptr);
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    WriteFileBytes(p1 + L"\\zqrun_twice.txt", "1");
    WriteFileBytes(p2 + L"\\zqrun_twice.txt", "2");
    WriteFileBytes(ex + L"\\zqrun_ex.dat", "x");
    WriteFileBytes(p2 + L"\\zqrun_full.txt", "x");
    WriteFileBytes(ex + L"\\zqm1.log", "x");
    for (const wchar_t* sub : {L"\\gone", L"\\gone\\deeper", L"\\gone2"})
        CreateDirectoryW((root + sub).c_str(), nullptr);
    WriteFileBytes(root + L"\\gone\\deeper\\f.bin", "x");

    std::string r = Narrow(root);
    RunOutcome run = RunWithScript(scriptDir,
        "\n[files]\nzqrun_twice.txt\nzqrun_ex.dat\n" + r + "\\p2\\zqrun_full.txt\nzqrun_missing.txt\n"
        "\n[maskedfiles]\nzqm*.log\n"
        "\n[exfolders]\n" + r + "\\ex\n"
        "\n[.NET]\nZq.Assembly.One\nZq.Two, Version=1.0\n"
        "\n[folders]\n" + r + "\\gone\n" + r + "\\nothere\nC:/zqtest//run/gone2=1\n",
        work, "exact");

    ASSERT_GE(run.lines.size(), 3u);
    EXPECT_EQ(run.lines.front(), Ininame(scriptDir));
    EXPECT_EQ(run.lines.back(), kClosing);
    EXPECT_EQ(run.status, -1);  // a completed run writes no status
    std::vector<std::string> want = Lines({
        "[TS]\tDelete files(5):",
        r + "\\p1\\zqrun_twice.txt...OK",
        r + "\\p2\\zqrun_twice.txt...OK",
        r + "\\ex\\zqrun_ex.dat...OK",
        r + "\\p2\\zqrun_full.txt...OK",
        r + "\\ex\\zqm1.log...OK",
        "[TS]\t5 files are deleted.",
        "[TS]\tDelete .NET dlls from GAC(2):",
        "Zq.Assembly.One...OK",
        "Zq.Two, Version=1.0...OK",
        "[TS]\t2 .NET dlls are deleted.",
        "[TS]\tDelete folders(3):",
        r + "\\gone...OK",
        r + "\\gone2...OK",
        "[TS]\t2 folders are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete files(", want.size()), want);

    // The tool of the launcher's folder, its path quoted, the assembly name as written.
    std::string tool = "\"" + Narrow(work) + "\\gacutil.exe\"";
    EXPECT_EQ(ArgsLines(work + L"\\gacutil.args"),
              Lines({tool + " /u Zq.Assembly.One /silent", tool + " /u Zq.Two, Version=1.0 /silent"}));
    for (const wchar_t* gone : {L"\\p1\\zqrun_twice.txt", L"\\p2\\zqrun_twice.txt", L"\\ex\\zqrun_ex.dat",
                                L"\\p2\\zqrun_full.txt", L"\\ex\\zqm1.log", L"\\gone", L"\\gone2"})
        EXPECT_FALSE(PathExists(root + gone)) << Narrow(gone);
    EXPECT_TRUE(PathExists(ex));
}

TEST_F(CleaningRun, FailedToolsAndMissingToolAreReported)
{
    ScopedPath path(p1.c_str());
    std::wstring work = root + L"\\work";
    CreateDirectoryW(work.c_str(), nullptr);
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    WriteFileBytes(work + L"\\gacutil.exitcode", "3\n");
    RunOutcome run = RunWithScript(scriptDir, "[.NET]\nZq.Fails\n", work, "toolfails");
    std::vector<std::string> span = LogSpan(run.lines, "[TS]\tDelete .NET dlls from GAC(", 3);
    ASSERT_EQ(span.size(), 3u);
    EXPECT_EQ(span[0], "[TS]\tDelete .NET dlls from GAC(1):");
    // The first number is whatever system error code the thread last had; the tool's code follows.
    EXPECT_EQ(span[1].rfind("Zq.Fails...FAILED. Error: ", 0), 0u) << span[1];
    EXPECT_EQ(span[1].substr(span[1].size() - 3), "(3)") << span[1];
    EXPECT_EQ(span[2], "[TS]\t0 .NET dlls are deleted.");

    DeleteFileW((work + L"\\gacutil.exe").c_str());
    run = RunWithScript(scriptDir, "[.NET]\nZq.NoTool\n", work, "notool");
    span = LogSpan(run.lines, "[TS]\tDelete .NET dlls from GAC(", 3);
    ASSERT_EQ(span.size(), 3u);
    EXPECT_EQ(span[1], "Zq.NoTool...FAILED. Error: 2(-1)");  // the start's own error: file not found
    EXPECT_EQ(span[2], "[TS]\t0 .NET dlls are deleted.");
}

// A command line that does not fit its 260 units is not run cut: a shorter assembly name
// could be another assembly.
TEST_F(CleaningRun, AssemblyCommandThatDoesNotFitIsNotRun)
{
    std::wstring work = root + L"\\work";
    CreateDirectoryW(work.c_str(), nullptr);
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    std::string fixed = "\"" + Narrow(work) + "\\gacutil.exe\" /u  /silent";
    std::string fits(259 - fixed.size(), 'a');
    std::string tooLong(260 - fixed.size(), 'b');
    RunOutcome run = RunWithScript(scriptDir, "[.NET]\n" + fits + "\n" + tooLong + "\n", work, "longcmd");
    std::vector<std::string> want = Lines({
        "[TS]\tDelete .NET dlls from GAC(2):",
        fits + "...OK",
        tooLong + "...FAILED. Error: 206(-1)",
        "[TS]\t1 .NET dlls are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete .NET dlls from GAC(", want.size()), want);
    std::vector<std::string> args = ArgsLines(work + L"\\gacutil.args");
    ASSERT_EQ(args.size(), 1u);
    EXPECT_EQ(args[0].size(), 259u);
}

TEST_F(CleaningRun, LockedFileIsScheduledAndCountedAgainAfterAnotherCopy)
{
    // Search order: p1, p2, the drivers entry, then p1 again spelled in another case (an extra
    // folder, appended since the merge compares exactly).
    ScopedPath path((p1 + L";" + p2).c_str());
    std::wstring locked = p1 + L"\\zqrun_locked.txt";
    WriteFileBytes(locked, "locked");
    WriteFileBytes(p2 + L"\\zqrun_locked.txt", "free");
    std::wstring p1Other = L"c:\\zqtest\\run\\P1";

    std::wstring readyName = L"zqtest_run_locker_ready";
    std::wstring releaseName = L"zqtest_run_locker_release";
    KernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
    std::wstring locker = TestProgramDir() + L"\\..\\standins\\locker.exe";
    ASSERT_TRUE(PathExists(locker));
    std::wstring command = L"\"" + locker + L"\" \"" + locked + L"\" " + readyName + L" " + releaseName;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    KernelHandle process(pi.hProcess);
    KernelHandle thread(pi.hThread);
    ASSERT_EQ(WaitForSingleObject(ready.Get(), 30000), WAIT_OBJECT_0);

    std::vector<std::wstring> before = PendingRenames();
    std::string r = Narrow(root);
    RunOutcome run = RunWithScript(scriptDir,
        "[files]\nzqrun_locked.txt\n" + r + "\\p1\\zqrun_locked.txt\n[exfolders]\n" + Narrow(p1Other) + "\n",
        L"", "locked");
    std::vector<std::wstring> pending = PendingRenames();
    SetEvent(release.Get());
    WaitForSingleObject(process.Get(), 30000);

    std::vector<std::string> want = Lines({
        "[TS]\tDelete files(2):",
        r + "\\p1\\zqrun_locked.txt...AFTER BOOT",  // default search order
        // p1 itself: the same file as just processed, skipped
        r + "\\p2\\zqrun_locked.txt...OK",
        Narrow(p1Other) + "\\zqrun_locked.txt...AFTER BOOT",  // found again after another copy
        r + "\\p1\\zqrun_locked.txt...AFTER BOOT",  // the full-path entry: only once
        "[TS]\t4 files are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete files(", want.size()), want);
    // Entries accumulate across runs: look for this run's own.
    EXPECT_EQ(CountOf(pending, L"\\??\\" + locked), CountOf(before, L"\\??\\" + locked) + 2);
    std::wstring other = L"\\??\\" + p1Other + L"\\zqrun_locked.txt";
    EXPECT_EQ(CountOf(pending, other), CountOf(before, other) + 1);
    EXPECT_TRUE(PathExists(locked));
    EXPECT_FALSE(PathExists(p2 + L"\\zqrun_locked.txt"));
    DeleteFileW(locked.c_str());
}

// regsvr32.exe of the test program's folder comes first in the search order of process
// creation, so a stand-in placed there takes the calls of the run for the duration of a test.
class ActiveXRun : public CleaningRun {
protected:
    void SetUp() override
    {
        CleaningRun::SetUp();
        tool = TestProgramDir() + L"\\regsvr32.exe";
        args = TestProgramDir() + L"\\regsvr32.args";
        control = TestProgramDir() + L"\\regsvr32.exitcode";
        DeleteFileW(args.c_str());
        ASSERT_TRUE(CopyStandIn(L"gacutil", tool));
    }
    void TearDown() override
    {
        DeleteFileW(tool.c_str());
        DeleteFileW(args.c_str());
        DeleteFileW(control.c_str());
        CleaningRun::TearDown();
    }
    std::wstring tool, args, control;
};

TEST_F(ActiveXRun, ControlIsUnregisteredBeforeEachCopyIsDeleted)
{
    ScopedPath path((p1 + L";" + p2).c_str());
    WriteFileBytes(p1 + L"\\zqrun_ctl.ocx", "x");
    WriteFileBytes(p2 + L"\\zqrun_ctl.ocx", "x");
    WriteFileBytes(p1 + L"\\zqrun_plain.txt", "x");
    ToolWatcher watcher(args, 0);
    WriteFileBytes(control, watcher.ControlLine(0));

    std::string r = Narrow(root);
    // The entry as written decides: capitals count, the path found does not.
    RunOutcome run = RunWithScript(scriptDir, "[files]\nzqrun_ctl.OCX\nzqrun_plain.txt\n", L"", "ocx");
    watcher.Finish();

    std::vector<std::string> want = Lines({
        "[TS]\tDelete files(2):",
        r + "\\p1\\zqrun_ctl.OCX...OK",
        r + "\\p2\\zqrun_ctl.OCX...OK",
        r + "\\p1\\zqrun_plain.txt...OK",
        "[TS]\t3 files are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete files(", want.size()), want);
    EXPECT_EQ(ArgsLines(args), Lines({"regsvr32.exe /S /U \"" + r + "\\p1\\zqrun_ctl.OCX\"",
                                      "regsvr32.exe /S /U \"" + r + "\\p2\\zqrun_ctl.OCX\""}));
    EXPECT_EQ(watcher.targetPresent, Lines({"present", "present"}));
}

TEST_F(ActiveXRun, ControlWhoseCommandDoesNotFitIsOnlyDeleted)
{
    // "regsvr32.exe /S /U \"" (20), the path, the closing quote: 259 units at most.
    std::wstring dir = root + L"\\" + std::wstring(238 - root.size() - 1 - 9, L'd');
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    std::wstring fits = dir + L"\\ctl1.ocx";
    std::wstring tooLong = dir + L"\\ctl12.ocx";
    ASSERT_EQ(fits.size(), 238u);
    WriteFileBytes(fits, "x");
    WriteFileBytes(tooLong, "x");
    RunOutcome run = RunWithScript(scriptDir, "[files]\n" + Narrow(fits) + "\n" + Narrow(tooLong) + "\n", L"",
                                   "longocx");
    std::vector<std::string> want = Lines({
        "[TS]\tDelete files(2):",
        Narrow(fits) + "...OK",
        Narrow(tooLong) + "...OK",
        "[TS]\t2 files are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete files(", want.size()), want);
    EXPECT_EQ(ArgsLines(args), Lines({"regsvr32.exe /S /U \"" + Narrow(fits) + "\""}));
}

TEST_F(ActiveXRun, StopDuringTheFilePhaseKeepsItsCountLine)
{
    ScopedPath path(p1.c_str());
    WriteFileBytes(p1 + L"\\zqrun_a.ocx", "x");
    WriteFileBytes(p1 + L"\\zqrun_b.txt", "x");
    ToolWatcher watcher(args, 1);
    WriteFileBytes(control, watcher.ControlLine(0));

    std::string r = Narrow(root);
    RunOutcome run = RunWithScript(scriptDir,
        "[files]\nzqrun_a.ocx\nzqrun_b.txt\n[.NET]\nZq.Never\n[folders]\n" + r + "\\p1\n", L"", "stopfiles");
    watcher.Finish();

    std::vector<std::string> want = Lines({
        "[TS]\tDelete files(2):",
        r + "\\p1\\zqrun_a.ocx...OK",
        "[TS]\t1 files are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete files(", want.size() + 1), want);  // nothing after it
    EXPECT_EQ(run.lines.back(), want.back());
    EXPECT_TRUE(PathExists(p1 + L"\\zqrun_b.txt"));
    EXPECT_EQ(run.status, -1);
}

TEST_F(CleaningRun, StopDuringTheAssemblyPhaseLeavesNoCountLine)
{
    ScopedPath path(p1.c_str());
    std::wstring work = root + L"\\work";
    CreateDirectoryW(work.c_str(), nullptr);
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    ToolWatcher watcher(work + L"\\gacutil.args", 1);
    WriteFileBytes(work + L"\\gacutil.exitcode", watcher.ControlLine(0));

    RunOutcome run = RunWithScript(scriptDir,
        "[.NET]\nZq.One\nZq.Two\n[folders]\n" + Narrow(p2) + "\n", work, "stopdotnet");
    watcher.Finish();

    std::vector<std::string> want = Lines({"[TS]\tDelete .NET dlls from GAC(2):", "Zq.One...OK"});
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete .NET dlls from GAC(", 3), want);
    EXPECT_EQ(run.lines.back(), want.back());
    EXPECT_EQ(ArgsLines(work + L"\\gacutil.args").size(), 1u);
    EXPECT_TRUE(PathExists(p2));
}

TEST_F(CleaningRun, StopSeenBeforeTheListsAreExpanded)
{
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    RunOutcome run = RunWithScript(scriptDir, "[folders]\n" + Narrow(p1) + "\n", L"", "stopfirst", true);
    EXPECT_EQ(run.lines, Lines({Ininame(scriptDir)}));
    EXPECT_TRUE(PathExists(p1));
    EXPECT_EQ(run.status, -1);
}

TEST_F(CleaningRun, StartedFromAFolderToDeleteIsRefused)
{
    std::wstring wd = root + L"\\wd";
    CreateDirectoryW(wd.c_str(), nullptr);
    RunOutcome run = RunWithScript(scriptDir,
        "[folders]\n" + Narrow(p1) + "\n" + Narrow(wd) + "\n[files]\n" + Narrow(p2) + "\\f.txt\n", wd, "refused");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines, Lines({Ininame(scriptDir)}));  // no phase header at all
    EXPECT_TRUE(PathExists(wd));
    EXPECT_TRUE(PathExists(p1));

    // Another letter case is another text: no refusal, and the folder goes.
    std::wstring wdOther = root + L"\\WD";
    run = RunWithScript(scriptDir, "[folders]\n" + Narrow(wdOther) + "\n", wd, "notrefused");
    EXPECT_EQ(run.status, -1);
    std::vector<std::string> want = Lines({"[TS]\tDelete folders(1):", Narrow(wdOther) + "...OK",
                                           "[TS]\t1 folders are deleted."});
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete folders(", 3), want);
    EXPECT_FALSE(PathExists(wd));
}

// "<script>.srvc" must fit 259 characters; a longer name is not cut to some other file's name
// but taken as no script at all.
TEST_F(CleaningRun, ScriptPathWithNoRoomForTheSuffixIsNotRead)
{
    std::wstring keep = root + L"\\keep";
    for (size_t length : {254u, 255u}) {
        CreateDirectoryW(keep.c_str(), nullptr);
        // root (13) + one separator + name + "\\zqclean.ini" (12)
        std::wstring dir = root + L"\\" + std::wstring(length - 26, L's');
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        ASSERT_EQ(dir.size() + 12, length);
        RunOutcome run = RunWithScript(dir, "[folders]\n" + Narrow(keep) + "\n", L"", "longpath");
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.front(), Ininame(dir));
        std::vector<std::string> span = LogSpan(run.lines, "[TS]\tDelete folders(", 1);
        EXPECT_EQ(span, Lines({length == 254 ? "[TS]\tDelete folders(1):" : "[TS]\tDelete folders(0):"}));
        EXPECT_EQ(PathExists(keep), length == 255);
        RemoveTree(dir);
    }
}

TEST_F(CleaningRun, NoStatusBlockRunsOnEmptyLists)
{
    ScopedPath path(p1.c_str());
    std::wstring log = FreshRunLog("noblock");
    RunCleaning();
    std::vector<std::string> lines = RunLogLines(log);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "[TS]\tIniname: ");
    EXPECT_EQ(lines.back(), kClosing);
    std::vector<std::string> want = Lines({
        "[TS]\tDelete files(0):", "[TS]\t0 files are deleted.",
        "[TS]\tDelete .NET dlls from GAC(0):", "[TS]\t0 .NET dlls are deleted.",
        "[TS]\tDelete folders(0):", "[TS]\t0 folders are deleted.",
    });
    EXPECT_EQ(LogSpan(lines, "[TS]\tDelete files(", want.size()), want);
}

TEST_F(CleaningRun, DriveRootAndWindowsFolderAreNeverDeleted)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    // The run below names them: make sure of the guard before anything can be lost.
    ASSERT_TRUE(IsProtectedFolder(L"C:\\"));
    ASSERT_TRUE(IsProtectedFolder(windows));
    ASSERT_TRUE(IsProtectedFolder((std::wstring(windows) + L"\\").c_str()));

    std::wstring sub = root + L"\\mend\\sub";
    CreateDirectoryW((root + L"\\mend").c_str(), nullptr);
    CreateDirectoryW(sub.c_str(), nullptr);
    WriteFileBytes(sub + L"\\f.txt", "x");
    std::wstring canary = root + L"\\mend\\canary.txt";
    WriteFileBytes(canary, "x");

    RunOutcome run = RunWithScript(scriptDir,
        "[folders]\nC:\\\n%SystemRoot%\n%SystemRoot%\\system32\\..\n" + Narrow(sub) + "\n", L"", "mend");
    std::string w = Narrow(windows);
    std::vector<std::string> want = Lines({
#ifdef _WIN64
        "[TS]\tDelete folders(5):",
#else
        "[TS]\tDelete folders(4):",
#endif
        "C:\\...FAILED(Err:5)",
        w + "...FAILED(Err:5)",
        w + "...FAILED(Err:5)",  // the path as resolved decides
        Narrow(sub) + "...OK",
#ifdef _WIN64
        w + "...FAILED(Err:5)",  // the twin, SysWOW64\.., is the Windows folder as well
#endif
        "[TS]\t1 folders are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete folders(", want.size()), want);
    EXPECT_FALSE(PathExists(sub));
    EXPECT_TRUE(PathExists(canary));
    EXPECT_TRUE(PathExists(std::wstring(windows) + L"\\system32"));
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

    RunOutcome run = RunWithScript(scriptDir,
        "[files]\nzqrun_wowonly.txt\n[folders]\n%ProgramFiles%\\zqtest_run_twin\n"
        "%SystemRoot%\\system32\\zqtest_run_twin\n", L"", "twins");
    std::vector<std::string> want = Lines({
        "[TS]\tDelete folders(4):",
        Narrow(pf) + "...OK",
        Narrow(s32) + "...OK",
        Narrow(pf86) + "...OK",
        Narrow(wow) + "...OK",
        "[TS]\t4 folders are deleted.",
    });
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete folders(", want.size()), want);
    EXPECT_EQ(LogSpan(run.lines, "[TS]\tDelete files(", 3),
              Lines({"[TS]\tDelete files(1):", Narrow(wowFile) + "...OK", "[TS]\t1 files are deleted."}));
    for (const std::wstring& dir : {pf, pf86, s32, wow})
        EXPECT_FALSE(PathExists(dir)) << Narrow(dir);
    EXPECT_FALSE(PathExists(wowFile));
}
#endif

// The stop rules of each phase, seen at the first poll after its first item.
TEST_F(CleaningRun, PhaseStopRulesCalledDirectly)
{
    std::wstring log = FreshRunLog("phasestops");
    std::wstring f1 = root + L"\\f1", f2 = root + L"\\f2";
    CreateDirectoryW(f1.c_str(), nullptr);
    CreateDirectoryW(f2.c_str(), nullptr);
    WriteFileBytes(p1 + L"\\a.txt", "x");
    WriteFileBytes(p1 + L"\\b.txt", "x");
    zqCleanScript script;
    zqWString text;
    for (const std::wstring& dir : {f1, f2}) {
        text.Assign(dir.c_str());
        script.folders.Append(text);
    }
    for (const wchar_t* file : {L"\\a.txt", L"\\b.txt"}) {
        text.Assign((p1 + file).c_str());
        script.files.Append(text);
    }

    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(FilePhase(script));
    EXPECT_FALSE(FolderPhase(script));
    zqCleanScript empty;
    EXPECT_FALSE(DotNetPhase(empty, L"C:\\zqtest\\run"));  // polled before the count line
    EXPECT_FALSE(FolderPhase(empty));
    ServiceCurrentState() = SERVICE_STOPPED;
    EXPECT_FALSE(FolderPhase(empty));
    ServiceCurrentState() = SERVICE_RUNNING;
    EXPECT_TRUE(FolderPhase(empty));
    EXPECT_TRUE(DotNetPhase(empty, L"C:\\zqtest\\run"));

    std::string r = Narrow(root);
    EXPECT_EQ(RunLogLines(log), Lines({
        "[TS]\tDelete files(2):", r + "\\p1\\a.txt...OK", "[TS]\t1 files are deleted.",
        "[TS]\tDelete folders(2):", r + "\\f1...OK",
        "[TS]\tDelete .NET dlls from GAC(0):",
        "[TS]\tDelete folders(0):",
        "[TS]\tDelete folders(0):",
        "[TS]\tDelete folders(0):", "[TS]\t0 folders are deleted.",
        "[TS]\tDelete .NET dlls from GAC(0):", "[TS]\t0 .NET dlls are deleted.",
    }));
    EXPECT_TRUE(PathExists(p1 + L"\\b.txt"));
    EXPECT_TRUE(PathExists(f2));
}
