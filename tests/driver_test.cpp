// Driver packages (through the DIFxAPI stand-ins), INF files and driver service keys, under
// Wine, with real store folders, INF files and registry keys.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "script/CleanScript.h"
#include "tests/support/DriverSupport.h"
#include "tests/support/RegistrySupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TestSupport.h"

namespace {

typedef std::vector<std::string> Lines;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        log = FreshRunLog("driver");
    }
    void TearDown() override { ServiceCurrentState() = SERVICE_RUNNING; }
    Lines Log() { return RunLogLines(log); }

    std::wstring log;
    zqCleanScript script;
};

TEST_F(DriverTest, DifxLogCallbackWritesOneUnstampedLinePerEvent)
{
    DifxLogCallback(0, 0, L"done", nullptr);
    DifxLogCallback(1, 0, L"info text", nullptr);
    DifxLogCallback(2, 5, L"warned", reinterpret_cast<void*>(1));
    DifxLogCallback(3, 0xE000020B, L"failed", nullptr);
    DifxLogCallback(4, 0, L"other", nullptr);
    DifxLogCallback(-1, 0, nullptr, nullptr);
    DifxLogCallback(1, 0, nullptr, nullptr);
    EXPECT_EQ(Log(), Lines({"S: done", "I: info text", "W: warned", "E: failed", "D: other", "D: -",
                            "I: -"}));
}

class DriverPackages : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        UseNativeDifxapi();
        ResetStandins();
        for (const std::wstring& dir : {drvStore, storeParent, repository})
            made.push_back(CreateDirectoryW(dir.c_str(), nullptr) ? dir : L"");
    }

    void TearDown() override
    {
        for (const std::wstring& entry : own) {
            RemoveTree(entry);
            DeleteFileW(entry.c_str());
        }
        for (auto dir = made.rbegin(); dir != made.rend(); ++dir)
            RemoveDirectoryW(dir->c_str());
        ResetStandins();
        UseBuiltinDifxapi();
        DriverTest::TearDown();
    }

    // A folder left by an earlier run is made anew.
    void AddFolders(const std::wstring& root, std::initializer_list<const wchar_t*> names)
    {
        for (const wchar_t* name : names) {
            own.push_back(root + L"\\" + name);
            RemoveTree(own.back());
            ASSERT_TRUE(CreateDirectoryW(own.back().c_str(), nullptr)) << Narrow(name);
        }
    }

    std::wstring storeParent = SystemRootDir() + L"\\system32\\DriverStore";
    std::wstring drvStore = SystemRootDir() + L"\\system32\\DRVSTORE";
    std::wstring repository = storeParent + L"\\FileRepository";
    std::vector<std::wstring> made, own;
};

// One package's record: path with the stand-in's INFO line, its SUCCESS/ERROR line, outcome.
Lines Record(const std::wstring& infPath, const std::string& event, const std::string& outcome)
{
    std::string path = Narrow(infPath);
    return {path + "...I: Uninstalling " + path, event, outcome};
}

// The records between header and count line, sorted (the order of folders within a root is
// the file system's); every DRVSTORE record must come before the FileRepository ones.
std::vector<Lines> Records(const Lines& lines)
{
    std::vector<Lines> records;
    bool inRepository = false;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        if (lines[i].find("...") != std::string::npos) {
            records.emplace_back();
            bool repositoryRecord = lines[i].find("FileRepository") != std::string::npos;
            EXPECT_FALSE(inRepository && !repositoryRecord) << "root order: " << lines[i];
            inRepository = inRepository || repositoryRecord;
        }
        if (records.empty())
            ADD_FAILURE() << "line outside a record: " << lines[i];
        else
            records.back().push_back(lines[i]);
    }
    std::sort(records.begin(), records.end());
    return records;
}

