// Guard rails, end to end: per kind of danger one launch whose script holds dangerous lines
// next to a product's own entries. What the system needs stays (counted and checked), the
// product's entries go, and the run completes.
#include <windows.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "guard/Guard.h"
#include "tests/support/Support.h"

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const std::wstring kRunLog = L"C:\\zqclean.log";
const std::wstring kWindows = SystemRootDir();

bool Has(const Lines& lines, const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

// Entries (files and folders) directly in a folder.
int EntriesIn(const std::wstring& folder)
{
    int count = 0;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    while (find.Valid() && (count += 1, FindNextFileW(find.Get(), &data))) {
    }
    return count;
}

int SubkeysOf(HKEY root, const std::wstring& path)
{
    RegKey key;
    DWORD subkeys = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS ||
        RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(subkeys);
}

// Every line that says something was removed must be one of the product's.
void ExpectOnlyRemoved(const Lines& log, const Lines& removed)
{
    for (const std::string& line : log) {
        bool done = line.size() > 5 && (line.compare(line.size() - 5, 5, "...OK") == 0 ||
                                         line.find("...AFTER BOOT") != std::string::npos);
        if (done) {
            EXPECT_TRUE(Has(removed, line)) << "removed by the run: " << line;
        }
    }
    for (const std::string& line : removed)
        EXPECT_TRUE(Has(log, line)) << "not removed: " << line;
    EXPECT_EQ(log.back(), ClosingLine());
}

// The guard of this very build, asked in-process before a launch: a broken guard must fail
// the test, not empty the prefix's Windows folder.
void AssertRefusedHere(const std::vector<Target>& targets)
{
    ProtectedPlaces places;
    AskProtectedPlaces(&places);
    for (const Target& target : targets) {
        DWORD error = 0;
        const char* reason = nullptr;
        ASSERT_TRUE(IsRefused(places, target, &error, &reason)) << Narrow(target.path);
    }
}

std::wstring Expanded(const std::wstring& path)
{
    wchar_t expanded[MAX_PATH];
    ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH);
    return expanded;
}

void AssertFoldersRefusedHere(const std::vector<std::wstring>& folders)
{
    std::vector<std::wstring> expanded;
    for (const std::wstring& folder : folders)
        expanded.push_back(Expanded(folder));
    std::vector<Target> targets;
    for (const std::wstring& folder : expanded)
        targets.push_back({TargetKind::Folder, folder.c_str()});
    AssertRefusedHere(targets);
}

// The lines each must have; a dangerous line whose target is not there leaves none.
void ExpectLines(const Lines& log, const Lines& expected)
{
    for (const std::string& line : expected)
        EXPECT_TRUE(Has(log, line)) << line;
}

class Guard : public ::testing::Test {
protected:
    void SetUp() override { SetEnvironmentVariableW(L"DISPLAY", nullptr); }
    ScopedDllOverride builtin{L"difxapi", L"builtin"};
};

}  // namespace

