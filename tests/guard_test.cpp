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
void AssertRefusedHere(std::initializer_list<std::wstring> folders)
{
    ProtectedPlaces places;
    AskProtectedPlaces(&places);
    for (const std::wstring& folder : folders) {
        wchar_t expanded[MAX_PATH];
        ExpandEnvironmentStringsW(folder.c_str(), expanded, MAX_PATH);
        Target target = {TargetKind::Folder, expanded};
        DWORD error = 0;
        const char* reason = nullptr;
        ASSERT_TRUE(IsRefused(places, target, &error, &reason)) << Narrow(expanded);
    }
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
    CreateDirectoryW(product.c_str(), nullptr);
    CreateDirectoryW((product + L"\\sub").c_str(), nullptr);
    CreateDirectoryW(ex.c_str(), nullptr);
    WriteFileBytes(product + L"\\sub\\a.txt", "x");
    for (const wchar_t* name : {L"\\zqguard_ctl.dll", L"\\zqguard1.tmp", L"\\data.dat"})
        WriteFileBytes(ex + name, "x");
    std::wstring canary = kWindows + L"\\zqsfc_canary.dll";  // protected by the stand-in's check
    WriteFileBytes(canary, "x");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(L"C:\\Program Files", shortName, MAX_PATH), 0u);
    WriteFileBytes(work + L"\\zqclean.ini",
                   "[folders]\r\n%SystemRoot%\\System32\r\n\\\\?\\%SystemRoot%\r\n\\\\.\\%SystemRoot%\r\nsystem32\r\n"
                   "C:system32\r\n.\r\n%SystemRoot%\\System32\\drivers\r\n%ProgramFiles%\r\nC:\\users\r\n"
                   "%ProgramData%\r\n%SystemRoot%.\r\n%SystemRoot%\\..\r\n%SystemRoot%\\inf\\\r\n" + Narrow(shortName) + "\r\n"
                   "C:\\zqtest\\guard-fs\\Product\r\n"
                   "[exfolders]\r\nC:\\zqtest\\guard-fs\\ex\r\n"
                   "[files]\r\nkernel32.dll\r\nntdll.dll\r\nwin.ini\r\n" + Narrow(canary) + "\r\n"
                   "[maskedfiles]\r\n*.dll\r\n*.*\r\n?*.sys\r\n*\r\nzqguard*.tmp\r\n");
    const std::wstring watched[] = {kWindows, SystemFolder(), SystemFolder() + L"\\drivers", kWindows + L"\\inf",
                                    L"C:\\Program Files", L"C:\\users", L"C:\\ProgramData", L"C:\\"};
    AssertRefusedHere({L"%SystemRoot%\\System32", L"\\\\?\\%SystemRoot%", L"\\\\.\\%SystemRoot%", L"system32",
                       L"C:system32", L".", L"%ProgramFiles%", L"C:\\users", L"%ProgramData%", L"%SystemRoot%.",
                       L"%SystemRoot%\\..", L"%SystemRoot%\\inf\\", shortName, L"C:\\"});
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
    for (const std::string& refused : Lines{"system32...FAILED(Err:161)", "C:system32...FAILED(Err:161)", "....FAILED(Err:161)",
          w + "\\System32...FAILED(Err:5)", w + "...FAILED(Err:5)", "C:\\...FAILED(Err:5)",
          w + "\\System32\\drivers...FAILED(Err:5)", "C:\\users...FAILED(Err:5)", w + "\\inf...FAILED(Err:5)",
          Narrow(shortName) + "...FAILED(Err:5)", Narrow(SystemFolder()) + "\\kernel32.dll...FAILED(Err:5)",
          w + "\\win.ini...FAILED(Err:5)", Narrow(canary) + "...FAILED(Err:5)"})
        // (A 32-bit build sees SysWOW64\drivers there, which Wine lacks.)
        if (refused.find("drivers") == std::string::npos || PathExists(kWindows + L"\\System32\\drivers")) {
            EXPECT_TRUE(Has(log, refused)) << refused;
        }
    ExpectOnlyRemoved(log, {"C:\\zqtest\\guard-fs\\Product...OK", e + "zqguard_ctl.dll...OK", e + "zqguard1.tmp...OK",
                            e + "data.dat...OK"});
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(EntriesIn(watched[i]), before[i]) << Narrow(watched[i]);
    EXPECT_TRUE(PathExists(canary) && PathExists(SystemFolder() + L"\\kernel32.dll") && PathExists(kWindows + L"\\win.ini"));
    EXPECT_FALSE(PathExists(product) || PathExists(ex + L"\\data.dat"));
    DeleteFileW(canary.c_str());
    RemoveTree(work);
}