TEST_F(DriverPackages, UninstallsEveryFolderThatTheFirstMatchingEntryClaims)
{
    AddFolders(drvStore, {L"ZQTESTPKG_A_1", L"ZQTESTPKG_B_1", L"ZQTESTPKG_C_1", L"zqtestpkg_d_7",
                          L"zqtestpkg_a_2",      // letter case differs: no match
                          L"ZQTESTPKG_Aside",    // no "_" after the entry: no match
                          L"ZQTESTPKG_A_B_1"});  // plain prefix: claimed by the first entry, A
    own.push_back(drvStore + L"\\ZQTESTPKG_A_file");
    WriteFileBytes(own.back(), "not a folder");
    AddFolders(repository, {L"zqtestpkg_d.inf_amd64_123", L"zqtestpkg_d.inf_x86_456",
                            L"zqtestpkg_d_inf_amd64_789"});  // "_" instead of ".inf_": no match
    WriteFileBytes(StandinDir(L"difx") + L"\\difx-results.txt",
                   "0xE000020B ZQTESTPKG_B_1\n0xE0000203 ZQTESTPKG_C_1\n5 x86_456\n2 A_B_1\n");
    AddEntries(&script.drvPackages,
               {L"ZQTESTPKG_A", L"ZQTESTPKG_B", L"ZQTESTPKG_C", L"zqtestpkg_d", L"ZQTESTPKG_A_B"});

    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx").c_str()));
    EXPECT_EQ(GetModuleHandleW(L"DIFxAPI.dll"), nullptr);

    Lines lines = Log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "[TS]\tDelete driver packages(5) from DriverStore:");
    EXPECT_EQ(lines.back(), "[TS]\t4 driver packages are deleted from the DriverStore.");
    std::vector<Lines> expected = {
        Record(drvStore + L"\\ZQTESTPKG_A_1\\ZQTESTPKG_A.inf", "S: -", "OK"),
        Record(drvStore + L"\\ZQTESTPKG_B_1\\ZQTESTPKG_B.inf", "E: -", "OK"),
        Record(drvStore + L"\\ZQTESTPKG_C_1\\ZQTESTPKG_C.inf", "E: -", "FAILED(Err:-536870397)"),
        Record(drvStore + L"\\zqtestpkg_d_7\\zqtestpkg_d.inf", "S: -", "OK"),
        Record(drvStore + L"\\ZQTESTPKG_A_B_1\\ZQTESTPKG_A.inf", "E: -", "FAILED(Err:2)"),
        Record(repository + L"\\zqtestpkg_d.inf_amd64_123\\zqtestpkg_d.inf", "S: -", "OK"),
        Record(repository + L"\\zqtestpkg_d.inf_x86_456\\zqtestpkg_d.inf", "E: -", "FAILED(Err:5)"),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Records(lines), expected);

    // One call per claimed folder, with the force and delete-files flags, between the
    // registration of the callback and its withdrawal.
    Lines calls = StandinCalls(L"difx");
    ASSERT_EQ(calls.size(), expected.size() + 2);
    EXPECT_EQ(calls.front(), "setcallback nonnull context=null");
    EXPECT_EQ(calls.back(), "setcallback null context=null");
    Lines uninstalls(calls.begin() + 1, calls.end() - 1), expectedUninstalls;
    for (const Lines& record : expected)
        expectedUninstalls.push_back("uninstall " + record[0].substr(0, record[0].find("...")) +
                                     " 0x24 info=null reboot=nonnull");
    std::sort(uninstalls.begin(), uninstalls.end());
    std::sort(expectedUninstalls.begin(), expectedUninstalls.end());
    EXPECT_EQ(uninstalls, expectedUninstalls);
}

TEST_F(DriverPackages, LoadByNameComesFirstAndAnEmptyListStillCounts)
{
    // The search by name finds the stand-in among the library folders before the working
    // directory's invalid variant. (Not through PATH: Wine's search stops at its placeholder
    // in system32, which "native" then refuses.)
    ASSERT_TRUE(SetDllDirectoryW(StandinDir(L"difx").c_str()));
    bool goesOn = DriverPackagePhase(script, StandinDir(L"difx-invalid").c_str());
    SetDllDirectoryW(nullptr);

    EXPECT_TRUE(goesOn);
    EXPECT_EQ(Log(), Lines({"[TS]\tDelete driver packages(0) from DriverStore:",
                            "[TS]\t0 driver packages are deleted from the DriverStore."}));
    EXPECT_EQ(StandinCalls(L"difx"),
              Lines({"setcallback nonnull context=null", "setcallback null context=null"}));
    EXPECT_EQ(GetModuleHandleW(L"DIFxAPI.dll"), nullptr);
}

TEST_F(DriverPackages, MissingOrInvalidLibraryGivesOneLineAndTheRunGoesOn)
{
    AddEntries(&script.drvPackages, {L"ZQTESTPKG_A"});
    AddFolders(drvStore, {L"ZQTESTPKG_A_1"});

    EXPECT_TRUE(DriverPackagePhase(script, TestProgramDir().c_str()));
    EXPECT_TRUE(DriverPackagePhase(script, L""));  // the root of the current drive (X:)
    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx-invalid").c_str()));
    // A stop request does not end the run after a failure line: the INF phase follows.
    ServiceCurrentState() = SERVICE_STOPPED;
    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx-invalid").c_str()));
    EXPECT_EQ(GetModuleHandleW(L"DIFxAPI.dll"), nullptr);  // the invalid library was released again

    const std::string missing = "[TS]\tCannot uninstall driver packages (DIFxAPI.dll not found.)";
    const std::string invalid =
        "[TS]\tCannot uninstall driver packages (DIFxAPI.dll version is invalid.)";
    EXPECT_EQ(Log(), Lines({missing, missing, invalid, invalid}));
    EXPECT_TRUE(StandinCalls(L"difx-invalid").empty());
}

