// Writing a script end to end: a snapshot, an install of every kind a product leaves, a draft,
// and a run of the draft; and drafts refused for a snapshot that cannot be trusted.
#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/Support.h"

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const bool k64 = sizeof(void*) == 8;
// The registry view this build's run reaches, and the other one (a 32-bit run never sees it).
const REGSAM kOwn = k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY, kOther = k64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
const wchar_t kRunLog[] = L"C:\\zqclean.log";
const wchar_t kSnapshot[] = L"C:\\zqclean.snapshot";

std::wstring Expanded(const wchar_t* text)
{
    wchar_t path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(text, path, MAX_PATH);
    return path;
}

std::string Utf8(const std::wstring& text)
{
    std::string bytes(text.size() * 3 + 1, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                                         &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr)));
    return bytes;
}

void WriteFileMakingFolders(const std::wstring& path, const std::string& bytes)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    WriteFileBytes(path, bytes);
}

std::wstring MachineGuid()
{
    wchar_t guid[64] = {};
    DWORD size = sizeof guid - sizeof(wchar_t);
    RegKey key;
    if (RegOpenKeyExW(HKLM, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ | KEY_WOW64_64KEY, key.Put()) == ERROR_SUCCESS)
        RegQueryValueExW(key.Get(), L"MachineGuid", nullptr, nullptr, reinterpret_cast<BYTE*>(guid), &size);
    return guid;
}

}  // namespace