TEST_F(Guard, KeysEnumeratorsAndDriversTheSystemNeeds)
{
    std::wstring work = MakeScratchDir(L"guard-keys");
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\", run =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", enumKey = L"SYSTEM\\CurrentControlSet\\Enum\\";
    MakeKey(HKLM, L"SOFTWARE\\zqguard\\deep", {{L"v", L"1"}});
    MakeKey(HKLM, run, {{L"zqguard", L"x"}});
    MakeKey(HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zqguard", {{L"DisplayName", L"zq"}});
    MakeKey(HKLM, enumKey + L"ZQGUARDBUS\\DEV1\\0000");
    MakeKey(HKLM, enumKey + L"ZQGUARDBUS\\DEV2\\0000");
    MakeKey(HKLM, enumKey + L"ROOT\\ZQGUARDKEEP\\0000");
    MakeKey(HKLM, services + L"zqguarddrv", {{L"ImagePath", L"\\SystemRoot\\System32\\drivers\\zqguard.sys"}});
    MakeKey(HKLM, services + L"zqguardsys", {{L"ImagePath", L"\\SystemRoot\\System32\\drivers\\ntfs.sys"}});
    bool madeNtfs = !KeyExists(HKLM, services + L"Ntfs");
    MakeKey(HKLM, services + L"Ntfs");
    WriteFileBytes(work + L"\\zqclean.ini",
                   "[registry]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\r\nHKEY_LOCAL_MACHINE\\SYSTEM\r\n"
                   "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\r\nHKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\r\n"
                   "HKEY_CLASSES_ROOT\\CLSID\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\r\nHKEY_USERS\\.DEFAULT\r\n"
                   "HKEY_CURRENT_USER\\Software\r\nhkey_local_machine\\software\\microsoft\\\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqguard\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run:zqguard\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zqguard\r\n"
                   "[devices]\r\nROOT\\\r\nROOT\\ \r\nPCI\\\r\nZQGUARDBUS\\\r\n"
                   "[drivers]\r\nNtfs\r\nzqguardsys\r\nzqguarddrv\r\n");
    const std::pair<HKEY, std::wstring> watched[] = {
        {HKLM, L"SOFTWARE"}, {HKLM, L"SOFTWARE\\Microsoft"}, {HKLM, L"SYSTEM\\CurrentControlSet\\Services"},
        {HKLM, enumKey + L"ROOT"}, {HKEY_CLASSES_ROOT, L"CLSID"}, {HKEY_USERS, L".DEFAULT"}, {HKEY_CURRENT_USER, L"Software"}};
    std::vector<int> before;
    for (const auto& key : watched)
        before.push_back(SubkeysOf(key.first, key.second));

    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    Lines log = LogLines(kRunLog);
    for (const char* refused :
         {"K: HKEY_LOCAL_MACHINE\\SOFTWARE...FAILED(Err:5)", "K: HKEY_LOCAL_MACHINE\\SYSTEM...FAILED(Err:5)",
          "K: HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet...FAILED(Err:5)",
          "K: HKEY_CLASSES_ROOT\\CLSID...FAILED(Err:5)",
          "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run...FAILED(Err:5)",
          "K: HKEY_USERS\\.DEFAULT...FAILED(Err:5)", "K: HKEY_CURRENT_USER\\Software...FAILED(Err:5)",
          "K: hkey_local_machine\\software\\microsoft\\...FAILED(Err:5)",
          "SYSTEM\\CurrentControlSet\\Enum\\ROOT...FAILED(Err:5)", "SYSTEM\\CurrentControlSet\\Enum\\PCI...FAILED(Err:5)",
          "SYSTEM\\CurrentControlSet\\Services\\Ntfs...FAILED(Err:5)",
          "SYSTEM\\CurrentControlSet\\Services\\zqguardsys...FAILED(Err:5)"})
        EXPECT_TRUE(Has(log, refused)) << refused;
    ExpectOnlyRemoved(log, {"K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqguard...OK",
                            "V: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run:zqguard...OK",
                            "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zqguard...OK",
                            "SYSTEM\\CurrentControlSet\\Enum\\ZQGUARDBUS\\DEV1...OK",
                            "SYSTEM\\CurrentControlSet\\Enum\\ZQGUARDBUS\\DEV2...OK",
                            "SYSTEM\\CurrentControlSet\\Services\\zqguarddrv...OK"});
    // Only the product's own keys went: SOFTWARE\zqguard and Services\zqguarddrv.
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(SubkeysOf(watched[i].first, watched[i].second), before[i] - (i == 0 || i == 2 ? 1 : 0))
            << Narrow(watched[i].second);
    EXPECT_TRUE(KeyExists(HKLM, enumKey + L"ROOT\\ZQGUARDKEEP\\0000") && KeyExists(HKLM, services + L"zqguardsys"));
    RemoveScratchKey(HKLM, enumKey + L"ROOT\\ZQGUARDKEEP");
    RemoveScratchKey(HKLM, enumKey + L"ZQGUARDBUS");
    RemoveScratchKey(HKLM, services + L"zqguardsys");
    if (madeNtfs)
        RemoveScratchKey(HKLM, services + L"Ntfs");
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
