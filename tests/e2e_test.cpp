// End to end: the built program is started as an administrator or installer would start it,
// in a working directory that holds zqclean.ini. Every launch must leave neither the service
// nor the prepared copy behind; run logs are compared whole, with the stamps masked.
#include <windows.h>

#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/Support.h"

namespace {

const DWORD kNoService = 1060;
const wchar_t kRunLog[] = L"C:\\zqclean.log";
const HKEY HKLM = HKEY_LOCAL_MACHINE;

Lines Log() { return LogLines(kRunLog); }
bool Has(const Lines& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// 0 when the service "zqcleansrvc" can be opened, otherwise the error of opening it.
DWORD ServiceOpenError()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
    SetLastError(0xdeadbeef);
    ServiceHandle service(OpenServiceW(manager.Get(), L"zqcleansrvc", GENERIC_READ));
    return service.Valid() ? 0 : GetLastError();
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Without a display Wine's message box returns at once, so the interactive launcher
        // can be tested too; a developer's X display must not catch it.
        SetEnvironmentVariableW(L"DISPLAY", nullptr);
        ASSERT_EQ(kNoService, ServiceOpenError());
        ASSERT_TRUE(PathExists(Program())) << Narrow(Program());
    }
    void ExpectNothingLeftBehind(const std::wstring& work)
    {
        EXPECT_EQ(kNoService, ServiceOpenError());
        EXPECT_FALSE(PathExists(work + L"\\zqclean.ini.srvc"));
    }
    ScopedDllOverride builtin{L"difxapi", L"builtin"};  // Wine's own stub: an empty package phase
};

}  // namespace

