// Every phase through the phase driver, against real store folders, INF files, files, keys and
// stand-in tools of the scratch prefix: whole logs compared, then what is left on the machine.
// One table holds every phase's stop rule.
#include <windows.h>
#include <string.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "phases/PhaseDriver.h"
#include "shared/StopSignal.h"
#include "platform/SystemPaths.h"
#include "script/CleanScript.h"
#include "tests/support/Support.h"

namespace {

const HKEY LM = HKEY_LOCAL_MACHINE, CU = HKEY_CURRENT_USER, CR = HKEY_CLASSES_ROOT;
const std::wstring kRoot = SystemRootDir();
const std::wstring kDrvStore = kRoot + L"\\system32\\DRVSTORE";
const std::wstring kRepository = kRoot + L"\\system32\\DriverStore\\FileRepository";
const std::wstring kEnum = L"SYSTEM\\CurrentControlSet\\Enum\\";
const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";
const std::wstring kGuid = L"{5a5a0001-7a71-4e57-9d00-000000000001}";
const std::wstring kClassKey = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + kGuid;
std::wstring Interface(const std::wstring& device) { return kClassKey + L"\\##?#" + device + L"#0000#" + kGuid; }
std::wstring Inf(int n) { return kRoot + L"\\inf\\oemzqtest" + std::to_wstring(n) + L".inf"; }
const char kInfHead[] = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";

// Lines of the difx stand-in's call record.
Lines StandinCalls(const wchar_t* variant) { return RecordedLines(StandinPath(variant) + L"\\difx-calls.txt"); }

class Phases : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        log = FreshRunLog("phases");
        dir = MakeScratchDir(L"phases");
        work = dir + L"\\work";
        CreateDirectoryW(work.c_str(), nullptr);
        CreateDirectoryW(kDrvStore.c_str(), nullptr);
        CreateDirectoryW((kRoot + L"\\system32\\DriverStore").c_str(), nullptr);
        CreateDirectoryW(kRepository.c_str(), nullptr);
        for (const wchar_t* variant : {L"difx", L"difx-invalid", L"difx-nolog"})
            for (const wchar_t* file : {L"\\difx-calls.txt", L"\\difx-results.txt"})
                DeleteFileW((StandinPath(variant) + file).c_str());
        run.script = &script;
        run.paths = &paths;  // not under WOW64: the 32-bit build tests the driver phases too
        run.workDir = work.c_str();
        AskProtectedPlaces(&run.places);
        Clean();
    }
    void TearDown() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        Clean();
        RemoveTree(dir);
    }
    void Clean()
    {
        for (const std::wstring& folder : owned)
            RemoveTree(folder);
        for (int n = 0; n < 10; ++n) {
            DeleteFileW(Inf(n).c_str());
            DeleteFileW((Inf(n).substr(0, Inf(n).size() - 3) + L"pnf").c_str());
        }
        for (const std::wstring& key : {kServices + L"zqtestsvc1", kServices + L"zqtestsvc2",
                                        kEnum + L"ZQTESTENUM", kClassKey, std::wstring(L"SOFTWARE\\zqtestreg")})
            RemoveScratchKey(LM, key);
        RemoveScratchKey(CU, L"Software\\zqtestreg");
        RemoveScratchKey(CU, L"zqtestdirect");
        for (const wchar_t* file : {L"difx\\gacutil.exe", L"difx\\gacutil.args"})
            DeleteFileW(StandinPath(file).c_str());
        DropPendingRenames(L"\\zqtest\\phases\\");
        DropPendingRenames(L"oemzqtest");
    }
    void StoreFolder(const std::wstring& root, const wchar_t* name)
    {
        owned.push_back(root + L"\\" + name);
        RemoveTree(owned.back());
        CreateDirectoryW(owned.back().c_str(), nullptr);
    }
    // Runs the named phase; its log lines, and whether the run goes on after it.
    Lines Run(const char* name, bool* goesOn = nullptr)
    {
        log = FreshRunLog("phases");
        for (int i = 0; i < kPhaseCount; ++i) {
            if (strcmp(kPhases[i].name, name) == 0) {
                bool goOn = RunPhase(run, kPhases[i], i + 1);
                if (goesOn != nullptr)
                    *goesOn = goOn;
            }
        }
        return LogLines(log);
    }

    std::wstring log, dir, work;
    std::vector<std::wstring> owned;
    zqCleanScript script;
    SystemPaths paths;
    RunContext run;
};