TEST_F(Guard, FoldersFilesAndMasksNeverReachTheSystem)
{
    std::wstring work = MakeScratchDir(L"guard-fs"), product = work + L"\\Product", ex = work + L"\\ex";
    const std::wstring vendor = kWindows + L"\\System32\\zqguardvendor", sfcFolder = kWindows + L"\\zqsfcdir";
    const std::wstring inf = kWindows + L"\\inf\\";
    for (const std::wstring& folder : {product, product + L"\\sub", ex, vendor, sfcFolder})
        CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(product + L"\\sub\\a.txt", "x");
    for (const wchar_t* name : {L"\\zqguard_ctl.dll", L"\\zqguard1.tmp", L"\\data.dat"})
        WriteFileBytes(ex + name, "x");
    std::wstring canary = kWindows + L"\\zqsfc_canary.dll";  // protected by the stand-in's check
    WriteFileBytes(canary, "x");
    // INF files: the system's own, another vendor's and the product's; each holds what every INF holds.
    const std::string common = "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%Maker%\r\nDriverVer=01/01/2020,1.0\r\n";
    WriteFileBytes(inf + L"zqguardsys.inf", common + "[Strings]\r\nMaker=\"ZqGuard System Text\"\r\n");
    WriteFileBytes(inf + L"oemzqother.inf", common + "[Strings]\r\nMaker=\"ZqGuard System Text Other\"\r\n");
    WriteFileBytes(inf + L"oemzqguard.inf", common + "[Strings]\r\nMaker=\"ZqGuard Devices Inc\"\r\n");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(L"C:\\Program Files", shortName, MAX_PATH), 0u);
    // The system's own folders below the Windows folder, by name and by a protected file in them.
    const std::vector<std::wstring> systemFolders = {
        L"%SystemRoot%\\help", L"%SystemRoot%\\logs", L"%SystemRoot%\\globalization\\sorting", L"%SystemRoot%\\system",
        L"%SystemRoot%\\resources", L"%SystemRoot%\\twain_32", L"%SystemRoot%\\winsxs", L"%SystemRoot%\\zqsfcdir",
        L"%SystemRoot%\\System32\\Speech", L"%SystemRoot%\\System32\\mui", L"%SystemRoot%\\System32\\wbem",
        L"%SystemRoot%\\System32\\spool\\drivers", L"%SystemRoot%\\System32\\catroot", L"%SystemRoot%\\System32\\tasks",
        L"%SystemRoot%\\System32\\WindowsPowerShell\\v1.0", L"%SystemRoot%\\System32\\drivers\\etc"};
    std::string script = "[folders]\r\n%SystemRoot%\\System32\r\n\\\\?\\%SystemRoot%\r\n\\\\.\\%SystemRoot%\r\nsystem32\r\n"
                         "C:system32\r\n.\r\n%SystemRoot%\\System32\\drivers\r\n%ProgramFiles%\r\nC:\\users\r\n"
                         "%ProgramData%\r\n%SystemRoot%.\r\n%SystemRoot%\\..\r\n%SystemRoot%\\inf\\\r\n" + Narrow(shortName) +
                         "\r\nC:\\zqtest\\guard-fs\\Product\r\n%SystemRoot%\\System32\\zqguardvendor\r\n";
    Lines refused;
    for (const std::wstring& folder : systemFolders) {
        script += Narrow(folder) + "\r\n";
        if (PathExists(Expanded(folder)))
            refused.push_back(Narrow(Expanded(folder)) + "...FAILED(Err:5)");
    }
    // Texts every INF file holds, or the system's own INF files do; masks with fewer than three
    // letters of a name.
    WriteFileBytes(work + L"\\zqclean.ini",
                   script + "[exfolders]\r\nC:\\zqtest\\guard-fs\\ex\r\n"
                   "[files]\r\nkernel32.dll\r\nntdll.dll\r\nwin.ini\r\n" + Narrow(canary) + "\r\n"
                   "[maskedfiles]\r\n*.dll\r\n*.*\r\n?*.sys\r\n*\r\n*o*.dll\r\n*.*.dll\r\n*.*.*\r\nk*.dll\r\nzqguard*.tmp\r\n"
                   "[infs]\r\nSignature\r\nDriverVer\r\nProvider\r\nNT$\r\n.\r\nDriverVer =\r\n$Windows NT$\r\n%12%\r\n"
                   "ZqGuard System Text\r\nZqGuard Devices Inc\r\n");
    const std::wstring watched[] = {kWindows, SystemFolder(), SystemFolder() + L"\\drivers", kWindows + L"\\inf",
                                    L"C:\\Program Files", L"C:\\users", L"C:\\ProgramData", L"C:\\", sfcFolder};
    std::vector<std::wstring> asked = {L"%SystemRoot%\\System32", L"\\\\?\\%SystemRoot%", L"\\\\.\\%SystemRoot%", L"system32",
                                       L"C:system32", L".", L"%ProgramFiles%", L"C:\\users", L"%ProgramData%", L"%SystemRoot%.",
                                       L"%SystemRoot%\\..", L"%SystemRoot%\\inf\\", shortName, L"C:\\"};
    for (const std::wstring& folder : systemFolders)
        if (folder.find(L"zqsfcdir") == std::wstring::npos)  // named by the stand-in's check, which runs below
            asked.push_back(folder);
    AssertFoldersRefusedHere(asked);
    WriteFileBytes(kRunLog, "");  // the run's own log and report in C:\ are no change
    WriteFileBytes(L"C:\\zqclean.json", "");
    std::vector<int> before;
    for (const std::wstring& folder : watched)
        before.push_back(EntriesIn(folder));

    DWORD exitCode;
    {
        ScopedSystemFile sfc(L"sfc.dll", StandinPath(L"sfc\\sfc.dll"));
        exitCode = Launch(L"-s", work);
    }
    EXPECT_EQ(kCompletedRun, exitCode);
    Lines log = LogLines(kRunLog);
    const std::string w = Narrow(kWindows), e = "C:\\zqtest\\guard-fs\\ex\\";
    // Refused as written when no full path, else as made absolute; nothing of the system goes.
    for (const std::string& line : Lines{"system32...FAILED(Err:161)", "C:system32...FAILED(Err:161)", "....FAILED(Err:161)",
          w + "\\System32...FAILED(Err:5)", w + "...FAILED(Err:5)", "C:\\...FAILED(Err:5)",
          w + "\\System32\\drivers...FAILED(Err:5)", "C:\\users...FAILED(Err:5)", w + "\\inf...FAILED(Err:5)",
          Narrow(shortName) + "...FAILED(Err:5)", Narrow(SystemFolder()) + "\\kernel32.dll...FAILED(Err:5)",
          w + "\\win.ini...FAILED(Err:5)", Narrow(canary) + "...FAILED(Err:5)"})
        // (A 32-bit build sees SysWOW64\drivers there, which Wine lacks.)
        if (line.find("drivers") == std::string::npos || PathExists(kWindows + L"\\System32\\drivers"))
            refused.push_back(line);
    Lines removed = {"C:\\zqtest\\guard-fs\\Product...OK", w + "\\System32\\zqguardvendor...OK",
                     e + "zqguard_ctl.dll...OK", e + "zqguard1.tmp...OK", e + "data.dat...OK"};
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (!wow64) {  // a 32-bit build on 64-bit Windows leaves INF files to the 64-bit one
        for (const char* text : {"Signature", "DriverVer", "Provider", "NT$", ".", "DriverVer =", "$Windows NT$", "%12%",
                                 "ZqGuard System Text"})
            refused.push_back(std::string(text) + "...FAILED(Err:5)");
        removed.push_back(Narrow(inf) + "oemzqguard.inf...OK");
    }
    ExpectLines(log, refused);
    ExpectOnlyRemoved(log, removed);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(EntriesIn(watched[i]), before[i] - (i == 1 ? 1 : i == 3 && !wow64 ? 1 : 0)) << Narrow(watched[i]);
    EXPECT_TRUE(PathExists(canary) && PathExists(SystemFolder() + L"\\kernel32.dll") && PathExists(kWindows + L"\\win.ini"));
    EXPECT_FALSE(PathExists(product) || PathExists(ex + L"\\data.dat") || PathExists(vendor));
    for (const wchar_t* name : {L"zqguardsys.inf", L"oemzqother.inf", L"oemzqguard.inf"})
        DeleteFileW((inf + name).c_str());
    DeleteFileW(canary.c_str());
    RemoveTree(sfcFolder);
    RemoveTree(work);
}