TEST(Authoring, SnapshotInstallDraftAndItsRunRemoveWhatAppearedOnly)
{
    const std::wstring work = MakeScratchDir(L"author-trip"), sys = SystemFolder(), inf = SystemRootDir() + L"\\inf";
    const std::wstring pf64 = Expanded(L"%ProgramW6432%"), pf32 = Expanded(L"%ProgramFiles(x86)%");
    const std::wstring vendor64 = pf64 + L"\\zqrt Vendor", vendor32 = pf32 + L"\\zqrt Vendor";
    const std::wstring data = Expanded(L"%ProgramData%") + L"\\zqrt Daten \x00c4\x03a9";
    const std::wstring cv = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\", vendorKey = L"SOFTWARE\\zqrt Vendor";
    const std::wstring guid = L"{6d0e3a11-5c2b-4e7f-9a10-0000002a7c01}", service = L"SYSTEM\\CurrentControlSet\\Services\\zqrtflt";
    const std::wstring device = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQRTFLT", oldDevice = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQRTOLD";
    const std::wstring iclass = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + guid;
    const std::wstring oldInterface = iclass + L"\\##?#ROOT#ZQRTOLD#0000#" + guid, newInterface = iclass + L"\\##?#ROOT#ZQRTFLT#0000#" + guid;
    const std::string infText = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Strings]\r\nProvider=\"zqrt Devices Inc.\"\r\n";

    // There before: another product of the vendor in both program folders, the vendor's key, an
    // INF file of the same provider, a device with its interface, the shared keys.
    const std::vector<std::wstring> kept = {vendor64 + L"\\Other\\other.exe", vendor32 + L"\\Other\\other32.exe",
                                            inf + L"\\oemzqrtold.inf"};
    for (const std::wstring& file : kept)
        WriteFileMakingFolders(file, infText + "Service=zqrtold\r\n");
    CreateDirectoryW((sys + L"\\drivers").c_str(), nullptr);
    std::wstring deep = vendor64 + L"\\Other";  // far beyond 260 characters
    for (wchar_t c = L'a'; c < L'f'; ++c)
        CreateDirectoryW((L"\\\\?\\" + (deep += L"\\" + std::wstring(60, c))).c_str(), nullptr);
    MakeKey(HKLM, vendorKey, {{L"Shared", L"1"}}, kOwn);
    MakeKey(HKLM, vendorKey + L"\\Other", {}, kOwn);
    for (const wchar_t* shared : {L"Run", L"Uninstall"})
        MakeKey(HKLM, cv + shared, {}, kOwn);
    MakeKey(HKLM, L"SOFTWARE\\Classes\\CLSID", {}, kOwn);
    MakeKey(HKLM, oldDevice + L"\\0000", {{L"Service", L"zqrtold"}});
    MakeKey(HKLM, oldInterface);
    ASSERT_EQ(kCompletedRun, Launch(L"-snapshot", work));
    EXPECT_EQ(ClosingLine(), LogLines(kRunLog).back());

    // The install.
    const std::vector<std::wstring> added = {
        vendor64 + L"\\Tool\\tool.exe", vendor64 + L"\\Tool\\bin\\deep.dll", vendor32 + L"\\Tool\\tool32.exe",
        pf64 + L"\\Common Files\\zqrt Shared\\shared.dll", data + L"\\config.xml", sys + L"\\zqrthelper.dll",
        sys + L"\\drivers\\zqrtflt.sys", inf + L"\\oemzqrt1.inf", inf + L"\\oemzqrt1.pnf", inf + L"\\oemzqrt2.inf"};
    for (const std::wstring& file : added)
        WriteFileMakingFolders(file, infText + "[Svc]\r\nAddService = zqrtflt, 2, Svc\r\n");
    WriteFileBytes(L"\\\\?\\" + deep + L"\\new.dll", "x");
    WriteFileBytes(inf + L"\\oemzqrt2.inf", infText + "DeviceDesc=\"zqrt Companion Device\"\r\n");
    const std::vector<std::wstring> leftAlone = {vendor64 + L"\\install.log", SystemRootDir() + L"\\Temp\\zqrt-setup.log"};
    for (const std::wstring& file : leftAlone)
        WriteFileBytes(file, "log");
    MakeKey(HKLM, vendorKey + L"\\Tool", {{L"Path", vendor64}}, kOwn);
    MakeKey(HKLM, vendorKey, {{L"Shared", L"2"}, {L"InstallDir", vendor64}}, kOwn);
    MakeKey(HKLM, L"SOFTWARE\\zqrt Vendor32", {{L"x", L"1"}}, kOther);
    MakeKey(HKLM, cv + L"Run", {{L"zqrtTray", L"tray.exe"}}, kOwn);
    MakeKey(HKLM, cv + L"Uninstall\\zqrtTool", {{L"DisplayName", L"zqrt Tool"}}, kOwn);
    MakeKey(HKLM, L"SOFTWARE\\Classes\\.zqrt", {{L"", L"zqrt.Document"}}, kOwn);
    MakeKey(HKLM, L"SOFTWARE\\Classes\\zqrt.Document\\CLSID", {{L"", guid}}, kOwn);
    MakeKey(HKLM, L"SOFTWARE\\Classes\\CLSID\\" + guid + L"\\InprocServer32", {{L"", L"zqrt.dll"}}, kOwn);
    MakeKey(HKLM, service, {{L"ImagePath", L"\\SystemRoot\\System32\\drivers\\zqrtflt.sys"}});
    MakeKey(HKLM, device + L"\\0000", {{L"Service", L"zqrtflt"}});
    MakeKey(HKLM, newInterface);

    ASSERT_EQ(kCompletedRun, Launch(L"-draft", work));
    const std::string draft = ReadFileBytes(work + L"\\zqclean.draft.ini");
    const std::string hk = "HKEY_LOCAL_MACHINE\\SOFTWARE\\", s = Narrow(sys), inf1 = Narrow(inf) + "\\oemzqrt1";
    std::string expected = "\xEF\xBB\xBF" + std::string(k64 ? "[infs]\r\nDeviceDesc=\"zqrt Companion Device\"\r\n" : "") +
        "[drivers]\r\nzqrtflt\r\n[files]\r\n" + Narrow(deep) + "\\new.dll\r\n" + s + "\\drivers\\zqrtflt.sys\r\n" + s +
        "\\zqrthelper.dll\r\n[folders]\r\n" +
        (k64 ? "%CommonProgramFiles%\\zqrt Shared\r\n" : "%CommonProgramW6432%\\zqrt Shared\r\n") + "%ProgramData%\\" +
        Utf8(data.substr(data.rfind(L'\\') + 1)) + "\r\n%ProgramFiles%\\zqrt Vendor\\Tool\r\n" +
        (k64 ? "" : "%ProgramW6432%\\zqrt Vendor\\Tool\r\n") + "[registry]\r\n" + hk + "Classes\\.zqrt\r\n" + hk +
        "Classes\\CLSID\\" + Narrow(guid) + "\r\n" + hk + "Classes\\zqrt.Document\r\n" + hk +
        "Microsoft\\Windows\\CurrentVersion\\Run:zqrtTray\r\n" + hk + "Microsoft\\Windows\\CurrentVersion\\Uninstall\\zqrtTool\r\n" +
        (k64 ? hk + "Wow6432Node\\zqrt Vendor32\r\n" : "") + hk + "zqrt Vendor\\Tool\r\n" + hk + "zqrt Vendor:InstallDir\r\n" +
        "[devices]\r\nROOT\\ZQRTFLT\r\n[not removed]\r\nfiles: " + Narrow(vendor64) +
        "\\install.log -- skipped as noise: a log\r\n" + (k64 ? "" : "files: " + inf1 + ".pnf -- its INF file stays\r\n") +
        (k64 ? "" : "infs: " + inf1 + ".inf -- a 32-bit run on 64-bit Windows leaves INF files to zqclean64\r\ninfs: " +
                    Narrow(inf) + "\\oemzqrt2.inf -- a 32-bit run on 64-bit Windows leaves INF files to zqclean64\r\n") +
        "registry: " + hk + "zqrt Vendor:Shared -- changed since the snapshot: it was there before\r\n";
    EXPECT_EQ(expected, draft);
    EXPECT_EQ(LogLines(kRunLog).back(), ClosingLine());
    ASSERT_EQ(kCompletedRun, Launch(L"-draft", work));
    EXPECT_EQ(draft, ReadFileBytes(work + L"\\zqclean.draft.ini"));  // the same machine, the same bytes

    // The draft's run: nothing failed or refused, everything added gone, everything else kept.
    WriteFileBytes(work + L"\\zqclean.ini", draft);
    ASSERT_EQ(kCompletedRun, Launch(L"-s", work));
    const nlohmann::json report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.json"));
    EXPECT_TRUE(report["completed"].get<bool>());
    for (const auto& item : report["items"])
        EXPECT_TRUE(item["outcome"] == "deleted") << item.dump();
    for (const std::wstring& file : added)
        EXPECT_EQ(PathExists(file), !k64 && file.find(L"\\oemzqrt") != std::wstring::npos) << Narrow(file);
    for (const std::wstring& folder : {vendor64 + L"\\Tool", vendor32 + L"\\Tool", data, pf64 + L"\\Common Files\\zqrt Shared"})
        EXPECT_FALSE(PathExists(folder)) << Narrow(folder);
    for (const std::wstring& file : {kept[0], kept[1], kept[2], leftAlone[0], leftAlone[1], L"\\\\?\\" + deep})
        EXPECT_TRUE(PathExists(file)) << Narrow(file);
    EXPECT_FALSE(PathExists(L"\\\\?\\" + deep + L"\\new.dll"));
    for (const std::wstring& key : {vendorKey + L"\\Tool", std::wstring(L"SOFTWARE\\Classes\\.zqrt"),
                                    std::wstring(L"SOFTWARE\\Classes\\zqrt.Document"), L"SOFTWARE\\Classes\\CLSID\\" + guid,
                                    cv + L"Uninstall\\zqrtTool"})
        EXPECT_FALSE(KeyExists(HKLM, key, kOwn)) << Narrow(key);
    EXPECT_FALSE(KeyExists(HKLM, service) || KeyExists(HKLM, device) || KeyExists(HKLM, newInterface));
    EXPECT_EQ(KeyExists(HKLM, L"SOFTWARE\\zqrt Vendor32", kOther), !k64);
    EXPECT_FALSE(ValueExists(HKLM, cv + L"Run", L"zqrtTray", kOwn) || ValueExists(HKLM, vendorKey, L"InstallDir", kOwn));
    EXPECT_TRUE(ValueExists(HKLM, vendorKey, L"Shared", kOwn) && KeyExists(HKLM, vendorKey + L"\\Other", kOwn));
    EXPECT_TRUE(KeyExists(HKLM, cv + L"Uninstall", kOwn) && KeyExists(HKLM, L"SOFTWARE\\Classes\\CLSID", kOwn));
    EXPECT_TRUE(KeyExists(HKLM, oldInterface) && KeyExists(HKLM, oldDevice + L"\\0000"));

    for (const std::wstring& folder : {L"\\\\?\\" + vendor64, vendor32, work})
        RemoveTree(folder);
    for (const std::wstring& file : {kept[2], leftAlone[1], inf + L"\\oemzqrt1.inf", inf + L"\\oemzqrt1.pnf", inf + L"\\oemzqrt2.inf"})
        DeleteFileW(file.c_str());
    for (const std::wstring& key : {vendorKey, cv + L"Uninstall\\zqrtTool"})
        RemoveScratchKey(HKLM, key, kOwn);
    RemoveScratchKey(HKLM, L"SOFTWARE\\zqrt Vendor32", kOther);
    for (const std::wstring& key : {oldDevice, iclass})
        RemoveScratchKey(HKLM, key);
}