// The store folders of a package record: path, the stand-in's INFO and SUCCESS/ERROR lines.
Lines Package(const std::wstring& folder, const std::wstring& entry, const char* event, const char* outcome)
{
    std::string inf = Narrow(folder + L"\\" + entry + L".inf");
    return {inf + "...I: Uninstalling " + inf, event, outcome};
}

}  // namespace

TEST_F(Phases, DriverPackagesClaimedByTheFirstMatchingEntry)
{
    ScopedDllOverride native(L"difxapi", L"native");  // Wine's own stub must not load by name
    StoreFolder(kDrvStore, L"ZQTESTPKG_A_1");
    StoreFolder(kDrvStore, L"zqtestpkg_c_2");    // another letter case: no match
    StoreFolder(kDrvStore, L"ZQTESTPKG_Aside");  // no "_" after the entry
    StoreFolder(kDrvStore, L"ZQTESTPKG_C_1");
    StoreFolder(kRepository, L"zqtestpkg_a.inf_amd64_1");
    WriteFileBytes(StandinPath(L"difx") + L"\\difx-results.txt", "0xE000020B ZQTESTPKG_A_1\n0xE0000203 C_1\n");
    AddEntries(&script.drvPackages, {L"ZQTESTPKG_A", L"ZQTESTPKG_C", L"zqtestpkg_a"});

    run.workDir = L"C:\\zqtest\\nowhere";
    EXPECT_EQ(Run("driver packages"), Lines{S("Cannot uninstall driver packages (DIFxAPI.dll not found.)")});
    std::wstring invalid = StandinPath(L"difx-invalid");
    run.workDir = invalid.c_str();
    EXPECT_EQ(Run("driver packages"), Lines{S("Cannot uninstall driver packages (DIFxAPI.dll version is invalid.)")});

    std::wstring difx = StandinPath(L"difx");
    run.workDir = difx.c_str();
    bool goesOn = false;
    Lines lines = Run("driver packages", &goesOn);
    EXPECT_TRUE(goesOn);
    Lines expected = Joined({{S("Delete driver packages(3) from DriverStore:")},
                             Package(kDrvStore + L"\\ZQTESTPKG_A_1", L"ZQTESTPKG_A", "E: -", "OK"),
                             Package(kDrvStore + L"\\ZQTESTPKG_C_1", L"ZQTESTPKG_C", "E: -", "FAILED(Err:-536870397)"),
                             Package(kRepository + L"\\zqtestpkg_a.inf_amd64_1", L"zqtestpkg_a", "S: -", "OK"),
                             {S("2 driver packages are deleted from the DriverStore.")}});
    if (lines.size() == expected.size() && lines[1] != expected[1])  // the store's listing order
        std::rotate(lines.begin() + 1, lines.begin() + 4, lines.begin() + 7);
    EXPECT_EQ(lines, expected);
    Lines calls = StandinCalls(L"difx");
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls.front() + "|" + calls.back(), "setcallback nonnull context=null|setcallback null context=null");
    EXPECT_EQ(calls[3], "uninstall " + Narrow(kRepository) + "\\zqtestpkg_a.inf_amd64_1\\zqtestpkg_a.inf 0x24 "
                        "info=null reboot=nonnull");
    EXPECT_EQ(GetModuleHandleW(L"DIFxAPI.dll"), nullptr);  // released with the phase

    std::wstring noLog = StandinPath(L"difx-nolog");
    run.workDir = noLog.c_str();
    lines = Run("driver packages");
    EXPECT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], Narrow(kRepository) + "\\zqtestpkg_a.inf_amd64_1\\zqtestpkg_a.inf...OK");
}

