// Driver package removal through the DIFxAPI stand-ins, under Wine, with real store folders.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "script/CleanScript.h"
#include "tests/support/DriverSupport.h"
#include "tests/support/TestSupport.h"

namespace {

const wchar_t* const kVariants[] = {L"difx", L"difx-invalid", L"difx-nolog"};

bool StandinLoaded()
{
    return GetModuleHandleW(L"DIFxAPI.dll") != nullptr;
}

class DriverPackages : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        // Wine's builtin difxapi stub would be found by name: with "native" only a real DLL
        // loads, so the load from the working directory reaches the stand-in.
        oldOverride = SetWineDllOverride(L"difxapi", L"native", &hadOverride);
        scratch = StartScratchLog(L"driver");
        for (const wchar_t* variant : kVariants)
            ResetStandin(variant);
        drvStore = SystemRootDir() + L"\\system32\\DRVSTORE";
        repository = SystemRootDir() + L"\\system32\\DriverStore\\FileRepository";
        createdDrvStore = CreateDirectoryW(drvStore.c_str(), nullptr) != 0;
        createdDriverStore =
            CreateDirectoryW((SystemRootDir() + L"\\system32\\DriverStore").c_str(), nullptr) != 0;
        createdRepository = CreateDirectoryW(repository.c_str(), nullptr) != 0;
        RemoveOwnFolders();
    }

    void TearDown() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        RemoveOwnFolders();
        if (createdRepository)
            RemoveDirectoryW(repository.c_str());
        if (createdDriverStore)
            RemoveDirectoryW((SystemRootDir() + L"\\system32\\DriverStore").c_str());
        if (createdDrvStore)
            RemoveDirectoryW(drvStore.c_str());
        for (const wchar_t* variant : kVariants)
            ResetStandin(variant);
        RestoreWineDllOverride(L"difxapi", oldOverride, hadOverride);
        RemoveTree(scratch);
    }

    // Every folder or file of ours in the two roots, from this run or an earlier one.
    void RemoveOwnFolders()
    {
        for (const std::wstring& root : {drvStore, repository}) {
            WIN32_FIND_DATAW data;
            HANDLE find = FindFirstFileW((root + L"\\*").c_str(), &data);
            if (find == INVALID_HANDLE_VALUE)
                continue;
            do {
                std::wstring name = data.cFileName;
                std::wstring lower = name;
                std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
                if (lower.compare(0, 9, L"zqtestpkg") == 0) {
                    RemoveTree(root + L"\\" + name);
                    DeleteFileW((root + L"\\" + name).c_str());
                }
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
    }

    void AddFolder(const std::wstring& root, const std::wstring& name)
    {
        ASSERT_TRUE(CreateDirectoryW((root + L"\\" + name).c_str(), nullptr)) << Narrow(name);
    }

    void SetResults(const std::string& table)
    {
        WriteFileBytes(StandinDir(L"difx") + L"\\difx-results.txt", table);
    }

    // The log record of one package as the stand-in reports it.
    // (the stand-in reports every non-zero result as an ERROR event, also the one we accept).
    std::vector<std::string> Record(const std::wstring& infPath, const std::string& event,
                                    const std::string& outcome)
    {
        std::string path = Narrow(infPath);
        return {path + "...I: Uninstalling " + path, event, outcome};
    }

    std::wstring scratch, drvStore, repository, oldOverride;
    bool hadOverride = false;
    bool createdDrvStore = false, createdDriverStore = false, createdRepository = false;
};

// The records between header and count line, each "path...", callback lines and outcome;
// every DRVSTORE record must precede the FileRepository ones. Returned sorted, since the
// order of folders within a root is the file system's.
std::vector<std::vector<std::string>> Records(const std::vector<std::string>& lines,
                                              size_t first, size_t last)
{
    std::vector<std::vector<std::string>> records;
    for (size_t i = first; i < last; ++i) {
        if (lines[i].find("...") != std::string::npos)
            records.emplace_back();
        if (records.empty())
            ADD_FAILURE() << "line outside a record: " << lines[i];
        else
            records.back().push_back(lines[i]);
    }
    bool inRepository = false;
    for (const auto& record : records) {
        bool repositoryRecord = record[0].find("FileRepository") != std::string::npos;
        EXPECT_FALSE(inRepository && !repositoryRecord) << "root order: " << record[0];
        inRepository = inRepository || repositoryRecord;
    }
    std::sort(records.begin(), records.end());
    return records;
}

TEST_F(DriverPackages, UninstallsEveryMatchingStoreFolderAndJudgesResults)
{
    AddFolder(drvStore, L"ZQTESTPKG_A_1");
    AddFolder(drvStore, L"ZQTESTPKG_B_1");
    AddFolder(drvStore, L"ZQTESTPKG_C_1");
    AddFolder(drvStore, L"zqtestpkg_a_2");   // differs in letter case only: not matched
    AddFolder(drvStore, L"ZQTESTPKG_Aside");  // no "_" after the entry: not matched
    WriteFileBytes(drvStore + L"\\ZQTESTPKG_A_file", "not a folder");
    AddFolder(drvStore, L"zqtestpkg_d_7");
    AddFolder(repository, L"zqtestpkg_d.inf_amd64_123");
    AddFolder(repository, L"zqtestpkg_d.inf_x86_456");
    AddFolder(repository, L"zqtestpkg_d_inf_amd64_789");  // "_" instead of ".inf_": not matched
    SetResults("0xE000020B ZQTESTPKG_B_1\n0xE0000203 ZQTESTPKG_C_1\n5 x86_456\n");

    zqCleanScript script;
    AddEntries(&script.drvPackages, {L"ZQTESTPKG_A", L"ZQTESTPKG_B", L"ZQTESTPKG_C", L"zqtestpkg_d"});

    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx").c_str()));
    EXPECT_FALSE(StandinLoaded());

    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "[TS]\tDelete driver packages(4) from DriverStore:");
    EXPECT_EQ(lines.back(), "[TS]\t4 driver packages are deleted from the DriverStore.");

    std::vector<std::vector<std::string>> expected = {
        Record(drvStore + L"\\ZQTESTPKG_A_1\\ZQTESTPKG_A.inf", "S: -", "OK"),
        Record(drvStore + L"\\ZQTESTPKG_B_1\\ZQTESTPKG_B.inf", "E: -", "OK"),
        Record(drvStore + L"\\ZQTESTPKG_C_1\\ZQTESTPKG_C.inf", "E: -", "FAILED(Err:-536870397)"),
        Record(drvStore + L"\\zqtestpkg_d_7\\zqtestpkg_d.inf", "S: -", "OK"),
        Record(repository + L"\\zqtestpkg_d.inf_amd64_123\\zqtestpkg_d.inf", "S: -", "OK"),
        Record(repository + L"\\zqtestpkg_d.inf_x86_456\\zqtestpkg_d.inf", "E: -", "FAILED(Err:5)"),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Records(lines, 1, lines.size() - 1), expected);

    std::vector<std::string> calls = StandinCalls(L"difx");
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls.front(), "setcallback nonnull context=null");
    EXPECT_EQ(calls.back(), "setcallback null context=null");
    std::vector<std::string> uninstalls(calls.begin() + 1, calls.end() - 1);
    std::sort(uninstalls.begin(), uninstalls.end());
    std::vector<std::string> expectedUninstalls;
    for (const auto& record : expected) {
        std::string path = record[0].substr(0, record[0].find("..."));
        expectedUninstalls.push_back("uninstall " + path + " 0x24 info=null reboot=nonnull");
    }
    std::sort(expectedUninstalls.begin(), expectedUninstalls.end());
    EXPECT_EQ(uninstalls, expectedUninstalls);
}