// What appeared but cannot be one entry without taking what was there before, or cannot be
// written as a line, is listed with why; what can is drafted.
TEST(Authoring, DraftNamesWhatItCannotTakeAndWhy)
{
    const std::wstring work = MakeScratchDir(L"author-kinds"), win = SystemRootDir(), inf = win + L"\\inf\\oemzqdold.inf";
    const std::wstring store = win + L"\\system32\\DriverStore\\FileRepository\\", gac = win + L"\\assembly\\GAC_MSIL\\";
    const std::wstring pf64 = Expanded(L"%ProgramW6432%") + L"\\zqd Vendor", pf32 = Expanded(L"%ProgramFiles(x86)%") + L"\\zqd Vendor";
    const std::wstring enumKey = L"SYSTEM\\CurrentControlSet\\Enum\\", odd = L"C:\\zqd=odd", kept = L"C:\\zqdkeep\\data.txt";
    for (const std::wstring& file : {store + L"zqdpkg.inf_amd64_old\\zqdpkg.inf", gac + L"Zqd.Old\\1.0__ab\\Zqd.Old.dll",
                                     pf32 + L"\\old.txt", kept, inf})
        WriteFileMakingFolders(file, "[Strings]\r\nService=\"zqdsvc\"\r\n");
    MakeKey(HKLM, enumKey + L"ROOT\\ZQDDEV2\\0000");
    ASSERT_EQ(kCompletedRun, Launch(L"-snapshot", work));

    for (const std::wstring& file : {store + L"zqdpkg.inf_amd64_new\\zqdpkg.inf", store + L"zqdnew.inf_amd64_1\\zqdnew.inf",
                                     gac + L"Zqd.Old\\2.0__ab\\Zqd.Old.dll", gac + L"Zqd.New\\1.0__ab\\Zqd.New.dll",
                                     pf64 + L"\\a.txt", odd + L"\\x.txt", kept})
        WriteFileMakingFolders(file, "changed");
    MakeKey(HKLM, L"SYSTEM\\CurrentControlSet\\Services\\zqdsvc", {{L"Type", L"1"}});
    MakeKey(HKLM, enumKey + L"ZQDBUS\\Dev\\0");
    MakeKey(HKLM, enumKey + L"ROOT\\ZQDDEV\\0000");
    MakeKey(HKLM, L"SOFTWARE\\zqd:odd", {}, kOwn);
    ASSERT_EQ(kCompletedRun, Launch(L"-draft", work));

    const std::string w = Narrow(win), p64 = Narrow(pf64), notFor32 = " -- a 32-bit run on 64-bit Windows leaves ";
    const std::string expected = std::string("\xEF\xBB\xBF") + (k64 ? "[drvpackages]\r\nzqdnew\r\n" : "") +
        (k64 ? "" : "[drivers]\r\nzqdsvc\r\n") + "[files]\r\n" + (k64 ? p64 + "\\a.txt\r\n" : "") + Narrow(odd) +
        "\\x.txt\r\n[.NET]\r\nZqd.New\r\n" + (k64 ? "" : "[folders]\r\n%ProgramW6432%\\zqd Vendor\r\n") +
        "[registry]\r\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ZQDBUS\r\n[devices]\r\nZQDBUS\\\r\n[not removed]\r\n"
        ".NET: Zqd.Old -- a new version of an assembly that was there before: [.NET] removes every version\r\n"
        "devices: ROOT\\ZQDDEV -- it would also take SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQDDEV2, which was there before\r\n" +
        (k64 ? "drivers: zqdsvc -- its name is in " + Narrow(inf) + ", which was there before: [drivers] would delete that file too\r\n"
               "drvpackages: zqdpkg -- it would also take " + Narrow(store) + "zqdpkg.inf_amd64_old, which was there before\r\n"
             : "drvpackages: zqdnew" + notFor32 + "driver packages to zqclean64\r\ndrvpackages: zqdpkg" + notFor32 +
                   "driver packages to zqclean64\r\n") +
        "files: " + Narrow(kept) + " -- changed since the snapshot: it was there before\r\n" +
        (k64 ? "folders: %ProgramFiles%\\zqd Vendor -- its 32-bit twin " + Narrow(pf32) +
                   " was there before, and the run removes the twin too; its new contents are drafted one by one\r\n"
             : "") +
        "folders: %SystemDrive%\\zqd=odd -- a [folders] line ends at its \"=\"; its new contents are drafted one by one\r\n" +
        "registry: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqd:odd -- its path holds a colon, which a script line takes for a value name\r\n";
    EXPECT_EQ(expected, ReadFileBytes(work + L"\\zqclean.draft.ini"));

    for (const std::wstring& folder : {store + L"zqdpkg.inf_amd64_old", store + L"zqdpkg.inf_amd64_new",
                                       store + L"zqdnew.inf_amd64_1", gac + L"Zqd.Old", gac + L"Zqd.New", pf64, pf32, odd,
                                       std::wstring(L"C:\\zqdkeep"), work})
        RemoveTree(folder);
    DeleteFileW(inf.c_str());
    for (const wchar_t* key : {L"SYSTEM\\CurrentControlSet\\Services\\zqdsvc", L"SYSTEM\\CurrentControlSet\\Enum\\ZQDBUS",
                               L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQDDEV", L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQDDEV2"})
        RemoveScratchKey(HKLM, key);
    RemoveScratchKey(HKLM, L"SOFTWARE\\zqd:odd", kOwn);
}