TEST_F(EndToEnd, CompletedRunRemovesWhatTheScriptListsAndLogsEveryStep)
{
    std::wstring work = MakeScratchDir(L"e2e-run");
    WriteFileBytes(work + L"\\held.dat", "in use");
    WriteFileBytes(work + L"\\zqe2e1.tmp", "masked");
    ASSERT_TRUE(CopyFileW((StandinPath(L"difx") + L"\\DIFxAPI.dll").c_str(), (work + L"\\DIFxAPI.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", work + L"\\gacutil.exe"));
    const std::wstring package = SystemRootDir() + L"\\system32\\DriverStore\\FileRepository\\zqe2epkg.inf_amd64_1";
    CreateDirectoryW((SystemRootDir() + L"\\system32\\DriverStore").c_str(), nullptr);
    CreateDirectoryW((SystemRootDir() + L"\\system32\\DriverStore\\FileRepository").c_str(), nullptr);
    CreateDirectoryW(package.c_str(), nullptr);
    // The product folder under both program folders: zqclean64 removes the 32-bit twin too.
    const std::wstring folder64 = L"C:\\Program Files\\zqe2e Example";
    const std::wstring folder32 = L"C:\\Program Files (x86)\\zqe2e Example";
    for (const std::wstring& folder : {folder64, folder32}) {
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteFileBytes(folder + L"\\readme.txt", "readme");
    }
    const std::wstring service = L"SYSTEM\\CurrentControlSet\\Services\\zqe2eDrv";
    MakeKey(HKLM, service, {{L"ImagePath", L"zqe2edrv.sys"}});
    const std::wstring inf = L"C:\\windows\\inf\\oemzqe2e.inf";
    WriteFileBytes(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Svc]\r\nServiceName=zqe2eDrv\r\n");
    MakeKey(HKLM, L"SOFTWARE\\zqe2e\\Example\\Deep", {{L"v", L"1"}});
    MakeKey(HKLM, L"SOFTWARE\\zqe2e\\Keep", {{L"LastRun", L"today"}, {L"Other", L"stays"}});
    MakeKey(HKEY_CLASSES_ROOT, L".kds", {{L"", L"KDSetup"}});
    const std::wstring device = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQE2EDEV";
    MakeKey(HKLM, device + L"\\0000", {{L"Service", L"zqe2eDrv"}});
    // Blank lines, trailing blanks and headers in any case, as script authors write them.
    WriteFileBytes(work + L"\\zqclean.ini",
                   "[General]\r\nexcludefolders=1\r\n\r\n[FOLDERS]\r\n%ProgramFiles%\\zqe2e Example   \r\n"
                   "[files]\r\nC:\\zqtest\\e2e-run\\held.dat\r\n[maskedfiles]\r\nzqe2e*.tmp\r\n"
                   "[exfolders]\r\nC:\\zqtest\\e2e-run\r\n[drvpackages]\r\nzqe2epkg\r\n[drivers]\r\nzqe2eDrv\r\n"
                   "[.NET]\r\nzqe2e.Assembly\r\n[registry]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Example\r\n"
                   "hkey_local_machine\\SOFTWARE\\zqe2e\\Keep:LastRun\r\n[devices]\r\nROOT\\ZQE2EDEV\r\n");
    HANDLE held = CreateFileW((work + L"\\held.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WriteFileBytes(kRunLog, "a log of an earlier launch\n");

    DWORD exitCode;
    {
        ScopedDllOverride native(L"difxapi", L"native");  // the working directory's stand-in loads
        exitCode = Launch(L"-s", work);
    }
    CloseHandle(held);
    EXPECT_EQ(kCompletedRun, exitCode);

    const std::string storeInf = Narrow(package) + "\\zqe2epkg.inf";
#ifdef _WIN64
    Lines drivers = {S("Delete driver packages(1) from DriverStore:"), storeInf + "...I: Uninstalling " + storeInf,
                     "S: -", "OK", S("1 driver packages are deleted from the DriverStore."), S("Delete infs:"),
                     Narrow(inf) + "...OK", S("1 inf files are deleted")};
    Lines folders = {"C:\\Program Files\\zqe2e Example...OK", "C:\\Program Files (x86)\\zqe2e Example...OK"};
#else
    // Under WOW64: no driver-store library, %ProgramFiles% is the x86 folder, and no twins.
    Lines drivers;
    Lines folders = {"C:\\Program Files (x86)\\zqe2e Example...OK"};
#endif
    const std::string folderCount = std::to_string(folders.size());
    EXPECT_EQ(Joined({{S("Ininame: C:\\zqtest\\e2e-run\\zqclean.ini")}, drivers,
                      {S("Delete driver services(1):"), "SYSTEM\\CurrentControlSet\\Services\\zqe2eDrv...OK",
                       S("1 driver services are deleted."), S("Delete files(2):"),
                       "C:\\zqtest\\e2e-run\\held.dat...AFTER BOOT", "C:\\zqtest\\e2e-run\\zqe2e1.tmp...OK",
                       S("2 files are deleted."), S("Delete .NET dlls from GAC(1):"), "zqe2e.Assembly...OK",
                       S("1 .NET dlls are deleted."), S("Delete folders(" + folderCount + "):")},
                      folders,
                      {S(folderCount + " folders are deleted."), S("Delete registry keys(2):"),
                       "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e\\Example...OK",
                       "V: hkey_local_machine\\SOFTWARE\\zqe2e\\Keep:LastRun...OK", S("2 registry keys are deleted"),
                       S("Undelete setup...OK."), S("Find enumerated devices to delete"),
                       "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQE2EDEV...OK",
                       S("1 enumerated devices are deleted."), ClosingLine()}}),
              Log());
    EXPECT_EQ("\"C:\\zqtest\\e2e-run\\gacutil.exe\" /u zqe2e.Assembly /silent\n", ReadFileBytes(work + L"\\gacutil.args"));
    EXPECT_FALSE(PathExists(folder32) || PathExists(work + L"\\zqe2e1.tmp"));
    EXPECT_EQ(PendingWith(L"\\e2e-run\\held.dat"), std::vector<std::wstring>{work + L"\\held.dat"});
    DropPendingRenames(L"\\e2e-run\\held.dat");
    EXPECT_FALSE(KeyExists(HKLM, service) || KeyExists(HKLM, L"SOFTWARE\\zqe2e\\Example") || KeyExists(HKLM, device));
    EXPECT_TRUE(ValueExists(HKLM, L"SOFTWARE\\zqe2e\\Keep", L"Other") &&
                !ValueExists(HKLM, L"SOFTWARE\\zqe2e\\Keep", L"LastRun"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L".kds"));
    ExpectNothingLeftBehind(work);

    RemoveTree(folder64);
    RemoveTree(package);
    DeleteFileW(inf.c_str());
    RemoveScratchKey(HKLM, L"SOFTWARE\\zqe2e");
    RemoveTree(work);
}


TEST_F(EndToEnd, RunStartedFromAFolderItWouldDeleteIsRefused)
{
    std::wstring work = MakeScratchDir(L"e2e-refuse");
    WriteFileBytes(work + L"\\zqclean.ini", "[folders]\nC:\\zqtest\\e2e-refuse\n[files]\nC:\\zqtest\\e2e-refuse\\zqclean.ini\n");
    EXPECT_EQ(1u, Launch(L"", work));  // interactive: the message box comes and goes
    EXPECT_EQ(Lines{S("Ininame: C:\\zqtest\\e2e-refuse\\zqclean.ini")}, Log());
    EXPECT_TRUE(PathExists(work + L"\\zqclean.ini"));
    ExpectNothingLeftBehind(work);
    RemoveTree(work);
}

// "-u" only removes the service and "-srvcrun" typed by hand cannot enter the dispatcher; neither
// empties the log of the last launch. A launch removes a service an earlier one left behind.
TEST_F(EndToEnd, ModesAndALeftOverService)
{
    std::wstring work = MakeScratchDir(L"e2e-modes");
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\n");
    WriteFileBytes(kRunLog, "[2011/05/14 10:03:07,046]\tan earlier launch\r\n");
    EXPECT_EQ(1u, Launch(L"-u", work));
    EXPECT_EQ(1u, Launch(L"-SrvcRun", work));  // 1063: not started by the service manager
    EXPECT_EQ((Lines{S("an earlier launch"), S("zqclean error(725): 1063")}), Log());
    {
        ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ServiceHandle service(CreateServiceW(manager.Get(), L"zqcleansrvc", L"zqclean test leftover",
                                             SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                             SERVICE_ERROR_IGNORE, L"C:\\zqtest\\absent.exe -srvcrun", nullptr,
                                             nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service.Valid());
    }
    EXPECT_EQ(kCompletedRun, Launch(L"-S", work));
    EXPECT_EQ(RunLog(work, {}, {}, {}), Log());
    ExpectNothingLeftBehind(work);
    RemoveTree(work);
}

// The service's command line must name this very program, from a folder whose name holds
// blanks and letters outside the ANSI code page.
TEST_F(EndToEnd, ProgramInAFolderNamedInGreekAndCyrillic)
{
    std::wstring root = MakeScratchDir(L"e2e-names");
    std::wstring folder = root + L"\\Programm \x03a9\x03bc\x03ad\x03b3\x03b1 \x041f\x0430\x043f\x043a\x0430";
    std::wstring work = root + L"\\work dir", copy = folder + Program().substr(Program().rfind(L'\\'));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) && CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Program().c_str(), copy.c_str(), FALSE));
    WriteFileBytes(work + L"\\old stuff.txt", "x");
    WriteFileBytes(work + L"\\zqclean.ini", "[files]\nC:\\zqtest\\e2e-names\\work dir\\old stuff.txt\n");
    EXPECT_EQ(kCompletedRun, Finish(Start(copy, L"-s", work)));
    EXPECT_TRUE(Has(Log(), "C:\\zqtest\\e2e-names\\work dir\\old stuff.txt...OK"));
    EXPECT_EQ(ClosingLine(), Log().back());
    EXPECT_FALSE(PathExists(work + L"\\old stuff.txt"));
    ExpectNothingLeftBehind(work);
    RemoveTree(root);
}

// What today's Windows brings: a script in UTF-8 naming folders in German and in Cyrillic
// letters, a product tree nested far beyond 260 characters, and no driver-install library, where
// the service uninstalls packages through the system's newdev.dll (a 32-bit program on a 64-bit
// system leaves packages to the 64-bit one).
TEST_F(EndToEnd, TodaysWindowsUtf8ScriptDeepTreeAndNoDriverInstallLibrary)
{
    ASSERT_EQ(GetACP(), 1252u);  // the prefix's code page, which the log lines below are spelled in
    const std::wstring root = MakeScratchDir(L"e2e-today"), work = root + L"\\work";
    const std::wstring german = root + L"\\B\x00fc" L"cher \x00d6lfarben", cyrillic = root + L"\\\x041f\x0440\x043e\x0433";
    const std::wstring greeting = root + L"\\Gr\x00fc\x00df" L"e \x20ac.txt";
    const std::wstring key = L"SOFTWARE\\zqe2e-Gr\x00f6\x00df" L"e-\x041a\x0142";  // no best fit: "l" would be another key
    std::wstring deep = root + L"\\Runtime", level = deep;
    for (const std::wstring& folder : {work, german, cyrillic, deep})
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (int i = 0; level.size() < 1200; ++i) {
        level += L"\\bundled-runtime-" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + level).c_str(), nullptr));
        WriteFileBytes(L"\\\\?\\" + level + L"\\part.dll", "x");
    }
    for (const std::wstring& file : {german + L"\\a.txt", cyrillic + L"\\b.txt", greeting})
        WriteFileBytes(file, "x");
    MakeKey(HKLM, key, {{L"v", L"1"}});
    const std::wstring store = SystemRootDir() + L"\\system32\\DRVSTORE", calls = SystemFolder() + L"\\newdev-calls.txt";
    const bool drivers = sizeof(void*) == 8;
    for (const wchar_t* package : {L"\\ZQE2EPKG_A_1", L"\\ZQE2EPKG_B_zqfail"})
        CreateDirectoryW(store.c_str(), nullptr), CreateDirectoryW((store + package).c_str(), nullptr);
    DeleteFileW(calls.c_str());
    auto utf8 = [](const std::wstring& text) {
        std::string bytes(text.size() * 3, '\0');
        bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                                         static_cast<int>(bytes.size()), nullptr, nullptr));
        return bytes;
    };
    WriteFileBytes(work + L"\\zqclean.ini", "\xEF\xBB\xBF[drvpackages]\r\nZQE2EPKG_A\r\nZQE2EPKG_B\r\n[files]\r\n" +
                   utf8(greeting) + "\r\n[folders]\r\n" + utf8(german) + "\r\n" + utf8(cyrillic) + "\r\n" + utf8(deep) +
                   "\r\n[registry]\r\nHKEY_LOCAL_MACHINE\\" + utf8(key) + "\r\n");
    {
        ScopedDllOverride noLibrary(L"difxapi", L"native");  // nothing to load: neither by name nor from work
        ScopedSystemFile newdev(L"newdev.dll", StandinPath(L"newdev\\newdev.dll"), Program().substr(Program().rfind(L'\\') + 1).c_str());
        EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    }
    Lines log = Log();
    const std::string r = "C:\\zqtest\\e2e-today\\", s = Narrow(store);
    Lines expected = {r + "Gr\xFC\xDF" "e \x80.txt...OK", r + "B\xFC" "cher \xD6lfarben...OK", r + "????...OK", r + "Runtime...OK",
                      "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-Gr\xF6\xDF" "e-??...OK"};
    if (drivers)
        expected.insert(expected.end(), {S("Delete driver packages(2) from DriverStore:"), s + "\\ZQE2EPKG_A_1\\ZQE2EPKG_A.inf...OK",
                                         s + "\\ZQE2EPKG_B_zqfail\\ZQE2EPKG_B.inf...FAILED(Err:5)",
                                         S("1 driver packages are deleted from the DriverStore.")});
    for (const std::string& line : expected)
        EXPECT_TRUE(Has(log, line)) << line;
    EXPECT_EQ(ClosingLine(), log.back());
    Lines recorded = RecordedLines(calls);
    std::sort(recorded.begin(), recorded.end());
    Lines uninstalled = {"diuninstall " + s + "\\ZQE2EPKG_A_1\\ZQE2EPKG_A.inf 0x0",
                         "diuninstall " + s + "\\ZQE2EPKG_B_zqfail\\ZQE2EPKG_B.inf 0x0"};
    EXPECT_EQ(recorded, drivers ? uninstalled : Lines{});
    for (const std::wstring& gone : {german, cyrillic, greeting, deep})
        EXPECT_FALSE(PathExists(gone)) << Narrow(gone);
    EXPECT_FALSE(KeyExists(HKLM, key));
    EXPECT_TRUE(PendingWith(L"\\e2e-today\\").empty());  // nothing left for a restart
    // The report spells every name exactly.
    int exact = 0;
    const nlohmann::json report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.json"));
    for (const auto& item : report["items"])
        for (const std::wstring& name : {german, cyrillic, greeting})
            exact += item["target"] == utf8(name) && item["outcome"] == "deleted" ? 1 : 0;
    EXPECT_EQ(exact, 3);
    ExpectNothingLeftBehind(work);
    DeleteFileW(calls.c_str());
    RemoveTree(store + L"\\ZQE2EPKG_A_1");
    RemoveTree(store + L"\\ZQE2EPKG_B_zqfail");
    RemoveScratchKey(HKLM, key);
    RemoveTree(root);
}

