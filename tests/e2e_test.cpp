// End to end: the built program is started as an administrator or installer would start it,
// with a working directory that holds zqclean.ini. It installs itself as a service, the
// service cleans, the launcher removes the service and ends. The tests check the exit code,
// the whole run log (stamps masked), what is gone and what stays, and that neither the
// service nor the prepared copy of the script is left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/E2eSupport.h"
#include "tests/support/TestSupport.h"

namespace {

const DWORD kCompletedRun = 0xFFFFFFFF;  // status -1: no step writes a value for success
const DWORD kServiceDoesNotExist = 1060;

std::vector<std::string> Lines(std::initializer_list<std::vector<std::string>> groups)
{
    std::vector<std::string> all;
    for (const auto& group : groups)
        all.insert(all.end(), group.begin(), group.end());
    return all;
}

// The driver-package and INF sections: only where the run is not a 32-bit process under
// WOW64, i.e. always in zqclean64 and never in zqclean32 in this 64-bit prefix.
std::vector<std::string> DriverStoreAndInfLines(const std::vector<std::string>& infItems,
                                                int infCount)
{
#ifdef _WIN64
    std::vector<std::string> lines = {
        Stamped("Delete driver packages(0) from DriverStore:"),
        Stamped("0 driver packages are deleted from the DriverStore."),
        Stamped("Delete infs:"),
    };
    lines.insert(lines.end(), infItems.begin(), infItems.end());
    lines.push_back(Stamped(std::to_string(infCount) + " inf files are deleted"));
    return lines;
#else
    (void)infItems;
    (void)infCount;
    return {};
#endif
}

// The log of a run whose script lists nothing: every phase runs on empty lists.
std::vector<std::string> EmptyRunLog(const std::string& scriptPath)
{
    return Lines({
        {Stamped("Ininame: " + scriptPath)},
        DriverStoreAndInfLines({}, 0),
        {
            Stamped("Delete driver services(0):"),
            Stamped("0 driver services are deleted."),
            Stamped("Delete files(0):"),
            Stamped("0 files are deleted."),
            Stamped("Delete .NET dlls from GAC(0):"),
            Stamped("0 .NET dlls are deleted."),
            Stamped("Delete folders(0):"),
            Stamped("0 folders are deleted."),
            Stamped("Delete registry keys(0):"),
            Stamped("0 registry keys are deleted"),
            Stamped("Undelete setup...OK."),
            Stamped("Find enumerated devices to delete"),
            Stamped("No enumerated devices found."),
            ClosingLine(),
        },
    });
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        // With no display Wine's message box returns at once, so the interactive launcher
        // can be tested too; a developer's X display must not catch it.
        SetEnvironmentVariableW(L"DISPLAY", nullptr);
        UseBuiltinDifxapi();
        RemoveCleanServiceForTest();
        ASSERT_EQ(kServiceDoesNotExist, CleanServiceOpenError());
        program = BuiltProgramPath();
        ASSERT_TRUE(PathExists(program)) << Narrow(program);
    }

    // The state every launch must leave: no service, no prepared copy.
    void ExpectNothingLeftBehind(const std::wstring& workDir)
    {
        EXPECT_EQ(kServiceDoesNotExist, CleanServiceOpenError());
        EXPECT_FALSE(PathExists(workDir + L"\\zqclean.ini.srvc"));
    }

    std::wstring program;
};