// UTF-16 units of text after a byte-order mark, in either byte order; odd: one byte before them,
// so that the text's bytes stand between the units.
std::string Utf16File(const std::wstring& text, bool bigEndian, bool odd = false)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    if (odd)
        bytes += 'a';
    for (wchar_t unit : text) {
        bytes += static_cast<char>(bigEndian ? unit >> 8 : unit & 0xFF);
        bytes += static_cast<char>(bigEndian ? unit & 0xFF : unit >> 8);
    }
    return odd ? bytes + '\0' : bytes;
}

TEST_F(Phases, InfFilesSelectedByTheirTextCaseSensitivelyInTheirEncoding)
{
    const std::string utf8Mark = "\xEF\xBB\xBF";
    const struct {
        std::string bytes;
        bool selected;
    } files[] = {
        {std::string(kInfHead) + "; built for ZQTEST_TEXT_1 boards\r\n", true},
        {std::string(kInfHead) + "; zqtest_text_1 in other letters\r\n", false},
        {Utf16File(L"; ZQTEST_TEXT_1\r\n", false), true},
        {std::string(kInfHead) + "ServiceName=zqtestdrv\r\n", true},
        {std::string(kInfHead) + "; ZQTEST_TEXT_1\r\n", true},  // in use: at the next restart
        {utf8Mark + "; ZQTEST_CAF\xC3\x89 board\r\n", true},    // the text's UTF-8 form
        {Utf16File(L"AddService=zqtestdrv,2\r\n", true), true},
        {Utf16File(L"ZQTEST_TEXT_1", false, true), false},         // its bytes, not its units
        {std::string(kInfHead) + "; ZQTEST_CAF\xC3\x89 without a mark\r\n", false},
    };
    const int count = static_cast<int>(sizeof files / sizeof files[0]);
    Lines expected = {S("Delete infs:")};
    for (int n = 1; n <= count; ++n) {
        WriteFileBytes(Inf(n), files[n - 1].bytes);
        if (files[n - 1].selected)
            expected.push_back(Narrow(Inf(n)) + "...OK");
    }
    expected.push_back(S("6 inf files are deleted"));
    WriteFileBytes(Inf(1).substr(0, Inf(1).size() - 3) + L"pnf", "precompiled");
    HANDLE held = CreateFileW(Inf(5).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    // The third text cannot be narrowed; as an empty text it would match every file.
    AddEntries(&script.infs, {L"ZQTEST_TEXT_1", L"ZQTEST_CAF\xC9", L"\x4e2d\x6587"});
    AddEntries(&script.drivers, {L"zqtestdrv"});

    Lines lines = Run("inf files");
    CloseHandle(held);
    std::sort(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(PathExists(Inf(1).substr(0, Inf(1).size() - 3) + L"pnf"));
    for (int n = 1; n <= count; ++n)
        EXPECT_EQ(PathExists(Inf(n)), !files[n - 1].selected || n == 5) << n;
    EXPECT_EQ(PendingWith(L"oemzqtest"), std::vector<std::wstring>{Inf(5)});
}

TEST_F(Phases, ServiceKeysThatArePresent)
{
    MakeKey(LM, kServices + L"zqtestsvc1\\Enum", {{L"0", L"x"}});
    // An empty name or one of backslashes would address the Services key itself.
    AddEntries(&script.drivers, {L"zqtestsvc1", L"", L"zqtestmissing", L"\\\\"});
    EXPECT_EQ(Run("driver services"), Lines({S("Delete driver services(4):"), Narrow(kServices) + "zqtestsvc1...OK",
                                             S("1 driver services are deleted.")}));
    EXPECT_FALSE(KeyExists(LM, kServices + L"zqtestsvc1"));
    EXPECT_TRUE(KeyExists(LM, kServices + L"PlugPlay"));
}

TEST_F(Phases, FilesEveryCopyOnceUnlessAnotherCameBetween)
{
    std::wstring p1 = dir + L"\\p1", p2 = dir + L"\\p2", p1Other = dir + L"\\P1", p3 = dir + L"\\p3";
    for (const std::wstring& folder : {p1, p2, p3})
        CreateDirectoryW(folder.c_str(), nullptr);
    ScopedEnv path(L"PATH", (p1 + L";" + p2).c_str());
    for (const std::wstring& file : {p1 + L"\\zq_locked.txt", p2 + L"\\zq_locked.txt", p1 + L"\\zq_ctl.ocx",
                                     p3 + L"\\zq_longer_name.txt", p3 + L"\\zq_dotted.txt", p3 + L"\\zq_case.txt"})
        WriteFileBytes(file, "x");
    wchar_t shortPath[MAX_PATH] = {};
    GetShortPathNameW((p3 + L"\\zq_longer_name.txt").c_str(), shortPath, MAX_PATH);
    std::wstring shortName = wcsrchr(shortPath, L'\\') + 1;
    ASSERT_NE(shortName, L"zq_longer_name.txt");
    // Search order: the system's (p1 first through PATH), p1, p2, p1 spelled another way, then
    // p3, where only the search folder's own search finds what other spellings name.
    AddEntries(&run.lists.searchDirs, {p1.c_str(), p2.c_str(), p1Other.c_str(), p3.c_str()});
    AddEntries(&run.lists.files, {L"zq_locked.txt", L"zq_missing.txt", shortName.c_str(), L"zq_dotted.txt.",
                                  L"Zq_Case.Txt", L"ZQ_CTL.OCX", L"zq_dropped.txt"});
    // The system's own tool is run, by full path: the stand-in takes its place for a while. It
    // leaves a file in p3 after the folder was listed: the next entry still finds it.
    ScopedSystemFile tool(L"regsvr32.exe", StandinPath(L"gacutil.exe"));
    std::wstring base = tool.path.substr(0, tool.path.size() - 4);
    WriteFileBytes(base + L".drop", Narrow(p3) + "\\zq_dropped.txt\n");
    LockedFile holder(p1 + L"\\zq_locked.txt");
    ASSERT_TRUE(holder.held);

    Lines lines = Run("files");
    std::string n1 = Narrow(p1), n2 = Narrow(p2);
    std::string n3 = Narrow(p3);
    EXPECT_EQ(lines, Lines({S("Delete files(7):"), n1 + "\\zq_locked.txt...AFTER BOOT", n2 + "\\zq_locked.txt...OK",
                            Narrow(p1Other) + "\\zq_locked.txt...AFTER BOOT",  // after another copy
                            n3 + "\\" + Narrow(shortName) + "...OK", n3 + "\\zq_dotted.txt...OK",
                            n3 + "\\Zq_Case.Txt...OK",
                            n1 + "\\ZQ_CTL.OCX...OK",  // the entry's spelling, as the search gives it
                            n3 + "\\zq_dropped.txt...OK", S("8 files are deleted.")}));
    EXPECT_EQ(RecordedLines(base + L".args"), Lines{"\"" + Narrow(tool.path) + "\" /S /U \"" + n1 + "\\ZQ_CTL.OCX\""});
    EXPECT_EQ(RecordedLines(base + L".seen"), Lines{"present"});  // unregistered while still there
    EXPECT_EQ(PendingWith(L"\\zqtest\\phases\\").size(), 2u);
    for (const wchar_t* ext : {L".args", L".seen", L".drop"})
        DeleteFileW((base + ext).c_str());
}

TEST_F(Phases, AssembliesThroughTheLaunchersTool)
{
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", work + L"\\gacutil.exe"));
    AddEntries(&script.dotNet, {L"Zq.One", L"", L"Zq.Two, Version=1.0"});
    EXPECT_EQ(Run(".NET assemblies"), Lines({S("Delete .NET dlls from GAC(3):"), "Zq.One...OK",
                                             "Zq.Two, Version=1.0...OK", S("2 .NET dlls are deleted.")}));
    std::string tool = "\"" + Narrow(work) + "\\gacutil.exe\"";
    EXPECT_EQ(RecordedLines(work + L"\\gacutil.args"),
              Lines({tool + " /u Zq.One /silent", tool + " /u Zq.Two, Version=1.0 /silent"}));

    WriteFileBytes(work + L"\\gacutil.exitcode", "3\n");
    script.dotNet.RemoveAll();
    AddEntries(&script.dotNet, {L"Zq.Fails"});
    // A tool that ran and said no has no system error of its own: never a stale one.
    EXPECT_EQ(Run(".NET assemblies")[1], "Zq.Fails...FAILED. Error: 0(3)");
    DeleteFileW((work + L"\\gacutil.exe").c_str());
    EXPECT_EQ(Run(".NET assemblies")[1], "Zq.Fails...FAILED. Error: 2(-1)");  // no tool: the start's error
}

TEST_F(Phases, FoldersButNeverARootOrTheWindowsFolder)
{
    std::wstring gone = dir + L"\\gone";
    CreateDirectoryW(gone.c_str(), nullptr);
    CreateDirectoryW((gone + L"\\deeper").c_str(), nullptr);
    WriteFileBytes(gone + L"\\deeper\\f.bin", "x");
    AddEntries(&run.lists.folders, {L"C:\\", gone.c_str(), (dir + L"\\nothere").c_str(), kRoot.c_str()});
    for (const std::wstring& system : {std::wstring(L"C:\\"), kRoot}) {  // a broken guard fails here, harmlessly
        ASSERT_TRUE(IsProtectedFolder(run.places, system.c_str())) << Narrow(system);
    }
    EXPECT_EQ(Run("folders"), Lines({S("Delete folders(4):"), "C:\\...FAILED(Err:5)", Narrow(gone) + "...OK",
                                     Narrow(kRoot) + "...FAILED(Err:5)", S("1 folders are deleted.")}));
    EXPECT_FALSE(PathExists(gone));
    EXPECT_TRUE(PathExists(kRoot + L"\\system32"));
}

TEST_F(Phases, RegistryKeysAndValuesThatArePresent)
{
    const std::wstring vals = L"Software\\zqtestreg\\vals";
    MakeKey(LM, L"SOFTWARE\\zqtestreg\\deep\\one\\two", {{L"v", L"1"}});
    MakeKey(CU, vals, {{L"gone", L"1"}, {L"", L"default"}, {L"a:b", L"2"}, {L"keep", L"3"}});
    MakeKey(CU, L"zqtestdirect\\sub", {{L"v", L"1"}});
    AddEntries(&script.registry, {
        L"hkey_local_machine\\SOFTWARE\\zqtestreg\\deep", L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:gone",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:", L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:a:b",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:nosuch", L"HKLM\\SOFTWARE\\zqtestreg",
        L" HKEY_CURRENT_USER\\Software\\zqtestreg", L"HKEY_CURRENT_USER\\Software\\zqtestreg\\missing",
        L"HKEY_CURRENT_USER", L"HKEY_CURRENT_USER\\zqtestdirect", L"HKEY_CURRENT_USER\\"});
    EXPECT_EQ(Run("registry"), Lines({S("Delete registry keys(11):"),
                                      "K: hkey_local_machine\\SOFTWARE\\zqtestreg\\deep...OK",
                                      "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:gone...OK",
                                      "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:...OK",
                                      "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:a:b...OK",
                                      "K: HKEY_CURRENT_USER\\zqtestdirect...OK",  // emptied, kept
                                      "K: HKEY_CURRENT_USER\\...FAILED(Err:5)",  // a whole hive: refused
                                      S("5 registry keys are deleted")}));
    EXPECT_FALSE(KeyExists(LM, L"SOFTWARE\\zqtestreg\\deep"));
    EXPECT_TRUE(ValueExists(CU, vals, L"keep") && !ValueExists(CU, vals, L"") && !ValueExists(CU, vals, L"a:b"));
    EXPECT_TRUE(KeyExists(CU, L"zqtestdirect") && !KeyExists(CU, L"zqtestdirect\\sub"));
}

TEST_F(Phases, SetupRegistrationKeepsAKeyWithAnExtraVerb)
{
    InitSystemPaths(paths);  // the module value lies in the 32-bit view of a 64-bit system alone
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    for (const wchar_t* key : {L"KDSetup\\shell\\open\\command", L"KDSetup\\shell\\print\\command", L".kds",
                               L"DERerurI32\\shell\\install\\command", L".zqz32"})
        MakeKey(CR, key, {{L"", L"x"}});
    MakeKey(LM, uninstall + L"ZQ", {{L"DisplayName", L"zq"}});
    MakeKey(LM, uninstall + L"zqtestkeep");
    MakeKey(LM, L"SOFTWARE\\Wow6432Node\\ZQ", {{L"Modules.x64", L"1"}, {L"Modules", L"2"}});
    for (int pass = 1; pass <= 2; ++pass) {  // the second finds nothing left and says the same
        EXPECT_EQ(Run("setup registration"), Lines{S("Undelete setup...OK.")});
        EXPECT_FALSE(KeyExists(CR, L".kds") || KeyExists(CR, L"KDSetup\\shell\\open") || KeyExists(CR, L"DERerurI32"));
        EXPECT_TRUE(KeyExists(CR, L"KDSetup\\shell\\print\\command"));  // and so its parents
        EXPECT_FALSE(KeyExists(LM, uninstall + L"ZQ"));
        EXPECT_TRUE(KeyExists(LM, uninstall + L"zqtestkeep"));
        EXPECT_TRUE(ValueExists(LM, L"SOFTWARE\\Wow6432Node\\ZQ", L"Modules") &&
                    !ValueExists(LM, L"SOFTWARE\\Wow6432Node\\ZQ", L"Modules.x64"));
    }
    RemoveScratchKey(CR, L"KDSetup");
    RemoveScratchKey(LM, uninstall + L"zqtestkeep");
    RemoveScratchKey(LM, L"SOFTWARE\\Wow6432Node\\ZQ");
}

TEST_F(Phases, DeviceKeysByPrefixWithTheirInterfaces)
{
    for (const wchar_t* device : {L"ZQTESTENUM\\OTHER", L"ZQTESTENUM\\ZQDEV_A1", L"ZQTESTENUM\\zqdev_a2"})
        MakeKey(LM, kEnum + device + L"\\0000", {{L"Service", L"x"}});
    for (const wchar_t* device : {L"ZQTESTENUM#OTHER", L"ZQTESTENUM#ZQDEV_A1"})
        MakeKey(LM, Interface(device) + L"\\#", {{L"SymbolicLink", L"x"}});
    EXPECT_EQ(Run("devices"), Lines({S("Find enumerated devices to delete"), S("No enumerated devices found.")}));

    // Prefixes in any case; entries without an enumerator or a backslash find nothing.
    AddEntries(&script.devices, {L"zqtestenum\\zqdev_a", L"\\ZQTESTENUM", L"ZQTESTENUM", L"\\"});
    std::string e = Narrow(kEnum);
    EXPECT_EQ(Run("devices"), Lines({S("Find enumerated devices to delete"), e + "zqtestenum\\ZQDEV_A1...OK",
                                     e + "zqtestenum\\zqdev_a2...OK",
                                     Narrow(Interface(L"ZQTESTENUM#ZQDEV_A1")) + "...OK",
                                     S("3 enumerated devices are deleted.")}));
    EXPECT_TRUE(KeyExists(LM, kEnum + L"ZQTESTENUM\\OTHER\\0000"));
    EXPECT_TRUE(KeyExists(LM, Interface(L"ZQTESTENUM#OTHER")));
}

// The phase's own start, then a stop request: the phase's first poll sees it.
PhaseStart (*realStart)(RunContext&) = nullptr;
PhaseStart StartThenStop(RunContext& run)
{
    PhaseStart start = realStart != nullptr ? realStart(run) : PhaseStart::Go;
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    return start;
}

// Every phase with two targets and a stop requested as it starts. The system folders are the
// test's own, so that no other INF file or store folder comes first.
TEST_F(Phases, StopRules)
{
    ScopedDllOverride native(L"difxapi", L"native");
    std::wstring sysroot = dir + L"\\sysroot", store = sysroot + L"\\system32\\DRVSTORE";
    for (const std::wstring& folder : {sysroot, sysroot + L"\\inf", sysroot + L"\\system32", store,
                                       store + L"\\ZQTESTPKG_A_1", store + L"\\ZQTESTPKG_A_2"})
        CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* n : {L"0", L"1"})
        WriteFileBytes(sysroot + L"\\inf\\oem" + n + L".inf", std::string(kInfHead) + "; zqtest_stop\r\n");
    ScopedEnv systemRoot(L"SystemRoot", sysroot.c_str());
    std::wstring difx = StandinPath(L"difx");
    run.workDir = difx.c_str();
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", difx + L"\\gacutil.exe"));
    for (const wchar_t* name : {L"\\f1", L"\\f2"}) {
        CreateDirectoryW((dir + name).c_str(), nullptr);
        WriteFileBytes(dir + name + L".txt", "x");
    }
    for (const wchar_t* key : {L"zqtestsvc1", L"zqtestsvc2"})
        MakeKey(LM, kServices + key);
    for (const wchar_t* key : {L"SOFTWARE\\zqtestreg\\r1", L"SOFTWARE\\zqtestreg\\r2"})
        MakeKey(LM, key);
    for (const wchar_t* key : {L"ZQTESTENUM\\D1", L"ZQTESTENUM\\D2"})
        MakeKey(LM, kEnum + key);
    AddEntries(&script.drvPackages, {L"ZQTESTPKG_A"});
    AddEntries(&script.infs, {L"zqtest_stop"});
    AddEntries(&script.drivers, {L"zqtestsvc1", L"zqtestsvc2"});
    AddEntries(&run.lists.files, {(dir + L"\\f1.txt").c_str(), (dir + L"\\f2.txt").c_str()});
    AddEntries(&script.dotNet, {L"Zq.One", L"Zq.Two"});
    AddEntries(&run.lists.folders, {(dir + L"\\f1").c_str(), (dir + L"\\f2").c_str()});
    AddEntries(&script.registry, {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\zqtestreg\\r1", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\zqtestreg\\r2"});
    AddEntries(&script.devices, {L"ZQTESTENUM\\D"});

    const struct {
        const char* phase;
        int items;            // item lines
        const char* summary;  // null: none
        bool goesOn;
    } rules[] = {
        {"driver packages", 0, "0 driver packages are deleted from the DriverStore.", false},  // "." is first
        {"inf files", 1, "1 inf files are deleted", false},
        {"driver services", 2, nullptr, false},  // polled only after its loop
        {"files", 1, "1 files are deleted.", false},
        {".NET assemblies", 1, nullptr, false},
        {"folders", 1, nullptr, false},
        {"registry", 1, "1 registry keys are deleted", false},
        {"setup registration", 0, "Undelete setup...OK.", true},  // never polled
        {"devices", 1, "1 enumerated devices are deleted.", true},  // the closing line follows
    };
    for (const auto& rule : rules) {
        ServiceCurrentState() = SERVICE_RUNNING;
        const PhaseRow* row = std::find_if(kPhases, kPhases + kPhaseCount, [&](const PhaseRow& phase) {
            return strcmp(phase.name, rule.phase) == 0;
        });
        ASSERT_NE(row, kPhases + kPhaseCount) << rule.phase;
        PhaseRow stopping = *row;
        realStart = row->Start;
        stopping.Start = StartThenStop;
        log = FreshRunLog("phases");
        EXPECT_EQ(RunPhase(run, stopping, static_cast<int>(row - kPhases) + 1), rule.goesOn) << rule.phase;
        Lines lines = LogLines(log);
        ASSERT_FALSE(lines.empty()) << rule.phase;
        int items = 0, stamped = 0;
        for (const std::string& line : lines) {
            bool isStamped = line.compare(0, 4, "[TS]") == 0;
            stamped += isStamped ? 1 : 0;
            items += !isStamped && line.find("...") != std::string::npos ? 1 : 0;
            EXPECT_EQ(line.find("FAILED"), std::string::npos) << rule.phase << ": " << line;
        }
        EXPECT_EQ(items, rule.items) << rule.phase;
        bool setup = strcmp(rule.phase, "setup registration") == 0;  // header and summary: one line
        EXPECT_EQ(stamped, (setup ? 0 : 1) + (rule.summary != nullptr ? 1 : 0)) << rule.phase;
        if (rule.summary != nullptr) {
            EXPECT_EQ(lines.back(), S(rule.summary)) << rule.phase;
        }
    }
}