// A draft trusts only a whole snapshot of this machine: any other is named in the log, and
// nothing is written.
TEST(Authoring, DraftRefusesASnapshotItCannotTrust)
{
    const std::wstring work = MakeScratchDir(L"author-refuse"), draft = work + L"\\zqclean.draft.ini", guid = MachineGuid();
    ASSERT_EQ(kCompletedRun, Launch(L"-snapshot", work));
    const std::string snapshot = ReadFileBytes(kSnapshot);
    ASSERT_GT(snapshot.size(), 1000u);
    std::string damaged = snapshot;
    damaged[damaged.size() / 2] ^= 0x20;
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &length);
    const std::string file = "Cannot draft (the snapshot C:\\zqclean.snapshot ";
    const struct {
        std::string bytes;
        const wchar_t* guid;
        std::string line;
    } cases[] = {
        {damaged, guid.c_str(), file + "is damaged: its contents do not match its check sum)"},
        {"ZQSNAP\r\nshort", guid.c_str(), file + "is damaged: it is no snapshot)"},
        {snapshot, L"00000000-0000-0000-0000-0000000000zq", file + "was taken on another machine: " + Narrow(computer) + " " + Narrow(guid) + ")"},
        {"", guid.c_str(), "Cannot draft (no snapshot C:\\zqclean.snapshot: 2)"},
    };
    for (const auto& c : cases) {
        DeleteFileW(kSnapshot);
        if (!c.bytes.empty())
            WriteFileBytes(kSnapshot, c.bytes);
        MakeKey(HKLM, L"SOFTWARE\\Microsoft\\Cryptography", {{L"MachineGuid", c.guid}}, KEY_WOW64_64KEY);
        EXPECT_EQ(kCompletedRun, Launch(L"-draft", work));
        EXPECT_EQ(LogLines(kRunLog), (Lines{S("Draft: " + Narrow(draft)), S(c.line)}));
        EXPECT_FALSE(PathExists(draft));
    }
    MakeKey(HKLM, L"SOFTWARE\\Microsoft\\Cryptography", {{L"MachineGuid", guid}}, KEY_WOW64_64KEY);
    RemoveTree(work);
}