// A stop request ends a tool that still runs at once: its item fails, the run ends before the
// next one, and this launch's report says that it did not complete (the report of an earlier
// launch is gone as the launch begins, so it is never read as this one's).
TEST_F(EndToEnd, StopRequestEndsTheToolInHand)
{
    std::wstring work = MakeScratchDir(L"e2e-stop");
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", work + L"\\gacutil.exe"));
    KernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqe2e_stop_ready"));
    WriteFileBytes(work + L"\\gacutil.exitcode", "0 Global\\zqe2e_stop_ready Global\\zqe2e_stop_never\n");
    WriteFileBytes(work + L"\\gone.txt", "saved first");
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\nbackup=C:\\zqtest\\e2e-stop\\saved\n[files]\n"
                                            "C:\\zqtest\\e2e-stop\\gone.txt\n[.NET]\nzqe2e.Slow\nzqe2e.NeverReached\n");
    WriteFileBytes(L"C:\\zqclean.json", "{\"completed\": true}");

    KernelHandle launcher = Start(Program(), L"-s", work);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 60000));
    EXPECT_FALSE(PathExists(L"C:\\zqclean.json"));
    // The backup's manifest already lists what the phases before this one removed.
    WIN32_FIND_DATAW made;
    FindHandle found(FindFirstFileW((work + L"\\saved\\0*").c_str(), &made));
    ASSERT_TRUE(found.Valid());
    nlohmann::json manifest =
        nlohmann::json::parse(ReadFileBytes(work + L"\\saved\\" + made.cFileName + L"\\manifest.json"), nullptr, false);
    ASSERT_TRUE(manifest.contains("items") && manifest["items"].size() == 1u);
    EXPECT_EQ(manifest["items"][0]["original"], "C:\\zqtest\\e2e-stop\\gone.txt");
    {
        ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ServiceHandle service(OpenServiceW(manager.Get(), L"zqcleansrvc", SERVICE_ALL_ACCESS));
        SERVICE_STATUS status = {};
        EXPECT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    }
    // The tool would wait a minute for a release that never comes.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(launcher.Get(), 20000));
    EXPECT_EQ(kCompletedRun, Finish(launcher));
    Lines expected = RunLog(work, {"C:\\zqtest\\e2e-stop\\gone.txt...OK"}, {"zqe2e.Slow...FAILED. Error: 1223(-1)"}, {});
    expected.resize(std::find(expected.begin(), expected.end(), "zqe2e.Slow...FAILED. Error: 1223(-1)") - expected.begin() + 1);
    expected[expected.size() - 2] = S("Delete .NET dlls from GAC(2):");
    EXPECT_EQ(expected, Log());
    nlohmann::json report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.json"), nullptr, false);
    EXPECT_FALSE(report.value("completed", true));
    ExpectNothingLeftBehind(work);
    RemoveTree(work);
}