TEST_F(Guard, KeysValuesServicesAndDevicesTheSystemNeeds)
{
    std::wstring work = MakeScratchDir(L"guard-keys");
    const HKEY HKCR = HKEY_CLASSES_ROOT;
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\", control = L"SYSTEM\\CurrentControlSet\\Control\\",
                       run = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", enumKey = L"SYSTEM\\CurrentControlSet\\Enum\\",
                       environment = control + L"Session Manager\\Environment", nt = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                       systemClass = L"CLSID\\{5A0E1C5D-0000-4A11-9D5E-5A0E1C5D0001}",
                       productClass = L"CLSID\\{5A0E1C5D-0000-4A11-9D5E-5A0E1C5D0002}";
    MakeKey(HKLM, L"SOFTWARE\\zqguard\\deep", {{L"v", L"1"}});
    // A link below the product's key, and a link that is the product's key: each goes as itself.
    ASSERT_TRUE(MakeKeyLink(L"SOFTWARE\\zqguard\\appid", L"\\Registry\\Machine\\Software\\Classes\\AppID"));
    ASSERT_TRUE(MakeKeyLink(L"SOFTWARE\\zqguardlink", L"\\Registry\\Machine\\" + nt));
    MakeKey(HKLM, run, {{L"zqguard", L"x"}});
    MakeKey(HKLM, environment, {{L"ZQGUARD_HOME", L"C:\\zqguard"}});
    MakeKey(HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zqguard", {{L"DisplayName", L"zq"}});
    MakeKey(HKCR, L".zqguard\\ShellNew", {{L"", L"zqguard.file"}});
    MakeKey(HKCR, systemClass + L"\\InprocServer32", {{L"", L"%SystemRoot%\\system32\\shell32.dll"}});
    MakeKey(HKCR, productClass + L"\\InprocServer32", {{L"", L"C:\\zqtest\\guard-keys\\zqguard.dll"}});
    for (const wchar_t* device : {L"ZQGUARDBUS\\DEV1", L"ZQGUARDBUS\\DEV2", L"ROOT\\ZQGUARDKEEP", L"ROOT\\ZQGUARDWHOLE",
                                  L"ROOT\\ZQGUARDWHOLEX"})
        MakeKey(HKLM, enumKey + device + L"\\0000");
    MakeKey(HKLM, enumKey + L"ROOT\\ZQGUARDSYSDEV\\0000", {{L"Service", L"Spooler"}});
    MakeKey(HKLM, services + L"zqguarddrv", {{L"ImagePath", L"\\SystemRoot\\System32\\drivers\\zqguard.sys"}});
    MakeKey(HKLM, services + L"zqguardsys", {{L"ImagePath", L"\\SystemRoot\\System32\\drivers\\ntfs.sys"}});
    bool madeNtfs = !KeyExists(HKLM, services + L"Ntfs");
    MakeKey(HKLM, services + L"Ntfs");
    // Each dangerous entry: a root, a key and, for a value, its name.
    struct Entry {
        HKEY root;
        std::wstring key;
        const wchar_t* value;
    };
    const Entry dangerous[] = {
        {HKLM, L"SOFTWARE", nullptr}, {HKLM, L"SYSTEM", nullptr}, {HKLM, L"SYSTEM\\CurrentControlSet", nullptr},
        {HKCR, L"CLSID", nullptr}, {HKLM, run, nullptr}, {HKLM, L"SOFTWARE\\Wow6432Node\\Microsoft", nullptr},
        {HKEY_USERS, L".DEFAULT", nullptr}, {HKEY_CURRENT_USER, L"Software", nullptr},
        {HKLM, environment, L"PATHEXT"}, {HKLM, environment, L"ComSpec"}, {HKLM, environment, L"PATH"},
        {HKLM, control + L"Session Manager", L"GlobalFlag"}, {HKLM, L"SYSTEM\\Select", L"Current"},
        {HKLM, nt + L"\\Winlogon", L"Shell"}, {HKLM, nt, L"CurrentBuild"}, {HKCR, L"exefile\\shell\\open\\command", L""},
        {HKLM, control + L"ProductOptions", nullptr}, {HKLM, control + L"ServiceGroupOrder", nullptr},
        {HKLM, control + L"Session Manager\\Memory Management", nullptr}, {HKCR, L".msi", nullptr},
        {HKCR, L"Msi.Package", nullptr}, {HKCR, L"http", nullptr}, {HKLM, L"SOFTWARE\\Classes\\Wow6432Node", nullptr},
        {HKCR, systemClass, nullptr}, {HKLM, services + L"Spooler", nullptr}, {HKLM, services + L"Eventlog\\Parameters", nullptr},
        {HKLM, services + L"PlugPlay", L"ImagePath"}, {HKLM, enumKey + L"ROOT\\WINE", nullptr},
        {HKLM, L"SOFTWARE\\zqguardlink\\Winlogon", nullptr}, {HKLM, L"SOFTWARE\\zqguardlink\\Winlogon", L"Shell"}};
    std::string script = "[registry]\r\nhkey_local_machine\\software\\microsoft\\\r\n"
                         "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\r\n";
    Lines refused = {"K: hkey_local_machine\\software\\microsoft\\...FAILED(Err:5)"};
    std::vector<Target> asked;
    for (const Entry& entry : dangerous) {
        const char* root = entry.root == HKLM ? "HKEY_LOCAL_MACHINE" : entry.root == HKCR ? "HKEY_CLASSES_ROOT"
                           : entry.root == HKEY_USERS ? "HKEY_USERS" : "HKEY_CURRENT_USER";
        std::string line = std::string(root) + "\\" + Narrow(entry.key) + (entry.value ? ":" + Narrow(entry.value) : "");
        script += line + "\r\n";
        Target target = {entry.value ? TargetKind::RegistryValue : TargetKind::RegistryKey, entry.key.c_str(), entry.root};
        target.valueName = entry.value;
        asked.push_back(target);
        if (entry.value ? ValueExists(entry.root, entry.key, entry.value) : KeyExists(entry.root, entry.key))
            refused.push_back((entry.value ? "V: " : "K: ") + line + "...FAILED(Err:5)");
    }
    AssertRefusedHere(asked);
    const std::string e = "SYSTEM\\CurrentControlSet\\Enum\\", d = "SYSTEM\\CurrentControlSet\\Services\\";
    for (const char* line : {"ROOT", "PCI", "PCI\\V", "HID\\VID_8", "DISPLAY\\D", "ROOT\\ZQGUARDW", "ROOT\\ZQGUARDSYSDEV",
                             "ROOT\\WINE"})
        refused.push_back(e + line + "...FAILED(Err:5)");
    for (const char* name : {"Ntfs", "zqguardsys", "Spooler", "Schedule", "Eventlog", "RpcSs", "PlugPlay", "winebus", "HTTP"})
        refused.push_back(d + name + "...FAILED(Err:5)");
    WriteFileBytes(work + L"\\zqclean.ini",
                   script + "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqguard\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqguardlink\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run:zqguard\r\n"
                   "HKEY_LOCAL_MACHINE\\" + Narrow(environment) + ":ZQGUARD_HOME\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zqguard\r\n"
                   "HKEY_CLASSES_ROOT\\.zqguard\\ShellNew\r\nHKEY_CLASSES_ROOT\\" + Narrow(productClass) + "\r\n"
                   "[devices]\r\nROOT\\\r\nROOT\\ \r\nPCI\\\r\nPCI\\V\r\nHID\\VID_8\r\nDISPLAY\\D\r\nROOT\\ZQGUARDW\r\n"
                   "ROOT\\ZQGUARDSYSDEV\r\nROOT\\WINE\r\nROOT\\ZQGUARDWHOLE\r\nZQGUARDBUS\\\r\n"
                   "[drivers]\r\nNtfs\r\nzqguardsys\r\nSpooler\r\nSchedule\r\nEventlog\r\nRpcSs\r\nPlugPlay\r\nwinebus\r\nHTTP\r\n"
                   "zqguarddrv\r\n");
    const std::pair<HKEY, std::wstring> watched[] = {
        {HKLM, L"SOFTWARE"}, {HKLM, L"SYSTEM\\CurrentControlSet\\Services"}, {HKCR, L""}, {HKLM, L"SOFTWARE\\Microsoft"},
        {HKLM, enumKey + L"ROOT"}, {HKLM, control}, {HKCR, L"CLSID"}, {HKCR, L"AppID"}, {HKLM, nt},
        {HKEY_USERS, L".DEFAULT"}, {HKEY_CURRENT_USER, L"Software"}};
    std::vector<int> before;
    for (const auto& key : watched)
        before.push_back(SubkeysOf(key.first, key.second));

    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    Lines log = LogLines(kRunLog);
    ExpectLines(log, refused);
    ExpectOnlyRemoved(log, {"K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqguard...OK", "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqguardlink...OK",
                            "V: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run:zqguard...OK",
                            "V: HKEY_LOCAL_MACHINE\\" + Narrow(environment) + ":ZQGUARD_HOME...OK",
                            "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zqguard...OK",
                            "K: HKEY_CLASSES_ROOT\\.zqguard\\ShellNew...OK", "K: HKEY_CLASSES_ROOT\\" + Narrow(productClass) + "...OK",
                            e + "ZQGUARDBUS\\DEV1...OK", e + "ZQGUARDBUS\\DEV2...OK", e + "ROOT\\ZQGUARDWHOLE...OK",
                            d + "zqguarddrv...OK"});
    // Only the product's own keys went: SOFTWARE\zqguard(link), Services\zqguarddrv, HKCR\.zqguard,
    // its class and one device of ROOT.
    const int gone[] = {2, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0};
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(SubkeysOf(watched[i].first, watched[i].second), before[i] - gone[i]) << Narrow(watched[i].second);
    EXPECT_TRUE(KeyExists(HKLM, enumKey + L"ROOT\\ZQGUARDWHOLEX\\0000") && KeyExists(HKLM, services + L"zqguardsys") &&
                ValueExists(HKLM, environment, L"PATHEXT") && KeyExists(HKCR, systemClass));
    for (const wchar_t* device : {L"ROOT\\ZQGUARDKEEP", L"ROOT\\ZQGUARDWHOLEX", L"ROOT\\ZQGUARDSYSDEV", L"ZQGUARDBUS"})
        RemoveScratchKey(HKLM, enumKey + device);
    RemoveScratchKey(HKCR, systemClass);
    RemoveScratchKey(HKCR, L".zqguard");
    RemoveScratchKey(HKLM, services + L"zqguardsys");
    if (madeNtfs)
        RemoveScratchKey(HKLM, services + L"Ntfs");
    RemoveTree(work);
}

// A path is judged by the local place it reaches: another machine's in any spelling, through a
// link anywhere along it, a folder named as a file, the run's own files. A restore never writes
// through a link.
TEST_F(Guard, PlacesAreJudgedWhereTheyLead)
{
    const std::wstring work = MakeScratchDir(L"guard-places"), vendor = work + L"\\vendor";
    const std::string w = "C:\\zqtest\\guard-places";
    for (const wchar_t* folder : {L"\\vendor", L"\\product", L"\\via", L"\\via\\sub", L"\\elsewhere", L"\\r"})
        CreateDirectoryW((work + folder).c_str(), nullptr);
    for (const wchar_t* file : {L"\\own.dat", L"\\via\\sub\\saved.dat"})
        WriteFileBytes(work + file, "x");
    ASSERT_TRUE(MakeLink(vendor + L"\\link-to-C", L"C:\\"));
    bool madeDocuments = !PathExists(L"C:\\Documents and Settings");
    ASSERT_TRUE(!madeDocuments || MakeLink(L"C:\\Documents and Settings", L"C:\\users"));
    ASSERT_TRUE(DefineDosDeviceW(0, L"Q:", L"\\\\localhost\\C$"));  // a drive letter mapped to a share
    const std::string link = w + "\\vendor\\link-to-C";
    const Lines folders = {"\\\\localhost\\C$\\zqtest\\guard-places\\product", "Q:\\zqtest\\guard-places\\product",
                           link + "\\Program Files (x86)\\Common Files", link + "\\users\\Public",
                           "C:\\Documents and Settings\\Public", link, "C:\\zqtest"};
    const Lines files = {link + "\\windows\\win.ini", "C:\\zqclean.log", Narrow(Program())};
    std::string script = "[folders]\r\n\\\\?\\UNC\\localhost\\c$\\ProgramData\r\n" + link +
                         "\\zqtest\\guard-places\\product\r\n";
    Lines refused = {"\\\\localhost\\c$\\ProgramData...FAILED(Err:5)", "C:\\...FAILED(Err:336)",
                     Narrow(SystemFolder()) + "\\wbem...FAILED(Err:336)", w + "\\zqclean.ini...FAILED(Err:5)",
                     w + "\\zqclean.ini.srvc...FAILED(Err:5)"};
    std::vector<std::wstring> wide;
    for (const std::string& folder : folders) {
        script += folder + "\r\n";
        refused.push_back(folder + "...FAILED(Err:5)");
        if (folder != "C:\\zqtest")  // one that holds the run's own files: refused in a run only
            wide.push_back(Widen(folder));
    }
    script += "[exfolders]\r\n" + w + "\r\n[files]\r\nC:\\\r\nwbem\r\nzqclean.ini\r\nzqclean.ini.srvc\r\n" + w + "\\own.dat\r\n";
    for (const std::string& file : files) {
        script += file + "\r\n";
        refused.push_back(file + "...FAILED(Err:5)");
    }
    AssertFoldersRefusedHere(wide);
    WriteFileBytes(work + L"\\zqclean.ini", script);
    const std::wstring watched[] = {kWindows, SystemFolder(), L"C:\\", L"C:\\users\\Public", L"C:\\Program Files (x86)\\Common Files",
                                    L"C:\\ProgramData", work};
    std::vector<int> before;
    for (const std::wstring& folder : watched)
        before.push_back(EntriesIn(folder));

    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    Lines log = LogLines(kRunLog);
    ExpectLines(log, refused);
    // Through a link to a place that may go.
    ExpectOnlyRemoved(log, {w + "\\own.dat...OK", link + "\\zqtest\\guard-places\\product...OK"});
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(EntriesIn(watched[i]), before[i] - (i + 1 == before.size() ? 2 : 0)) << Narrow(watched[i]);
    EXPECT_TRUE(PathExists(kWindows + L"\\win.ini") && PathExists(Program()) && PathExists(work + L"\\zqclean.ini"));
    EXPECT_FALSE(PathExists(work + L"\\product"));

    // Saved by a run, then its folder's parent made a link: the restore does not write there.
    WriteFileBytes(work + L"\\r\\zqclean.ini", "[general]\r\nbackup=" + w + "\\bk\r\n[folders]\r\n" + w + "\\via\\sub\r\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work + L"\\r"));
    RemoveTree(work + L"\\via");
    ASSERT_TRUE(MakeLink(work + L"\\via", work + L"\\elsewhere"));
    EXPECT_EQ(kCompletedRun, Launch(L"-restore", work + L"\\r"));
    EXPECT_TRUE(Has(LogLines(kRunLog), w + "\\via\\sub...FAILED(Err:5)"));
    EXPECT_FALSE(PathExists(work + L"\\elsewhere\\sub"));

    DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", nullptr);
    if (madeDocuments)
        RemoveLink(L"C:\\Documents and Settings");
    RemoveTree(work);
}

// A NUL or Ctrl-Z byte never cuts a line to its parent folder, nor ends the script; a line too
// long is never split into entries; a lone CR ends a line; the UTF-8 mark is no part of a header.
TEST_F(Guard, MalformedBytesNeverCutALine)
{
    std::wstring work = MakeScratchDir(L"guard-bytes");
    const std::string w = "C:\\zqtest\\guard-bytes\\";
    for (const char* folder : {"parent", "parent\\child", "parent2", "parent3", "gone1", "gone2", "gone3"})
        CreateDirectoryW(Widen(w + folder).c_str(), nullptr);
    std::string longLine = w + std::string(2047 - w.size(), 'a') + w + "parent3";
    WriteFileBytes(work + L"\\zqclean.ini", "\xEF\xBB\xBF[folders]\r\n" + w + "parent\\" + std::string(1, '\0') +
                                              "child\r\n" + w + "parent2\x1A\r\n" + longLine + "\r\n" + w + "gone1\r" +
                                              w + "gone2\r\n" + w + "gone3\r\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    Lines log = LogLines(kRunLog);
    for (const char* refused : {"Script line 2 refused: it holds a NUL byte", "Script line 3 refused: it holds a Ctrl-Z byte",
                                "Script line 4 refused: it is longer than 2047 characters"})
        EXPECT_TRUE(Has(log, S(refused))) << refused;
    ExpectOnlyRemoved(log, {w + "gone1...OK", w + "gone2...OK", w + "gone3...OK"});
    for (const char* kept : {"parent\\child", "parent2", "parent3"})
        EXPECT_TRUE(PathExists(Widen(w + kept))) << kept;
    RemoveTree(work);
}

// The system account takes its tools and libraries from the system only, and what the launcher
// prepared cannot be swapped while the service runs.
TEST_F(Guard, NothingPlantedIsRunOrWrittenThrough)
{
    std::wstring work = MakeScratchDir(L"guard-trust"), programDir = Program().substr(0, Program().rfind(L'\\'));
    for (const std::wstring& folder : {work, programDir})
        ASSERT_TRUE(CopyStandIn(L"gacutil.exe", folder + L"\\regsvr32.exe"));
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", work + L"\\gacutil.exe"));
    ASSERT_TRUE(CopyFileW(StandinPath(L"difx\\DIFxAPI.dll").c_str(), (work + L"\\DIFxAPI.dll").c_str(), FALSE));
    WriteFileBytes(work + L"\\zqtrust.ocx", "x");
    WriteFileBytes(work + L"\\zqclean.ini", "[files]\r\nC:\\zqtest\\guard-trust\\zqtrust.ocx\r\n[.NET]\r\nZq.Slow\r\n");
    // Links planted where the copy and the log are made: written through, they would change these.
    WriteFileBytes(work + L"\\canary1.txt", "canary");
    WriteFileBytes(work + L"\\canary2.txt", "canary");
    DeleteFileW(kRunLog.c_str());
    ASSERT_TRUE(CreateHardLinkW((work + L"\\zqclean.ini.srvc").c_str(), (work + L"\\canary1.txt").c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW(kRunLog.c_str(), (work + L"\\canary2.txt").c_str(), nullptr));
    KernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqguard_ready"));
    KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqguard_release"));
    WriteFileBytes(work + L"\\gacutil.exitcode", "0 Global\\zqguard_ready Global\\zqguard_release\n");

    KernelHandle launcher = Start(Program(), L"-s", work);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 60000));
    for (const std::wstring& held : {Program(), work + L"\\zqclean.ini.srvc", work + L"\\gacutil.exe", work + L"\\DIFxAPI.dll"}) {
        SetLastError(0xdeadbeef);
        if (MoveFileExW(held.c_str(), (held + L".moved").c_str(), 0)) {
            ADD_FAILURE() << "renamed during the run: " << Narrow(held);
            MoveFileExW((held + L".moved").c_str(), held.c_str(), 0);
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << Narrow(held);
        EXPECT_FALSE(FileHandle(CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr)).Valid()) << Narrow(held);
    }
    {
        // A service left behind by a killed launcher must never start at boot.
        ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
        ServiceHandle service(OpenServiceW(manager.Get(), L"zqcleansrvc", SERVICE_QUERY_CONFIG));
        alignas(8) BYTE buffer[8192];
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigW(service.Get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer), sizeof buffer, &needed));
        EXPECT_EQ(reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer)->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    }
    SetEvent(release.Get());
    EXPECT_EQ(kCompletedRun, Finish(launcher));
    EXPECT_TRUE(Has(LogLines(kRunLog), "C:\\zqtest\\guard-trust\\zqtrust.ocx...OK"));
    for (const std::wstring& folder : {work, programDir}) {
        EXPECT_FALSE(PathExists(folder + L"\\regsvr32.args")) << "planted tool run from " << Narrow(folder);
        DeleteFileW((folder + L"\\regsvr32.exe").c_str());
        DeleteFileW((folder + L"\\regsvr32.args").c_str());
    }
    EXPECT_EQ(ReadFileBytes(work + L"\\canary1.txt"), "canary");
    EXPECT_EQ(ReadFileBytes(work + L"\\canary2.txt"), "canary");

    // A status block that is there already is someone else's: nothing is done.
    KernelHandle planted(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1044, L"Global\\DIRezizUro"));
    WriteFileBytes(work + L"\\zqtrust.ocx", "x");
    EXPECT_EQ(0u, Launch(L"-s", work));
    EXPECT_EQ(LogLines(kRunLog), Lines{S("zqclean error(740): 183")});
    EXPECT_TRUE(PathExists(work + L"\\zqtrust.ocx"));
    RemoveTree(work);
}