TEST_F(DriverPackages, FirstMatchingEntryDecidesByPlainPrefix)
{
    // "ZQTESTPKG" also claims the folder of ZQTESTPKG_X: the library is asked for an INF that
    // is not there and its failure is logged.
    AddFolder(drvStore, L"ZQTESTPKG_X_1");
    SetResults("0xE0000203\n");
    zqCleanScript script;
    AddEntries(&script.drvPackages, {L"ZQTESTPKG", L"ZQTESTPKG_X"});

    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx").c_str()));
    std::string path = Narrow(drvStore + L"\\ZQTESTPKG_X_1\\ZQTESTPKG.inf");
    std::vector<std::string> expected = {
        "[TS]\tDelete driver packages(2) from DriverStore:",
        path + "...I: Uninstalling " + path,
        "E: -",
        "FAILED(Err:-536870397)",
        "[TS]\t0 driver packages are deleted from the DriverStore.",
    };
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(DriverPackages, EmptyListStillLoadsRegistersAndCounts)
{
    zqCleanScript script;
    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx").c_str()));
    std::vector<std::string> expected = {
        "[TS]\tDelete driver packages(0) from DriverStore:",
        "[TS]\t0 driver packages are deleted from the DriverStore.",
    };
    EXPECT_EQ(LogLines(), expected);
    std::vector<std::string> calls = {"setcallback nonnull context=null",
                                      "setcallback null context=null"};
    EXPECT_EQ(StandinCalls(L"difx"), calls);
    EXPECT_FALSE(StandinLoaded());
}

TEST_F(DriverPackages, LibraryMissingOrWithoutUninstallEndsThePhaseWithOneLine)
{
    zqCleanScript script;
    AddEntries(&script.drvPackages, {L"ZQTESTPKG_A"});
    AddFolder(drvStore, L"ZQTESTPKG_A_1");

    std::wstring empty = scratch + L"\\empty";
    CreateDirectoryW(empty.c_str(), nullptr);
    EXPECT_TRUE(DriverPackagePhase(script, empty.c_str()));
    EXPECT_TRUE(DriverPackagePhase(script, L""));  // the root of the current drive (X:)
    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx-invalid").c_str()));
    EXPECT_FALSE(StandinLoaded());  // the invalid library was released again

    std::vector<std::string> expected = {
        "[TS]\tCannot uninstall driver packages (DIFxAPI.dll not found.)",
        "[TS]\tCannot uninstall driver packages (DIFxAPI.dll not found.)",
        "[TS]\tCannot uninstall driver packages (DIFxAPI.dll version is invalid.)",
    };
    EXPECT_EQ(LogLines(), expected);
    EXPECT_TRUE(StandinCalls(L"difx-invalid").empty());
}

TEST_F(DriverPackages, LibraryWithoutLogCallbackStillUninstalls)
{
    AddFolder(repository, L"zqtestpkg.inf_amd64_1");
    zqCleanScript script;
    AddEntries(&script.drvPackages, {L"zqtestpkg"});

    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx-nolog").c_str()));
    std::string path = Narrow(repository + L"\\zqtestpkg.inf_amd64_1\\zqtestpkg.inf");
    std::vector<std::string> expected = {
        "[TS]\tDelete driver packages(1) from DriverStore:",
        path + "...OK",
        "[TS]\t1 driver packages are deleted from the DriverStore.",
    };
    EXPECT_EQ(LogLines(), expected);
    std::vector<std::string> calls = {"uninstall " + path + " 0x24 info=null reboot=nonnull"};
    EXPECT_EQ(StandinCalls(L"difx-nolog"), calls);
}

TEST_F(DriverPackages, LoadByNameComesBeforeTheWorkingDirectory)
{
    // With the stand-in's folder among the library folders the system search finds it,
    // although the working directory holds the variant without DriverPackageUninstallW.
    // (PATH does not do here: Wine's search stops at its placeholder in system32, which the
    // "native" override then refuses.)
    ASSERT_TRUE(SetDllDirectoryW(StandinDir(L"difx").c_str()));
    zqCleanScript script;
    bool goesOn = DriverPackagePhase(script, StandinDir(L"difx-invalid").c_str());
    SetDllDirectoryW(nullptr);

    EXPECT_TRUE(goesOn);
    ASSERT_EQ(LogLines().size(), 2u);
    EXPECT_EQ(LogLines()[0], "[TS]\tDelete driver packages(0) from DriverStore:");
    EXPECT_EQ(StandinCalls(L"difx").size(), 2u);
}

TEST_F(DriverPackages, StopRequestEndsEnumerationButKeepsTheCountLine)
{
    AddFolder(drvStore, L"ZQTESTPKG_A_1");
    AddFolder(repository, L"zqtestpkg_a.inf_amd64_1");
    zqCleanScript script;
    AddEntries(&script.drvPackages, {L"ZQTESTPKG_A", L"zqtestpkg_a"});

    // "." comes before our folders: its first unmatched entry sees the request.
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(DriverPackagePhase(script, StandinDir(L"difx").c_str()));
    std::vector<std::string> expected = {
        "[TS]\tDelete driver packages(2) from DriverStore:",
        "[TS]\t0 driver packages are deleted from the DriverStore.",
    };
    EXPECT_EQ(LogLines(), expected);
    // The library is released on a stop too, after its callback was withdrawn.
    std::vector<std::string> calls = {"setcallback nonnull context=null",
                                      "setcallback null context=null"};
    EXPECT_EQ(StandinCalls(L"difx"), calls);
    EXPECT_FALSE(StandinLoaded());

    // A stop that is already there after a failure line does not change the answer.
    ServiceCurrentState() = SERVICE_STOPPED;
    EXPECT_TRUE(DriverPackagePhase(script, StandinDir(L"difx-invalid").c_str()));
}

TEST(DifxLogCallback, OneUnstampedLinePerEvent)
{
    std::wstring dir = StartScratchLog(L"difxlog");
    DifxLogCallback(0, 0, L"done", nullptr);
    DifxLogCallback(1, 0, L"info text", nullptr);
    DifxLogCallback(2, 5, L"warned", reinterpret_cast<void*>(1));
    DifxLogCallback(3, 0xE000020B, L"failed", nullptr);
    DifxLogCallback(4, 0, L"other", nullptr);
    DifxLogCallback(-1, 0, nullptr, nullptr);
    DifxLogCallback(1, 0, nullptr, nullptr);
    std::vector<std::string> expected = {"S: done", "I: info text", "W: warned", "E: failed",
                                         "D: other", "D: -", "I: -"};
    EXPECT_EQ(LogLines(), expected);
    RemoveTree(dir);
}

}  // namespace