// A tool that never ends is ended at its time limit with everything it started; its item fails
// in its phase's own words and the run goes on. A limit that is no number is a warning, and the
// one before it holds.
TEST_F(EndToEnd, ToolsThatNeverEndAreEndedAtTheirLimit)
{
    std::wstring work = MakeScratchDir(L"e2e-tools");
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", work + L"\\gacutil.exe"));
    ASSERT_TRUE(CopyFileW(StandinPath(L"blocker.dll").c_str(), (work + L"\\control.ocx").c_str(), FALSE));
    WriteFileBytes(work + L"\\free.txt", "x");
    WriteFileBytes(work + L"\\gacutil.exitcode", "0 zqe2e_tool_ready zqe2e_tool_never child\n");
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\ntooltimeout=2\r\ntooltimeout=2s\r\n[files]\r\n"
                                            "C:\\zqtest\\e2e-tools\\control.ocx\r\nC:\\zqtest\\e2e-tools\\free.txt\r\n"
                                            "[.NET]\r\nzqe2e.Hangs\r\n");
    DWORD started = GetTickCount();
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    EXPECT_LT(GetTickCount() - started, 30000u);  // each tool would wait a minute
    Lines log = Log();
    for (const char* line : {"C:\\zqtest\\e2e-tools\\control.ocx...FAILED(Err:1460)", "C:\\zqtest\\e2e-tools\\free.txt...OK",
                             "zqe2e.Hangs...FAILED. Error: 1460(-1)"})
        EXPECT_TRUE(Has(log, line)) << line;
    EXPECT_EQ(log.back(), ClosingLine());
    EXPECT_TRUE(PathExists(work + L"\\control.ocx"));
    EXPECT_TRUE(PathExists(work + L"\\gacutil.child"));  // the tool had started another process
    KernelHandle child(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\zqtest_tool_child"));
    EXPECT_FALSE(child.Valid());  // which ended with it
    nlohmann::json report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.json"));
    ASSERT_EQ(report["warnings"].size(), 1u);
    EXPECT_EQ(report["warnings"][0]["line"], 3);
    RemoveTree(work);
}