TEST_F(DriverPackages, LibraryWithoutLogCallbackStillUninstalls)
{
    AddFolders(repository, {L"zqtestpkg.inf_amd64_1"});
    AddEntries(&script.drvPackages, {L"zqtestpkg"});

    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx-nolog").c_str()));
    std::string path = Narrow(repository + L"\\zqtestpkg.inf_amd64_1\\zqtestpkg.inf");
    EXPECT_EQ(Log(), Lines({"[TS]\tDelete driver packages(1) from DriverStore:", path + "...OK",
                            "[TS]\t1 driver packages are deleted from the DriverStore."}));
    EXPECT_EQ(StandinCalls(L"difx-nolog"),
              Lines({"uninstall " + path + " 0x24 info=null reboot=nonnull"}));
}

TEST_F(DriverPackages, StopRequestEndsEnumerationButKeepsTheCountLine)
{
    AddFolders(drvStore, {L"ZQTESTPKG_A_1"});
    AddFolders(repository, {L"zqtestpkg_a.inf_amd64_1"});
    AddEntries(&script.drvPackages, {L"ZQTESTPKG_A", L"zqtestpkg_a"});

    // "." comes before our folders: its first unmatched entry sees the request.
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(DriverPackagePhase(script, StandinDir(L"difx").c_str()));
    EXPECT_EQ(Log(), Lines({"[TS]\tDelete driver packages(2) from DriverStore:",
                            "[TS]\t0 driver packages are deleted from the DriverStore."}));
    // Released on a stop too, after its callback was withdrawn.
    EXPECT_EQ(StandinCalls(L"difx"),
              Lines({"setcallback nonnull context=null", "setcallback null context=null"}));
    EXPECT_EQ(GetModuleHandleW(L"DIFxAPI.dll"), nullptr);
}

const char kInfHead[] = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n";