TEST_F(EndToEnd, CompletedRunRemovesWhatTheScriptListsAndLogsEveryStep)
{
    std::wstring work = MakeScratchDir(L"e2e-run");
    CreateDirectoryW((work + L"\\data").c_str(), nullptr);
    CreateDirectoryW((work + L"\\extra").c_str(), nullptr);
    WriteFileBytes(work + L"\\data\\held.dat", "in use");
    WriteFileBytes(work + L"\\data\\stays.dat", "not listed");
    WriteFileBytes(work + L"\\extra\\zqe2e1.tmp", "masked");
    WriteFileBytes(work + L"\\extra\\other.tmp", "not matched");

    // The product folder under both program folders: zqclean64 removes the 32-bit twin too.
    const std::wstring folder64 = L"C:\\Program Files\\zqe2e Example";
    const std::wstring folder32 = L"C:\\Program Files (x86)\\zqe2e Example";
    for (const std::wstring& folder : {folder64, folder32}) {
        RemoveTree(folder);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        CreateDirectoryW((folder + L"\\sub").c_str(), nullptr);
        WriteFileBytes(folder + L"\\zqe2e.dll", "dll");
        WriteFileBytes(folder + L"\\sub\\readme.txt", "readme");
    }

    // A driver service and an INF file that names it, with its precompiled companion.
    const std::wstring service = L"SYSTEM\\CurrentControlSet\\Services\\zqe2eDrv";
    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, service);
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, service, L"ImagePath", L"zqe2edrv.sys"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, service + L"\\Enum", L"0", L"ROOT\\ZQE2EDEV\\0000"));
    const std::wstring inf = L"C:\\windows\\inf\\oemzqe2e.inf";
    const std::wstring pnf = L"C:\\windows\\inf\\oemzqe2e.pnf";
    WriteFileBytes(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Svc]\r\nServiceName=zqe2eDrv\r\n");
    WriteFileBytes(pnf, "compiled");

    // Registry keys and a value; one listed key does not exist.
    const std::wstring product = L"SOFTWARE\\zqe2e";
    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, product);
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, product + L"\\Example\\Deep\\Deeper", L"v", L"1"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, product + L"\\Example", L"", L"default"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, product + L"\\Keep", L"LastRun", L"today"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, product + L"\\Keep", L"Other", L"stays"));

    // The setup file types and the uninstall entry, which every run removes.
    ASSERT_TRUE(SetRegString(HKEY_CLASSES_ROOT, L"KDSetup\\shell\\open\\command", L"", L"x"));
    ASSERT_TRUE(SetRegString(HKEY_CLASSES_ROOT, L"KDSetup\\DefaultIcon", L"", L"x,0"));
    ASSERT_TRUE(SetRegString(HKEY_CLASSES_ROOT, L".kds", L"", L"KDSetup"));
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ";
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, uninstall, L"DisplayName", L"ZQ"));

    // A device below the ROOT enumerator and one of its interfaces.
    const std::wstring device = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQE2EDEV";
    const std::wstring guid = L"{5a0e2e00-0000-4000-8000-00000000e2e0}";
    const std::wstring classKey = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + guid;
    const std::wstring iface = classKey + L"\\##?#ROOT#ZQE2EDEV#0000#" + guid;
    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, device);
    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, classKey);
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, device + L"\\0000", L"Service", L"zqe2eDrv"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, iface + L"\\#", L"SymbolicLink", L"x"));

    // Blank lines, trailing blanks and headers in any case, as script authors write them.
    std::string script =
        "[General]\r\n"
        "excludefolders=1\r\n"
        "\r\n"
        "[FOLDERS]\r\n"
        "%ProgramFiles%\\zqe2e Example   \r\n"
        "[files]\r\n"
        "zqe2e.dll\r\n"
        "C:\\zqtest\\e2e-run\\data\\held.dat\r\n"
        "C:\\zqtest\\e2e-run\\data\\gone.dat\r\n"
        "[exfolders]\r\n"
        "C:\\zqtest\\e2e-run\\extra\r\n"
        "[maskedfiles]\r\n"
        "zqe2e*.tmp\r\n"
        "[drivers]\r\n"
        "zqe2eDrv\r\n"
        "[infs]\r\n"
        "zqe2e-text-in-no-inf\r\n"
        "[registry]\r\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Example\r\n"
        "hkey_local_machine\\SOFTWARE\\zqe2e\\Keep:LastRun\r\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Missing\r\n"
        "[devices]\r\n"
        "ROOT\\ZQE2E\r\n";
    WriteFileBytes(work + L"\\zqclean.ini", script);

    // The test holds one listed file open without sharing: it can only go at restart.
    HANDLE held = CreateFileW((work + L"\\data\\held.dat").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WriteFileBytes(RunLogFile(), "a log of an earlier launch\n");

    Launch launch = LaunchProgram(program, L"-s", work);
    CloseHandle(held);

    ASSERT_TRUE(launch.started);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(kCompletedRun, launch.exitCode);

#ifdef _WIN64
    std::vector<std::string> fileItems = {
        "C:\\Program Files\\zqe2e Example\\zqe2e.dll...OK",
        "C:\\Program Files (x86)\\zqe2e Example\\zqe2e.dll...OK",
        "C:\\zqtest\\e2e-run\\data\\held.dat...AFTER BOOT",
        "C:\\zqtest\\e2e-run\\extra\\zqe2e1.tmp...OK",
    };
    std::vector<std::string> folderItems = {
        "C:\\Program Files\\zqe2e Example...OK",
        "C:\\Program Files (x86)\\zqe2e Example...OK",
    };
#else
    // zqclean32 sees %ProgramFiles% as the x86 folder and has no twins.
    std::vector<std::string> fileItems = {
        "C:\\Program Files (x86)\\zqe2e Example\\zqe2e.dll...OK",
        "C:\\zqtest\\e2e-run\\data\\held.dat...AFTER BOOT",
        "C:\\zqtest\\e2e-run\\extra\\zqe2e1.tmp...OK",
    };
    std::vector<std::string> folderItems = {
        "C:\\Program Files (x86)\\zqe2e Example...OK",
    };
#endif
    std::string fileCount = std::to_string(fileItems.size());
    std::string folderCount = std::to_string(folderItems.size());
    std::vector<std::string> expected = Lines({
        {Stamped("Ininame: C:\\zqtest\\e2e-run\\zqclean.ini")},
        DriverStoreAndInfLines({"C:\\windows\\inf\\oemzqe2e.inf...OK"}, 1),
        {
            Stamped("Delete driver services(1):"),
            "SYSTEM\\CurrentControlSet\\Services\\zqe2eDrv...OK",
            Stamped("1 driver services are deleted."),
            Stamped("Delete files(4):"),
        },
        fileItems,
        {
            Stamped(fileCount + " files are deleted."),
            Stamped("Delete .NET dlls from GAC(0):"),
            Stamped("0 .NET dlls are deleted."),
            Stamped("Delete folders(" + folderCount + "):"),
        },
        folderItems,
        {
            Stamped(folderCount + " folders are deleted."),
            Stamped("Delete registry keys(3):"),
            "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Example...OK",
            "V: hkey_local_machine\\SOFTWARE\\zqe2e\\Keep:LastRun...OK",
            Stamped("2 registry keys are deleted"),
            Stamped("Undelete setup...OK."),
            Stamped("Find enumerated devices to delete"),
            "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQE2EDEV...OK",
            "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + Narrow(guid) +
                "\\##?#ROOT#ZQE2EDEV#0000#" + Narrow(guid) + "...OK",
            Stamped("2 enumerated devices are deleted."),
            ClosingLine(),
        },
    });
    EXPECT_EQ(expected, RunLogLines());

    // Files and folders.
    EXPECT_FALSE(PathExists(folder32));
#ifdef _WIN64
    EXPECT_FALSE(PathExists(folder64));
#else
    EXPECT_TRUE(PathExists(folder64 + L"\\zqe2e.dll"));  // not the 32-bit program's folder
#endif
    EXPECT_FALSE(PathExists(work + L"\\extra\\zqe2e1.tmp"));
    EXPECT_TRUE(PathExists(work + L"\\extra\\other.tmp"));
    EXPECT_TRUE(PathExists(work + L"\\data\\stays.dat"));
    // Held open during the run: still there, and scheduled for the next restart.
    EXPECT_TRUE(PathExists(work + L"\\data\\held.dat"));
    std::vector<std::wstring> pending = PendingDeletions();
    bool scheduled = false;
    for (const std::wstring& source : pending)
        scheduled = scheduled || _wcsicmp(source.c_str(), (L"\\??\\" + work + L"\\data\\held.dat").c_str()) == 0;
    EXPECT_TRUE(scheduled);
    ForgetPendingDeletion(work + L"\\data\\held.dat");

    // Driver service and INF files.
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, service));
#ifdef _WIN64
    EXPECT_FALSE(PathExists(inf));
    EXPECT_FALSE(PathExists(pnf));