// A single-byte script is text in the machine's ANSI code page (1252 here): the bytes 0x80-0x9F
// are letters like any other, and a name that ends in one above 0x7F keeps it.
TEST_F(EndToEnd, SingleByteScriptInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u);
    std::wstring work = MakeScratchDir(L"e2e-cp"), vendor = work + L"\\Vendor";
    const std::wstring price = work + L"\\Prix 5\x20ac HT", own = vendor + L"\\\x00c4\x00d6", other = vendor + L"\\other";
    const std::wstring file = work + L"\\\x0160\x0153\x0178.txt", key = L"SOFTWARE\\zqe2e-cp\\\x017d\x20ac\x00e9";
    for (const std::wstring& folder : {price, vendor, own, other}) {
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteFileBytes(folder + L"\\x.txt", "x");
    }
    WriteFileBytes(file, "x");
    MakeKey(HKLM, key, {{L"v", L"1"}});
    MakeKey(HKLM, L"SOFTWARE\\zqe2e-cp\\keep", {{L"v", L"1"}});
    WriteFileBytes(work + L"\\zqclean.ini", "[folders]\r\nC:\\zqtest\\e2e-cp\\Prix 5\x80 HT\r\nC:\\zqtest\\e2e-cp\\Vendor\\\xc4\xd6\r\n"
                                            "[files]\r\nC:\\zqtest\\e2e-cp\\\x8a\x9c\x9f.txt \t\r\n[registry]\r\n"
                                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-cp\\\x8e\x80\xe9\r\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    EXPECT_FALSE(PathExists(price) || PathExists(own) || PathExists(file) || KeyExists(HKLM, key));
    EXPECT_TRUE(PathExists(other + L"\\x.txt") && KeyExists(HKLM, L"SOFTWARE\\zqe2e-cp\\keep"));
    EXPECT_TRUE(Has(Log(), "C:\\zqtest\\e2e-cp\\Prix 5\x80 HT...OK"));  // the run log speaks the code page too
    RemoveScratchKey(HKLM, L"SOFTWARE\\zqe2e-cp");
    RemoveTree(work);
}