class InfFiles : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        RemoveOwnFiles();
    }

    void TearDown() override
    {
        for (HANDLE lock : locks)
            CloseHandle(lock);
        RemoveOwnFiles();
        DropPendingRenames(Path(8, L"inf"));
        DriverTest::TearDown();
    }

    void RemoveOwnFiles()
    {
        for (int n = 0; n < 10; ++n) {
            DeleteFileW(Path(n, L"inf").c_str());
            DeleteFileW(Path(n, L"pnf").c_str());
        }
    }

    std::wstring Path(int n, const wchar_t* extension)
    {
        return infDir + L"\\oemzqtest" + std::to_wstring(n) + L"." + extension;
    }

    void Write(int n, const wchar_t* extension, const std::string& bytes)
    {
        WriteFileBytes(Path(n, extension), bytes);
    }

    // Holds the INF file open with the given sharing until the test ends.
    void Hold(int n, DWORD share)
    {
        locks.push_back(CreateFileW(Path(n, L"inf").c_str(), GENERIC_READ, share, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(locks.back(), INVALID_HANDLE_VALUE);
    }

    std::string Item(int n) { return Narrow(Path(n, L"inf")) + "...OK"; }

    std::wstring infDir = SystemRootDir() + L"\\inf";
    std::vector<HANDLE> locks;
};

TEST_F(InfFiles, SelectsByInfTextsThenDriverNamesCaseSensitively)
{
    Write(1, L"inf", std::string(kInfHead) + "; built for ZQTEST_UNIQUE_TEXT_1 boards\r\n");
    Write(1, L"pnf", "precompiled");
    Write(2, L"inf", std::string(kInfHead) + "[Files]\r\nzqtestdrv_unique2.sys\r\n");
    Write(3, L"inf", std::string(kInfHead) + "; zqtest_unique_text_1 in other letters\r\n");
    Write(3, L"pnf", "precompiled");
    const std::wstring utf16 = L"\xFEFF[Version]\r\n; ZQTEST_UNIQUE_TEXT_1\r\n";
    Write(4, L"inf", std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2));
    Write(5, L"inf", std::string("; zero byte\0; ZQTEST_UNIQUE_TEXT_1\r\n", 37));
    Write(6, L"inf", "");
    Write(7, L"inf", std::string(kInfHead) + "ServiceBinary=%12%\\ZQTESTDRV_UNIQUE2.sys\r\n");
    // The second [infs] entry cannot be narrowed; as an empty text it would match every file.
    AddEntries(&script.infs, {L"ZQTEST_UNIQUE_TEXT_1", L"\x4e2d\x6587"});
    AddEntries(&script.drivers, {L"zqtestdrv_unique2"});

    EXPECT_TRUE(InfPhase(script));
    Lines lines = Log();
    if (lines.size() > 2)  // the folder listing's order is the file system's
        std::sort(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(lines,
              Lines({"[TS]\tDelete infs:", Item(1), Item(2), "[TS]\t2 inf files are deleted"}));
    EXPECT_FALSE(PathExists(Path(1, L"inf")) || PathExists(Path(1, L"pnf")));
    EXPECT_FALSE(PathExists(Path(2, L"inf")));
    for (int kept : {3, 4, 5, 6, 7})
        EXPECT_TRUE(PathExists(Path(kept, L"inf"))) << kept;
    EXPECT_TRUE(PathExists(Path(3, L"pnf")));
}

TEST_F(InfFiles, FileInUseIsScheduledAndCountedUnreadableFileIsPassedOver)
{
    Write(8, L"inf", std::string(kInfHead) + "; ZQTEST_UNIQUE_TEXT_8\r\n");
    Write(8, L"pnf", "precompiled");
    Write(9, L"inf", std::string(kInfHead) + "; ZQTEST_UNIQUE_TEXT_8\r\n");
    Hold(8, FILE_SHARE_READ);  // readable, not deletable
    Hold(9, 0);                // not even readable
    AddEntries(&script.drivers, {L"ZQTEST_UNIQUE_TEXT_8"});

    EXPECT_TRUE(InfPhase(script));
    EXPECT_EQ(Log(), Lines({"[TS]\tDelete infs:", Item(8), "[TS]\t1 inf files are deleted"}));
    EXPECT_TRUE(PathExists(Path(8, L"inf")));  // until the restart
    EXPECT_FALSE(PathExists(Path(8, L"pnf")));
    std::vector<std::wstring> pending = PendingRenameSources();
    EXPECT_NE(std::find(pending.begin(), pending.end(), L"\\??\\" + Path(8, L"inf")),
              pending.end());
}

TEST_F(InfFiles, EmptyListsSelectNothingAndAStopEndsTheLoopAfterOneFile)
{
    Write(0, L"inf", std::string(kInfHead) + "; ZQTEST_UNIQUE_TEXT_0\r\n");
    Write(1, L"inf", std::string(kInfHead) + "; ZQTEST_UNIQUE_TEXT_0\r\n");
    EXPECT_TRUE(InfPhase(script));
    Lines expected = {"[TS]\tDelete infs:", "[TS]\t0 inf files are deleted"};
    EXPECT_EQ(Log(), expected);

    // At most one of the two selected files goes; the count line stays.
    AddEntries(&script.infs, {L"ZQTEST_UNIQUE_TEXT_0"});
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(InfPhase(script));
    bool kept0 = PathExists(Path(0, L"inf")), kept1 = PathExists(Path(1, L"inf"));
    ASSERT_TRUE(kept0 || kept1);
    expected.push_back(expected[0]);
    if (kept0 != kept1)
        expected.insert(expected.end(), {Item(kept0 ? 1 : 0), "[TS]\t1 inf files are deleted"});
    else
        expected.push_back(expected[1]);
    EXPECT_EQ(Log(), expected);
}

const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";

class DriverServices : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        for (int n = 1; n <= 3; ++n) {
            RemoveScratchKey(HKEY_LOCAL_MACHINE, Key(n));
            MakeDeepTree(HKEY_LOCAL_MACHINE, Key(n));
        }
    }

    void TearDown() override
    {
        for (int n = 1; n <= 3; ++n)
            RemoveScratchKey(HKEY_LOCAL_MACHINE, Key(n));
        DriverTest::TearDown();
    }

    static std::wstring Key(int n) { return kServices + L"zqtestsvc" + std::to_wstring(n); }
    static std::string Item(int n) { return Narrow(Key(n)) + "...OK"; }
};

TEST_F(DriverServices, DeletesPresentKeysWithEverythingBelowAndPassesOverTheRest)
{
    // An empty name or one of backslashes would address the Services key itself.
    AddEntries(&script.drivers, {L"zqtestsvc1", L"", L"zqtestmissing", L"\\\\", L"zqtestsvc2"});

    EXPECT_TRUE(DriverServicePhase(script));
    EXPECT_EQ(Log(), Lines({"[TS]\tDelete driver services(5):", Item(1), Item(2),
                            "[TS]\t2 driver services are deleted."}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Key(1)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Key(2)));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Key(3) + L"\\one\\two\\three"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kServices + L"PlugPlay"));
}

TEST_F(DriverServices, StopRequestIsSeenOnlyAfterTheLoopAndDropsTheCountLine)
{
    AddEntries(&script.drivers, {L"zqtestsvc1", L"zqtestsvc2"});
    ServiceCurrentState() = SERVICE_STOP_PENDING;

    EXPECT_FALSE(DriverServicePhase(script));
    EXPECT_EQ(Log(), Lines({"[TS]\tDelete driver services(2):", Item(1), Item(2)}));
}

}  // namespace