#else
    EXPECT_TRUE(PathExists(inf));  // the INF phase does not run under WOW64
    EXPECT_TRUE(PathExists(pnf));
#endif

    // Registry.
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, product + L"\\Example"));
    EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, product + L"\\Keep", L"LastRun"));
    EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, product + L"\\Keep", L"Other"));
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L"KDSetup"));
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".kds"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, uninstall));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, device));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, iface));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, classKey));  // only the device's interface goes

    ExpectNothingLeftBehind(work);

    RemoveTree(folder64);
    RemoveTree(folder32);
    DeleteFileW(inf.c_str());
    DeleteFileW(pnf.c_str());
    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, product);
    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, classKey);
    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, service);
    RemoveTree(work);
}

TEST_F(EndToEnd, RunStartedFromAFolderItWouldDeleteIsRefused)
{
    std::wstring work = MakeScratchDir(L"e2e-refuse");
    WriteFileBytes(work + L"\\keep.txt", "stays");
    const std::wstring key = L"SOFTWARE\\zqe2e-refuse";
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, key, L"v", L"stays"));
    WriteFileBytes(work + L"\\zqclean.ini",
                   "[folders]\nC:\\zqtest\\e2e-refuse\n[files]\nC:\\zqtest\\e2e-refuse\\keep.txt\n"
                   "[registry]\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-refuse\n");

    // Interactive: the final message box returns at once without a display.
    Launch launch = LaunchProgram(program, L"", work);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(1u, launch.exitCode);
    // The refusal writes no line of its own and no phase runs.
    std::vector<std::string> expected = {Stamped("Ininame: C:\\zqtest\\e2e-refuse\\zqclean.ini")};
    EXPECT_EQ(expected, RunLogLines());
    EXPECT_TRUE(PathExists(work + L"\\keep.txt"));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, key));
    ExpectNothingLeftBehind(work);

    // The comparison is exact: another letter case is not the working directory.
    WriteFileBytes(work + L"\\zqclean.ini", "[folders]\nc:\\ZQTEST\\e2e-refuse\n");
    launch = LaunchProgram(program, L"-S", work);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(kCompletedRun, launch.exitCode);
    std::vector<std::string> lines = RunLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(ClosingLine(), lines.back());

    RegDeleteTreeForTest(HKEY_LOCAL_MACHINE, key);
    RemoveTree(work);
}