// A preview does the lookups of a run and changes nothing; both leave a report a program can
// read, and they agree on what the run removes.
TEST_F(EndToEnd, PreviewThenRunWithTheirReports)
{
    std::wstring work = MakeScratchDir(L"e2e-preview");
    for (const wchar_t* name : {L"\\free.txt", L"\\held.txt", L"\\tree\\inner.txt"}) {
        CreateDirectoryW((work + L"\\tree").c_str(), nullptr);
        WriteFileBytes(work + name, "x");
    }
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", work + L"\\gacutil.exe"));
    const std::wstring quoted = L"SOFTWARE\\zqe2e-report \"quoted\" \x00e9t";  // a last byte above 0x7F would be trimmed
    MakeKey(HKLM, quoted + L"\\deep", {{L"v", L"1"}});
    ASSERT_TRUE(KeyExists(HKLM, quoted + L"\\deep"));
    MakeKey(HKEY_CLASSES_ROOT, L".kds", {{L"", L"KDSetup"}});
    WriteFileBytes(work + L"\\zqclean.ini",
                   "before any header\r\n[general]\r\ncolour=blue\r\n[mystery]\r\nx\r\n"
                   "[files]\r\nC:\\zqtest\\e2e-preview\\free.txt\r\nC:\\zqtest\\e2e-preview\\held.txt\r\n" +
                   std::string("C:\\zqtest\\e2e-preview\\n\0l.txt\r\n", 31) +
                   "[folders]\r\nC:\\zqtest\\e2e-preview\\tree\r\n%SystemRoot%\r\n[.NET]\r\nZq.Assembly\r\n"
                   "[registry]\r\nHKEY_LOCAL_MACHINE\\" + Narrow(quoted) + "\r\nHKLM\\SOFTWARE\\zqe2e-abbreviated\r\n");
    WriteFileBytes(kRunLog, "[2011/05/14 10:03:07,046]\tthe last real run\r\n");
    FileHandle held(CreateFileW((work + L"\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));

    EXPECT_EQ(kCompletedRun, Launch(L"-preview", work));
    const std::string w = "C:\\zqtest\\e2e-preview\\", key = "K: HKEY_LOCAL_MACHINE\\" + Narrow(quoted) + "...";
    Lines preview = LogLines(L"C:\\zqclean.preview.log");
    for (const std::string& line : Lines{w + "free.txt...WOULD DELETE", w + "held.txt...WOULD DELETE AFTER BOOT",
                                    w + "tree...WOULD DELETE", "Zq.Assembly...WOULD DELETE", key + "WOULD DELETE",
                                    Narrow(SystemRootDir()) + "...FAILED(Err:5)", S("2 files are deleted."),
                                    S("Script line 9 refused: it holds a NUL byte")})
        EXPECT_TRUE(Has(preview, line)) << line;
    EXPECT_EQ(Log(), Lines{S("the last real run")});  // the run log stays as it was
    EXPECT_TRUE(PathExists(work + L"\\free.txt") && PathExists(work + L"\\tree\\inner.txt"));
    EXPECT_TRUE(KeyExists(HKLM, quoted + L"\\deep") && KeyExists(HKEY_CLASSES_ROOT, L".kds"));
    EXPECT_FALSE(PathExists(work + L"\\gacutil.args"));  // no tool is run
    EXPECT_TRUE(PendingWith(L"\\e2e-preview\\").empty());

    nlohmann::json report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.preview.json"));
    EXPECT_EQ(report["mode"], "preview");
    EXPECT_EQ(report["exit_status"], -1);
    EXPECT_EQ(report["working_directory"], "C:\\zqtest\\e2e-preview");
    const std::string quotedUtf8 = "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqe2e-report \"quoted\" \xC3\xA9t";
    int would = 0;
    for (const auto& item : report["items"]) {
        if (item["target"] == quotedUtf8) {
            EXPECT_EQ(item["outcome"], "would_delete");
        }
        if (item["target"] == Narrow(SystemRootDir())) {
            EXPECT_TRUE(item["outcome"] == "refused" && item["error"] == 5 && !item["reason"].get<std::string>().empty());
        }
        would += item["outcome"].get<std::string>().rfind("would_delete", 0) == 0 ? 1 : 0;
    }
    std::vector<int> warned;
    for (const auto& warning : report["warnings"])
        warned.push_back(warning["line"]);
    EXPECT_EQ(warned, (std::vector<int>{1, 3, 4, 5, 9, 17}));  // the NUL line's text kept exactly
    EXPECT_EQ(report["warnings"][4]["text"], std::string("C:\\zqtest\\e2e-preview\\n\0l.txt", 29));

    held.Close();
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.json"));
    EXPECT_EQ(report["mode"], "run");
    EXPECT_TRUE(report["completed"].get<bool>());
    int removed = 0;
    for (const auto& item : report["items"])
        removed += item["outcome"] == "deleted" || item["outcome"] == "deleted_after_boot" ? 1 : 0;
    EXPECT_EQ(removed, would);  // the preview said what the run then did
    EXPECT_FALSE(KeyExists(HKLM, quoted) || PathExists(work + L"\\tree"));
    ExpectNothingLeftBehind(work);
    RemoveTree(work);
}
