// End to end: the built program is started as an administrator or installer would start it,
// in a working directory that holds zqclean.ini. Every launch must leave neither the service
// nor the prepared copy behind; run logs are compared whole, with the stamps masked.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/DriverSupport.h"
#include "tests/support/RegistrySupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;
const DWORD kCompletedRun = 0xFFFFFFFF;  // status -1: no step writes a value for success
const DWORD kNoService = 1060;
const wchar_t kRunLog[] = L"C:\\zqclean.log";
const std::string kClosing(92, '-');
const HKEY HKLM = HKEY_LOCAL_MACHINE;

std::string S(const std::string& text) { return "[TS]\t" + text; }
Lines Log() { return RunLogLines(kRunLog); }
bool Has(const Lines& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Lines Join(std::initializer_list<Lines> groups)
{
    Lines all;
    for (const Lines& group : groups)
        all.insert(all.end(), group.begin(), group.end());
    return all;
}

std::wstring Program()
{
    std::wstring tests = TestProgramDir();
#ifdef _WIN64
    return tests.substr(0, tests.rfind(L'\\')) + L"\\zqclean64.exe";
#else
    return tests.substr(0, tests.rfind(L'\\')) + L"\\zqclean32.exe";
#endif
}

HANDLE Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& dir)
{
    std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        dir.c_str(), &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

// The exit code; 0xdeadbeef when the process did not start or did not end within two minutes.
DWORD Finish(HANDLE process)
{
    DWORD code = 0xdeadbeef;
    if (process == nullptr)
        return code;
    if (WaitForSingleObject(process, 120000) != WAIT_OBJECT_0)
        TerminateProcess(process, code);
    else
        GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

DWORD Launch(const std::wstring& arguments, const std::wstring& dir)
{
    return Finish(Start(Program(), arguments, dir));
}

// 0 when the service "zqcleansrvc" can be opened, otherwise the error of OpenServiceA.
DWORD ServiceOpenError()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    SetLastError(0xdeadbeef);
    SC_HANDLE service = OpenServiceA(manager, "zqcleansrvc", GENERIC_READ);
    DWORD error = service != nullptr ? 0 : GetLastError();
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

// A service of the program's name as an earlier launch could have left it (never started).
bool PlantLeftOverService(const char* commandLine)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceA(manager, "zqcleansrvc", "zqclean test leftover",
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, commandLine,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

// The log of a run whose script lists nothing. zqclean32 under this 64-bit prefix skips the
// driver-package and INF phases; Wine's own difxapi stub serves zqclean64.
Lines EmptyRunLog(const std::string& scriptPath)
{
    return Join({{S("Ininame: " + scriptPath)},
#ifdef _WIN64
                 {S("Delete driver packages(0) from DriverStore:"),
                  S("0 driver packages are deleted from the DriverStore."), S("Delete infs:"),
                  S("0 inf files are deleted")},
#endif
                 {S("Delete driver services(0):"), S("0 driver services are deleted."),
                  S("Delete files(0):"), S("0 files are deleted."),
                  S("Delete .NET dlls from GAC(0):"), S("0 .NET dlls are deleted."),
                  S("Delete folders(0):"), S("0 folders are deleted."),
                  S("Delete registry keys(0):"), S("0 registry keys are deleted"),
                  S("Undelete setup...OK."), S("Find enumerated devices to delete"),
                  S("No enumerated devices found."), kClosing}});
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Without a display Wine's message box returns at once, so the interactive launcher
        // can be tested too; a developer's X display must not catch it.
        SetEnvironmentVariableW(L"DISPLAY", nullptr);
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceA(manager, "zqcleansrvc", SERVICE_ALL_ACCESS);
        if (service != nullptr) {
            SERVICE_STATUS status;
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
        for (int i = 0; i < 100 && ServiceOpenError() == 0; ++i)
            Sleep(100);
        ASSERT_EQ(kNoService, ServiceOpenError());
        ASSERT_TRUE(PathExists(Program())) << Narrow(Program());
    }

    void ExpectNothingLeftBehind(const std::wstring& work)
    {
        EXPECT_EQ(kNoService, ServiceOpenError());
        EXPECT_FALSE(PathExists(work + L"\\zqclean.ini.srvc"));
    }
};

// One launch through every phase, each with at least one item in zqclean64.
TEST_F(EndToEnd, CompletedRunRemovesWhatTheScriptListsAndLogsEveryStep)
{
    std::wstring work = MakeScratchDir(L"e2e-run");
    CreateDirectoryW((work + L"\\data").c_str(), nullptr);
    CreateDirectoryW((work + L"\\extra").c_str(), nullptr);
    WriteFileBytes(work + L"\\data\\held.dat", "in use");
    WriteFileBytes(work + L"\\data\\stays.dat", "not listed");
    WriteFileBytes(work + L"\\extra\\zqe2e1.tmp", "masked");
    WriteFileBytes(work + L"\\extra\\other.tmp", "not matched");

    // The driver-store library and the assembly tool, from the working directory. Wine's
    // difxapi stub is kept out, so the load by name fails and the stand-in is taken.
    ASSERT_TRUE(CopyFileW((StandinDir(L"difx") + L"\\DIFxAPI.dll").c_str(),
                          (work + L"\\DIFxAPI.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    const std::wstring repository = SystemRootDir() + L"\\system32\\DriverStore\\FileRepository";
    const std::wstring package = repository + L"\\zqe2epkg.inf_amd64_1";
    CreateDirectoryW((SystemRootDir() + L"\\system32\\DriverStore").c_str(), nullptr);
    CreateDirectoryW(repository.c_str(), nullptr);
    CreateDirectoryW(package.c_str(), nullptr);

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
    RemoveScratchKey(HKLM, service);
    MakeKey(HKLM, service, {{L"ImagePath", L"zqe2edrv.sys"}});
    const std::wstring inf = L"C:\\windows\\inf\\oemzqe2e.inf";
    const std::wstring pnf = L"C:\\windows\\inf\\oemzqe2e.pnf";
    WriteFileBytes(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Svc]\r\nServiceName=zqe2eDrv\r\n");
    WriteFileBytes(pnf, "compiled");

    // Registry keys and a value; one listed key does not exist.
    const std::wstring product = L"SOFTWARE\\zqe2e";
    RemoveScratchKey(HKLM, product);
    MakeKey(HKLM, product + L"\\Example\\Deep\\Deeper", {{L"v", L"1"}});
    MakeKey(HKLM, product + L"\\Keep", {{L"LastRun", L"today"}, {L"Other", L"stays"}});

    // The setup file types and the uninstall entry, which every run removes.
    MakeKey(HKEY_CLASSES_ROOT, L"KDSetup\\shell\\open\\command", {{L"", L"x"}});
    MakeKey(HKEY_CLASSES_ROOT, L".kds", {{L"", L"KDSetup"}});
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ";
    MakeKey(HKLM, uninstall, {{L"DisplayName", L"ZQ"}});

    // A device below the ROOT enumerator and one of its interfaces.
    const std::wstring device = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQE2EDEV";
    const std::wstring guid = L"{5a0e2e00-0000-4000-8000-00000000e2e0}";
    const std::wstring classKey = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + guid;
    const std::wstring iface = classKey + L"\\##?#ROOT#ZQE2EDEV#0000#" + guid;
    RemoveScratchKey(HKLM, device);
    RemoveScratchKey(HKLM, classKey);
    MakeKey(HKLM, device + L"\\0000", {{L"Service", L"zqe2eDrv"}});
    MakeKey(HKLM, iface + L"\\#", {{L"SymbolicLink", L"x"}});

    // Blank lines, trailing blanks and headers in any case, as script authors write them.
    WriteFileBytes(work + L"\\zqclean.ini",
                   "[General]\r\nexcludefolders=1\r\n\r\n"
                   "[FOLDERS]\r\n%ProgramFiles%\\zqe2e Example   \r\n"
                   "[files]\r\nzqe2e.dll\r\nC:\\zqtest\\e2e-run\\data\\held.dat\r\n"
                   "C:\\zqtest\\e2e-run\\data\\gone.dat\r\n"
                   "[exfolders]\r\nC:\\zqtest\\e2e-run\\extra\r\n"
                   "[maskedfiles]\r\nzqe2e*.tmp\r\n"
                   "[drvpackages]\r\nzqe2epkg\r\n"
                   "[drivers]\r\nzqe2eDrv\r\n"
                   "[infs]\r\nzqe2e-text-in-no-inf\r\n"
                   "[.NET]\r\nzqe2e.Assembly\r\n"
                   "[registry]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Example\r\n"
                   "hkey_local_machine\\SOFTWARE\\zqe2e\\Keep:LastRun\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Missing\r\n"
                   "[devices]\r\nROOT\\ZQE2E\r\n");

    // The test holds one listed file open without sharing: it can only go at restart.
    HANDLE held = CreateFileW((work + L"\\data\\held.dat").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WriteFileBytes(kRunLog, "a log of an earlier launch\n");

    bool hadOverride = false;
    std::wstring oldOverride = SetWineDllOverride(L"difxapi", L"native", &hadOverride);
    DWORD exitCode = Launch(L"-s", work);
    CloseHandle(held);
    RestoreWineDllOverride(L"difxapi", oldOverride, hadOverride);
    EXPECT_EQ(kCompletedRun, exitCode);

    const std::string storeInf = Narrow(package) + "\\zqe2epkg.inf";
#ifdef _WIN64
    Lines driverStoreAndInfs = {
        S("Delete driver packages(1) from DriverStore:"),
        storeInf + "...I: Uninstalling " + storeInf, "S: -", "OK",
        S("1 driver packages are deleted from the DriverStore."),
        S("Delete infs:"), "C:\\windows\\inf\\oemzqe2e.inf...OK", S("1 inf files are deleted")};
    const std::string difxCalls = "setcallback nonnull context=null\nuninstall " + storeInf +
                                  " 0x24 info=null reboot=nonnull\nsetcallback null context=null\n";
    Lines files = {"C:\\Program Files\\zqe2e Example\\zqe2e.dll...OK",
                   "C:\\Program Files (x86)\\zqe2e Example\\zqe2e.dll...OK"};
    Lines folders = {"C:\\Program Files\\zqe2e Example...OK",
                     "C:\\Program Files (x86)\\zqe2e Example...OK"};
#else
    // Not under WOW64: no driver-store library is even loaded. %ProgramFiles% is the x86
    // folder here, and zqclean32 has no twins.
    Lines driverStoreAndInfs;
    const std::string difxCalls;
    Lines files = {"C:\\Program Files (x86)\\zqe2e Example\\zqe2e.dll...OK"};
    Lines folders = {"C:\\Program Files (x86)\\zqe2e Example...OK"};
#endif
    files.push_back("C:\\zqtest\\e2e-run\\data\\held.dat...AFTER BOOT");
    files.push_back("C:\\zqtest\\e2e-run\\extra\\zqe2e1.tmp...OK");
    const std::string fileCount = std::to_string(files.size());
    const std::string folderCount = std::to_string(folders.size());
    const std::string devClass = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + Narrow(guid);
    EXPECT_EQ(Join({{S("Ininame: C:\\zqtest\\e2e-run\\zqclean.ini")},
                    driverStoreAndInfs,
                    {S("Delete driver services(1):"),
                     "SYSTEM\\CurrentControlSet\\Services\\zqe2eDrv...OK",
                     S("1 driver services are deleted."), S("Delete files(4):")},
                    files,
                    {S(fileCount + " files are deleted."), S("Delete .NET dlls from GAC(1):"),
                     "zqe2e.Assembly...OK", S("1 .NET dlls are deleted."),
                     S("Delete folders(" + folderCount + "):")},
                    folders,
                    {S(folderCount + " folders are deleted."), S("Delete registry keys(3):"),
                     "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Example...OK",
                     "V: hkey_local_machine\\SOFTWARE\\zqe2e\\Keep:LastRun...OK",
                     S("2 registry keys are deleted"), S("Undelete setup...OK."),
                     S("Find enumerated devices to delete"),
                     "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQE2EDEV...OK",
                     devClass + "\\##?#ROOT#ZQE2EDEV#0000#" + Narrow(guid) + "...OK",
                     S("2 enumerated devices are deleted."), kClosing}}),
              Log());
    EXPECT_EQ(difxCalls, ReadFileBytes(work + L"\\difx-calls.txt"));
    // The tool's path is quoted (the working directory may hold blanks), the name is not.
    EXPECT_EQ("\"C:\\zqtest\\e2e-run\\gacutil.exe\" /u zqe2e.Assembly /silent\n",
              ReadFileBytes(work + L"\\gacutil.args"));

    EXPECT_FALSE(PathExists(folder32));
#ifdef _WIN64
    EXPECT_FALSE(PathExists(folder64));
    EXPECT_FALSE(PathExists(inf));
    EXPECT_FALSE(PathExists(pnf));
#else
    EXPECT_TRUE(PathExists(folder64 + L"\\zqe2e.dll"));  // not the 32-bit program's folder
    EXPECT_TRUE(PathExists(inf));
    EXPECT_TRUE(PathExists(pnf));
#endif
    EXPECT_FALSE(PathExists(work + L"\\extra\\zqe2e1.tmp"));
    EXPECT_TRUE(PathExists(work + L"\\extra\\other.tmp"));
    EXPECT_TRUE(PathExists(work + L"\\data\\stays.dat"));
    // Held open during the run: still there, and scheduled for the next restart.
    EXPECT_TRUE(PathExists(work + L"\\data\\held.dat"));
    std::vector<std::wstring> pending = PendingRenameSources();
    EXPECT_NE(pending.end(), std::find(pending.begin(), pending.end(),
                                       L"\\??\\" + work + L"\\data\\held.dat"));
    DropPendingRenames(L"\\e2e-run\\data\\held.dat");

    EXPECT_FALSE(KeyExists(HKLM, service));
    EXPECT_FALSE(KeyExists(HKLM, product + L"\\Example"));
    EXPECT_FALSE(ValueExists(HKLM, product + L"\\Keep", L"LastRun"));
    EXPECT_TRUE(ValueExists(HKLM, product + L"\\Keep", L"Other"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"KDSetup"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L".kds"));
    EXPECT_FALSE(KeyExists(HKLM, uninstall));
    EXPECT_FALSE(KeyExists(HKLM, device));
    EXPECT_FALSE(KeyExists(HKLM, iface));
    EXPECT_TRUE(KeyExists(HKLM, classKey));  // only the device's interface goes
    ExpectNothingLeftBehind(work);

    RemoveTree(folder64);
    RemoveTree(folder32);
    RemoveTree(package);
    DeleteFileW(inf.c_str());
    DeleteFileW(pnf.c_str());
    for (const std::wstring& key : {product, classKey, service})
        RemoveScratchKey(HKLM, key);
    RemoveTree(work);
}

TEST_F(EndToEnd, RunStartedFromAFolderItWouldDeleteIsRefused)
{
    std::wstring work = MakeScratchDir(L"e2e-refuse");
    WriteFileBytes(work + L"\\keep.txt", "stays");
    const std::wstring key = L"SOFTWARE\\zqe2e-refuse";
    MakeKey(HKLM, key, {{L"v", L"stays"}});
    WriteFileBytes(work + L"\\zqclean.ini",
                   "[folders]\nC:\\zqtest\\e2e-refuse\n[files]\nC:\\zqtest\\e2e-refuse\\keep.txt\n"
                   "[registry]\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-refuse\n");

    // Interactive: the refusal writes no line of its own and no phase runs.
    EXPECT_EQ(1u, Launch(L"", work));
    EXPECT_EQ(Lines{S("Ininame: C:\\zqtest\\e2e-refuse\\zqclean.ini")}, Log());
    EXPECT_TRUE(PathExists(work + L"\\keep.txt"));
    EXPECT_TRUE(KeyExists(HKLM, key));
    ExpectNothingLeftBehind(work);

    // The comparison is exact: another letter case is not the working directory.
    WriteFileBytes(work + L"\\zqclean.ini", "[folders]\nc:\\ZQTEST\\e2e-refuse\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-S", work));
    Lines lines = Log();
    EXPECT_TRUE(!lines.empty() && lines.back() == kClosing);

    RemoveScratchKey(HKLM, key);
    RemoveTree(work);
}

// Two launches in a row, the second one finding a service that an earlier launch left.
TEST_F(EndToEnd, EachLaunchStartsItsOwnLogAndRemovesALeftOverServiceFirst)
{
    std::wstring first = MakeScratchDir(L"e2e-first");
    std::wstring second = MakeScratchDir(L"e2e-second");
    const std::wstring key = L"SOFTWARE\\zqe2e-first";
    MakeKey(HKLM, key, {{L"v", L"1"}});
    WriteFileBytes(first + L"\\zqclean.ini", "[registry]\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-first\n");
    WriteFileBytes(second + L"\\zqclean.ini", "[general]\n");

    EXPECT_EQ(kCompletedRun, Launch(L"-s", first));
    Lines lines = Log();
    EXPECT_TRUE(Has(lines, "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-first...OK"));
    EXPECT_FALSE(KeyExists(HKLM, key));
    ExpectNothingLeftBehind(first);

    ASSERT_TRUE(PlantLeftOverService("C:\\zqtest\\e2e-second\\absent.exe -srvcrun"));
    EXPECT_EQ(kCompletedRun, Launch(L"-s", second));
    EXPECT_EQ(EmptyRunLog("C:\\zqtest\\e2e-second\\zqclean.ini"), Log());
    ExpectNothingLeftBehind(second);
    RemoveTree(first);
    RemoveTree(second);
}

// "-u" only removes the service, "-srvcrun" typed by hand cannot enter the dispatcher; neither
// empties the log of the last launch.
TEST_F(EndToEnd, RemoveAndServiceModesLeaveTheLogOfTheLastLaunch)
{
    std::wstring work = MakeScratchDir(L"e2e-modes");
    const std::string earlier = "[2011/05/14 10:03:07,046]\tan earlier launch\r\n";
    WriteFileBytes(kRunLog, earlier);
    EXPECT_EQ(1u, Launch(L"-u", work));
    EXPECT_EQ(earlier, ReadFileBytes(kRunLog));

    ASSERT_TRUE(PlantLeftOverService("C:\\zqtest\\e2e-modes\\absent.exe"));
    EXPECT_EQ(1u, Launch(L"-U", work));
    EXPECT_EQ(kNoService, ServiceOpenError());
    EXPECT_EQ(earlier, ReadFileBytes(kRunLog));

    // 1063: the process was not started by the service manager.
    EXPECT_EQ(1u, Launch(L"-SrvcRun", work));
    EXPECT_EQ((Lines{S("an earlier launch"), S("zqclean error(725): 1063")}), Log());
    ExpectNothingLeftBehind(work);
    RemoveTree(work);
}

TEST_F(EndToEnd, BlanksInTheProgramFolderAndTheWorkingDirectory)
{
    std::wstring root = MakeScratchDir(L"e2e-blanks");
    std::wstring work = root + L"\\work dir";
    std::wstring copy = root + L"\\Program Folder" + Program().substr(Program().rfind(L'\\'));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\Program Folder").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Program().c_str(), copy.c_str(), FALSE));
    WriteFileBytes(work + L"\\old stuff.txt", "x");
    WriteFileBytes(work + L"\\zqclean.ini", "[files]\nC:\\zqtest\\e2e-blanks\\work dir\\old stuff.txt\n");

    // The service's command line must name this very program.
    EXPECT_EQ(kCompletedRun, Finish(Start(copy, L"", work)));
    Lines lines = Log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(S("Ininame: C:\\zqtest\\e2e-blanks\\work dir\\zqclean.ini"), lines.front());
    EXPECT_TRUE(Has(lines, "C:\\zqtest\\e2e-blanks\\work dir\\old stuff.txt...OK"));
    EXPECT_EQ(kClosing, lines.back());
    EXPECT_FALSE(PathExists(work + L"\\old stuff.txt"));
    ExpectNothingLeftBehind(work);
    RemoveTree(root);
}

// The stop handler reports "stopped" at once, which lets the dispatcher return; the service
// process must still let the item in hand finish and log it, and end before the next one.
TEST_F(EndToEnd, StopRequestLetsTheItemInHandFinish)
{
    std::wstring work = MakeScratchDir(L"e2e-stop");
    ASSERT_TRUE(CopyStandIn(L"gacutil", work + L"\\gacutil.exe"));
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqe2e_stop_ready");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqe2e_stop_release");
    WriteFileBytes(work + L"\\gacutil.exitcode", "0 Global\\zqe2e_stop_ready Global\\zqe2e_stop_release\n");
    WriteFileBytes(work + L"\\zqclean.ini", "[.NET]\nzqe2e.Slow\nzqe2e.NeverReached\n");

    HANDLE launcher = Start(Program(), L"-s", work);
    ASSERT_NE(nullptr, launcher);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 60000));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "zqcleansrvc", SERVICE_ALL_ACCESS);
    SERVICE_STATUS status = {};
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    // The tool still runs: its line stays open, and the launcher waits for the service
    // process, which lives on although the manager was told it stopped.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(launcher, 1500));
    Lines expected = EmptyRunLog("C:\\zqtest\\e2e-stop\\zqclean.ini");
    expected.erase(std::find(expected.begin(), expected.end(), S("Delete .NET dlls from GAC(0):")),
                   expected.end());
    expected.push_back(S("Delete .NET dlls from GAC(2):"));
    expected.push_back("zqe2e.Slow...");
    EXPECT_EQ(expected, Log());

    SetEvent(release);
    EXPECT_EQ(kCompletedRun, Finish(launcher));
    expected.back() += "OK";
    EXPECT_EQ(expected, Log());
    EXPECT_EQ("\"C:\\zqtest\\e2e-stop\\gacutil.exe\" /u zqe2e.Slow /silent\n",
              ReadFileBytes(work + L"\\gacutil.args"));
    ExpectNothingLeftBehind(work);
    CloseHandle(release);
    CloseHandle(ready);
    RemoveTree(work);
}

}  // namespace