TEST_F(EndToEnd, EachLaunchStartsItsOwnLog)
{
    std::wstring first = MakeScratchDir(L"e2e-first");
    std::wstring second = MakeScratchDir(L"e2e-second");
    const std::wstring key = L"SOFTWARE\\zqe2e-first";
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, key, L"v", L"1"));
    WriteFileBytes(first + L"\\zqclean.ini", "[registry]\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-first\n");
    WriteFileBytes(second + L"\\zqclean.ini", "[general]\n");

    Launch launch = LaunchProgram(program, L"-s", first);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(kCompletedRun, launch.exitCode);
    std::vector<std::string> firstLog = RunLogLines();
    ASSERT_GE(firstLog.size(), 2u);
    EXPECT_EQ(Stamped("Ininame: C:\\zqtest\\e2e-first\\zqclean.ini"), firstLog.front());
    EXPECT_NE(firstLog.end(), std::find(firstLog.begin(), firstLog.end(),
                                        "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-first...OK"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, key));

    launch = LaunchProgram(program, L"-s", second);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(kCompletedRun, launch.exitCode);
    EXPECT_EQ(EmptyRunLog("C:\\zqtest\\e2e-second\\zqclean.ini"), RunLogLines());
    ExpectNothingLeftBehind(first);
    ExpectNothingLeftBehind(second);
    RemoveTree(first);
    RemoveTree(second);
}

TEST_F(EndToEnd, RemoveModeDeletesTheServiceAndLeavesTheLogAlone)
{
    std::wstring work = MakeScratchDir(L"e2e-remove");
    const std::string earlier = "[2011/05/14 10:03:07,046]\tan earlier launch\r\n";
    WriteFileBytes(RunLogFile(), earlier);

    // No service: nothing to do, still exit code 1.
    Launch launch = LaunchProgram(program, L"-u", work);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(1u, launch.exitCode);
    EXPECT_EQ(earlier, RunLogBytes());

    // A service of that name (never started) is deleted.
    ASSERT_TRUE(CreateCleanServiceForTest("C:\\zqtest\\e2e-remove\\absent.exe"));
    ASSERT_EQ(0u, CleanServiceOpenError());
    launch = LaunchProgram(program, L"-U", work);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(1u, launch.exitCode);
    EXPECT_EQ(kServiceDoesNotExist, CleanServiceOpenError());
    EXPECT_EQ(earlier, RunLogBytes());
    EXPECT_FALSE(PathExists(work + L"\\zqclean.ini.srvc"));
    RemoveTree(work);
}

TEST_F(EndToEnd, ServiceModeTypedByHandCannotEnterTheDispatcher)
{
    std::wstring work = MakeScratchDir(L"e2e-byhand");
    WriteFileBytes(RunLogFile(), "");
    Launch launch = LaunchProgram(program, L"-SrvcRun", work);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(1u, launch.exitCode);
    // 1063: the process was not started by the service manager.
    std::vector<std::string> expected = {Stamped("zqclean error(725): 1063")};
    EXPECT_EQ(expected, RunLogLines());
    EXPECT_EQ(kServiceDoesNotExist, CleanServiceOpenError());
    RemoveTree(work);
}

TEST_F(EndToEnd, LeftOverServiceIsRemovedBeforeTheLaunchInstallsItsOwn)
{
    std::wstring work = MakeScratchDir(L"e2e-leftover");
    WriteFileBytes(work + L"\\zqclean.ini", "");
    ASSERT_TRUE(CreateCleanServiceForTest("C:\\zqtest\\e2e-leftover\\absent.exe -srvcrun"));
    ASSERT_EQ(0u, CleanServiceOpenError());

    Launch launch = LaunchProgram(program, L"-s", work);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(kCompletedRun, launch.exitCode);
    EXPECT_EQ(EmptyRunLog("C:\\zqtest\\e2e-leftover\\zqclean.ini"), RunLogLines());
    ExpectNothingLeftBehind(work);
    RemoveTree(work);
}

TEST_F(EndToEnd, BlanksInTheProgramFolderAndTheWorkingDirectory)
{
    std::wstring root = MakeScratchDir(L"e2e-blanks");
    std::wstring programDir = root + L"\\Program Folder";
    std::wstring work = root + L"\\work dir";
    ASSERT_TRUE(CreateDirectoryW(programDir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    std::wstring copy = programDir + L"\\" + program.substr(program.find_last_of(L'\\') + 1);
    ASSERT_TRUE(CopyFileW(program.c_str(), copy.c_str(), FALSE));
    WriteFileBytes(work + L"\\old stuff.txt", "x");
    WriteFileBytes(work + L"\\zqclean.ini", "[files]\nC:\\zqtest\\e2e-blanks\\work dir\\old stuff.txt\n");

    // Interactive, from a folder whose name has a blank: the service's command line must
    // name this very program.
    Launch launch = LaunchProgram(copy, L"", work);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(kCompletedRun, launch.exitCode);
    std::vector<std::string> lines = RunLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Stamped("Ininame: C:\\zqtest\\e2e-blanks\\work dir\\zqclean.ini"), lines.front());
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "C:\\zqtest\\e2e-blanks\\work dir\\old stuff.txt...OK"));
    EXPECT_EQ(ClosingLine(), lines.back());
    EXPECT_FALSE(PathExists(work + L"\\old stuff.txt"));
    ExpectNothingLeftBehind(work);
    RemoveTree(root);
}

TEST_F(EndToEnd, StopRequestLetsTheItemInHandFinishBeforeTheServiceProcessEnds)
{
    std::wstring work = MakeScratchDir(L"e2e-stop");
    std::wstring tool = StandinPath(L"e2eslowtool.exe");
    ASSERT_TRUE(CopyFileW(tool.c_str(), (work + L"\\gacutil.exe").c_str(), FALSE)) << Narrow(tool);
    WriteFileBytes(work + L"\\zqclean.ini", "[.NET]\nzqe2e.Slow\nzqe2e.NeverReached\n");

    HANDLE launcher = StartProgram(program, L"-s", work);
    ASSERT_NE(nullptr, launcher);
    // Wait until the run is busy with the first assembly, then ask the service to stop.
    bool busy = false;
    for (int i = 0; i < 300 && !busy; ++i) {
        busy = PathExists(work + L"\\slowtool.started");
        if (!busy)
            Sleep(100);
    }
    ASSERT_TRUE(busy);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "zqcleansrvc", SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, service);
    SERVICE_STATUS status = {};
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    // The handler reports stopped at once; it does not wait for the run.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(launcher, 60000));
    DWORD exitCode = 0;
    GetExitCodeProcess(launcher, &exitCode);
    CloseHandle(launcher);
    EXPECT_EQ(kCompletedRun, exitCode);

    // The service process outlives its stopped report until the tool returned and the item
    // was logged; then the run ends at its check, before the next assembly.
    std::vector<std::string> expected = Lines({
        {Stamped("Ininame: C:\\zqtest\\e2e-stop\\zqclean.ini")},
        DriverStoreAndInfLines({}, 0),
        {
            Stamped("Delete driver services(0):"),
            Stamped("0 driver services are deleted."),
            Stamped("Delete files(0):"),
            Stamped("0 files are deleted."),
            Stamped("Delete .NET dlls from GAC(2):"),
            "zqe2e.Slow...OK",
        },
    });
    std::vector<std::string> lines;
    for (int i = 0; i < 150; ++i) {
        lines = RunLogLines();
        if (lines == expected)
            break;
        Sleep(100);
    }
    EXPECT_EQ(expected, lines);
    Sleep(1000);
    EXPECT_EQ(expected, RunLogLines());  // and nothing after it
    EXPECT_TRUE(PathExists(work + L"\\slowtool.done"));
    // The service record goes when its process has ended.
    for (int i = 0; i < 100 && CleanServiceOpenError() != kServiceDoesNotExist; ++i)
        Sleep(100);
    ExpectNothingLeftBehind(work);
    RemoveTree(work);
}

}  // namespace
