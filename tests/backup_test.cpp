// Backup and restore, end to end: a product with every kind of item and every value type is
// removed by a run that saves it, then "-restore" puts back exactly that: files byte for byte
// with their attributes and times, keys and values with their types.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/Support.h"

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const std::wstring kRunLog = L"C:\\zqclean.log";
const std::wstring kProduct = L"SOFTWARE\\zqbackup", kService = L"SYSTEM\\CurrentControlSet\\Services\\zqbackupdrv",
                   kDevice = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZQBACKUPDEV", kValues = L"SOFTWARE\\zqbackupvals";

bool Has(const Lines& lines, const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

// Every key below path with its values: name -> (type, bytes).
using Values = std::map<std::wstring, std::pair<DWORD, std::string>>;
void DumpKeys(HKEY root, const std::wstring& path, std::map<std::wstring, Values>* dump)
{
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return;
    Values& values = (*dump)[path];
    wchar_t name[512];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 512, type = 0, size = sizeof data;
        if (RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        values[name] = {type, std::string(reinterpret_cast<char*>(data), size)};
    }
    for (DWORD i = 0; RegEnumKeyW(key.Get(), i, name, 512) == ERROR_SUCCESS; ++i)
        DumpKeys(root, path + L"\\" + name, dump);
}

void SetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    RegKey key;
    RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

// Every file and folder below folder: content, attributes and last write time.
// The file's identity on its volume (0 when it cannot be opened): a moved file keeps it.
ULONGLONG FileIndex(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &info))
        return 0;
    return (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// Every file named relative in one of the numbered folders of the run's backup below store.
std::vector<std::wstring> InBackup(const std::wstring& store, const std::wstring& relative)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW stamp;
    FindHandle find(FindFirstFileW((store + L"\\0*").c_str(), &stamp));
    for (int n = 0; find.Valid() && n < 40; ++n) {
        std::wstring path = store + L"\\" + stamp.cFileName + L"\\" + std::to_wstring(n) + L"\\" + relative;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            found.push_back(path);
    }
    return found;
}

using Files = std::map<std::wstring, std::tuple<std::string, DWORD, ULONGLONG>>;
void DumpFiles(const std::wstring& folder, Files* dump)
{
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    while (find.Valid()) {
        std::wstring name = data.cFileName, path = folder + L"\\" + name;
        if (name != L"." && name != L"..") {
            bool tree = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            ULONGLONG written = (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
            (*dump)[path] = {tree ? std::string() : ReadFileBytes(path), data.dwFileAttributes, tree ? 0 : written};
            if (tree)
                DumpFiles(path, dump);
        }
        if (!FindNextFileW(find.Get(), &data))
            break;
    }
}

// The run folders below store, oldest first.
std::vector<std::wstring> RunFolders(const std::wstring& store)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((store + L"\\0*").c_str(), &entry));
    while (find.Valid()) {
        found.push_back(store + L"\\" + entry.cFileName);
        if (!FindNextFileW(find.Get(), &entry))
            break;
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::wstring Utf16Text(const std::string& bytes) { return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2); }
std::string Utf16Bytes(const std::wstring& text) { return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2); }

// Gives the folder an access list that lets everyone change it (null: only the system and the
// administrators).
void LetEveryoneChange(const std::wstring& folder, bool everyone)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(everyone ? L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)"
                                                                  : L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                         SDDL_REVISION_1, &sd, nullptr);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, dacl, nullptr);
    LocalFree(sd);
}

class Backup : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableW(L"DISPLAY", nullptr);
        work = MakeScratchDir(L"backup");
        store = MakeScratchDir(L"backup-store");
        Clean();
    }
    void TearDown() override
    {
        Clean();
        RemoveTree(work);
        LetEveryoneChange(store, false);
        for (const std::wstring& folder : RunFolders(store + L"\\runs"))
            LetEveryoneChange(folder, false);
        RemoveTree(store);
    }
    void Clean()
    {
        for (const std::wstring& folder : folders)
            RemoveTree(folder);
        RemoveTree(package);
        RemoveTree(gac);
        DeleteFileW(inf.c_str());
        DeleteFileW(pnf.c_str());
        for (const std::wstring& key : {kProduct, kProduct + L"-import", kService, kDevice, kValues})
            RemoveScratchKey(HKLM, key);
        RegKey run;
        if (RegOpenKeyExW(HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_WRITE, run.Put()) == ERROR_SUCCESS)
            RegDeleteValueW(run.Get(), L"zqevil");
        RemoveScratchKey(HKEY_CLASSES_ROOT, L".kds");
        for (const wchar_t* file : {L"difx\\difx-calls.txt"})
            DeleteFileW(StandinPath(file).c_str());
    }

    std::wstring work, store;
    std::vector<std::wstring> folders = {L"C:\\Program Files\\zqbackup", L"C:\\Program Files (x86)\\zqbackup"};
    std::wstring inf = SystemRootDir() + L"\\inf\\oemzqbackup.inf", pnf = SystemRootDir() + L"\\inf\\oemzqbackup.pnf";
    std::wstring package = SystemRootDir() + L"\\system32\\DriverStore\\FileRepository\\zqbackuppkg.inf_amd64_1";
    std::wstring gac = SystemRootDir() + L"\\assembly\\GAC_MSIL\\Zq.Backup";
    ScopedDllOverride native{L"difxapi", L"native"};  // the working directory's stand-in
};

}  // namespace

TEST_F(Backup, EveryKindAndValueTypeComesBackExactly)
{
    // Files with their attributes and an old time, nested empty folders, a 32-bit twin.
    FILETIME old = {0x12345678, 0x01c00000};
    for (const std::wstring& folder : folders) {
        for (const wchar_t* sub : {L"", L"\\sub", L"\\sub\\empty1", L"\\sub\\empty1\\empty2"})
            CreateDirectoryW((folder + sub).c_str(), nullptr);
        WriteFileBytes(folder + L"\\readonly.txt", "read only");
        std::string everyByte;
        for (int b = 0; b < 256; ++b)
            everyByte += static_cast<char>(b);
        WriteFileBytes(folder + L"\\sub\\data.bin", everyByte);
        WriteFileBytes(folder + L"\\hidden.dat", "hidden");
        for (const wchar_t* name : {L"\\readonly.txt", L"\\sub\\data.bin", L"\\hidden.dat"}) {
            FileHandle file(CreateFileW((folder + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            SetFileTime(file.Get(), nullptr, nullptr, &old);
        }
        SetFileAttributesW((folder + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW((folder + L"\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
    WriteFileBytes(work + L"\\loose.txt", "loose");
    WriteFileBytes(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\nServiceName=zqbackupdrv\r\n");
    WriteFileBytes(pnf, "precompiled");
    for (const std::wstring& folder : {SystemRootDir() + L"\\system32\\DriverStore",
                                       SystemRootDir() + L"\\system32\\DriverStore\\FileRepository", package,
                                       SystemRootDir() + L"\\assembly", SystemRootDir() + L"\\assembly\\GAC_MSIL", gac,
                                       gac + L"\\1.0.0.0__abcdef"})
        CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(package + L"\\zqbackuppkg.inf", "[Version]\r\n");
    WriteFileBytes(package + L"\\zqbackup.sys", "driver");
    WriteFileBytes(gac + L"\\1.0.0.0__abcdef\\Zq.Backup.dll", "assembly");
    ASSERT_TRUE(CopyStandIn(L"gacutil.exe", work + L"\\gacutil.exe"));
    ASSERT_TRUE(CopyFileW(StandinPath(L"difx\\DIFxAPI.dll").c_str(), (work + L"\\DIFxAPI.dll").c_str(), FALSE));

    // Every value type, empty and default values, names holding =, " and \.
    const DWORD dword = 0x12345678;
    const ULONGLONG qword = 0x1122334455667788ull;
    const BYTE binary[] = {0, 1, 0xFE, 0xFF, '"', '\\'};
    const wchar_t multi[] = L"one\0two\0\0", expand[] = L"%SystemRoot%\\x";
    SetValue(HKLM, kProduct, L"", REG_SZ, L"default", 16);
    SetValue(HKLM, kProduct, L"text", REG_SZ, L"a \"quoted\" \\ value", 38);
    SetValue(HKLM, kProduct, L"empty", REG_SZ, L"", 2);
    SetValue(HKLM, kProduct, L"name=with\"odd\\chars", REG_DWORD, &dword, 4);
    SetValue(HKLM, kProduct, L"expand", REG_EXPAND_SZ, expand, sizeof expand);
    SetValue(HKLM, kProduct, L"multi", REG_MULTI_SZ, multi, sizeof multi);
    SetValue(HKLM, kProduct, L"qword", REG_QWORD, &qword, 8);
    SetValue(HKLM, kProduct + L"\\sub", L"binary", REG_BINARY, binary, sizeof binary);
    SetValue(HKLM, kProduct + L"\\sub", L"none", REG_NONE, nullptr, 0);
    SetValue(HKLM, kValues, L"single", REG_MULTI_SZ, multi, sizeof multi);
    SetValue(HKLM, kValues, L"stays", REG_SZ, L"x", 4);
    SetValue(HKLM, kService, L"ImagePath", REG_EXPAND_SZ, L"zqbackup.sys", 26);
    SetValue(HKLM, kDevice + L"\\0000", L"Service", REG_SZ, L"zqbackupdrv", 24);
    SetValue(HKEY_CLASSES_ROOT, L".kds", L"", REG_SZ, L"KDSetup", 16);
    WriteFileBytes(work + L"\\zqclean.ini",
                   "[general]\r\nbackup=%SystemDrive%\\zqtest\\backup-store\r\n[folders]\r\n%ProgramFiles%\\zqbackup\r\n"
                   "[files]\r\nC:\\zqtest\\backup\\loose.txt\r\n[drivers]\r\nzqbackupdrv\r\n[drvpackages]\r\nzqbackuppkg\r\n"
                   "[.NET]\r\nZq.Backup, Version=1.0.0.0\r\n[registry]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup\r\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackupvals:single\r\n[devices]\r\nROOT\\ZQBACKUPDEV\r\n");

    std::map<std::wstring, Values> keys;
    for (const std::wstring& key : {kProduct, kValues, kService, kDevice})
        DumpKeys(HKLM, key, &keys);
    DumpKeys(HKEY_CLASSES_ROOT, L".kds", &keys);
    // The 32-bit build under WOW64 has no driver-store and INF phases, and no 32-bit twins.
    const bool wide = sizeof(void*) == 8;
    if (!wide)
        folders.erase(folders.begin());
    std::vector<std::wstring> single = {work + L"\\loose.txt"};
    if (wide)
        single.insert(single.end(), {inf, pnf});
    Files files;
    for (const std::wstring& folder : folders)
        DumpFiles(folder, &files);
    for (const std::wstring& file : single) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
        files[file] = {ReadFileBytes(file), data.dwFileAttributes,
                       (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime};
    }

    const ULONGLONG movedIndex = FileIndex(folders.back() + L"\\sub\\data.bin");
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    Lines log = LogLines(kRunLog);
    // On the backup's own volume a folder is saved and removed in one move: the very same file.
    std::vector<std::wstring> moved = InBackup(store, L"zqbackup\\sub\\data.bin");
    ASSERT_EQ(moved.size(), folders.size());
    EXPECT_NE(movedIndex, 0u);
    EXPECT_EQ(FileIndex(moved.back()), movedIndex);
    for (const auto& key : keys)
        EXPECT_FALSE(KeyExists(key.first == L".kds" ? HKEY_CLASSES_ROOT : HKLM, key.first) && key.first != kValues)
            << Narrow(key.first);
    EXPECT_TRUE(ValueExists(HKLM, kValues, L"stays") && !ValueExists(HKLM, kValues, L"single"));
    for (const auto& file : files)
        EXPECT_FALSE(PathExists(file.first)) << Narrow(file.first);
    RemoveTree(package);  // what the driver library does; the stand-in only records the call

    // What a run saved goes back with the system's own "reg import" as well: here into another key.
    std::wstring regFile;
    for (int n = 0; n < 40 && regFile.empty(); ++n) {
        std::wstring candidate = store + L"\\*";
        WIN32_FIND_DATAW stamp;
        FindHandle find(FindFirstFileW(candidate.c_str(), &stamp));
        while (find.Valid() && regFile.empty()) {
            std::string text = ReadFileBytes(store + L"\\" + stamp.cFileName + L"\\" + std::to_wstring(n) + L".reg");
            std::wstring wide(reinterpret_cast<const wchar_t*>(text.data()), text.size() / 2);
            if (wide.find(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup]") != std::wstring::npos) {
                for (size_t at; (at = wide.find(L"SOFTWARE\\zqbackup")) != std::wstring::npos;)
                    wide.replace(at, 17, L"SOFTWARE\\ZQBACKUP-import");
                regFile = work + L"\\import.reg";
                WriteFileBytes(regFile, std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2));
            }
            if (!FindNextFileW(find.Get(), &stamp))
                break;
        }
    }
    ASSERT_FALSE(regFile.empty());
    EXPECT_EQ(0u, Finish(Start(SystemFolder() + L"\\reg.exe", L"import \"" + regFile + L"\"", work)));
    std::map<std::wstring, Values> imported;
    DumpKeys(HKLM, kProduct + L"-import", &imported);
    EXPECT_EQ(imported[kProduct + L"-import"], keys[kProduct]);
    EXPECT_EQ(imported[kProduct + L"-import\\sub"], keys[kProduct + L"\\sub"]);

    // Something made again since the run stays as it is, and the restore says so.
    WriteFileBytes(work + L"\\loose.txt", "made again");
    EXPECT_EQ(kCompletedRun, Launch(L"-restore", work));
    Lines restore = LogLines(kRunLog);
    EXPECT_TRUE(Has(restore, "C:\\zqtest\\backup\\loose.txt...EXISTS, LEFT AS IT IS"));
    EXPECT_EQ(ReadFileBytes(work + L"\\loose.txt"), "made again");
    files.erase(work + L"\\loose.txt");
    Files after;
    for (const std::wstring& folder : folders)
        DumpFiles(folder, &after);
    for (const std::wstring& file : single) {
        if (file == work + L"\\loose.txt")
            continue;
        WIN32_FILE_ATTRIBUTE_DATA data;
        GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
        after[file] = {ReadFileBytes(file), data.dwFileAttributes,
                       (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime};
    }
    EXPECT_EQ(after, files);
    std::map<std::wstring, Values> back;
    for (const std::wstring& key : {kProduct, kValues, kService, kDevice})
        DumpKeys(HKLM, key, &back);
    DumpKeys(HKEY_CLASSES_ROOT, L".kds", &back);
    EXPECT_EQ(back, keys);
    Lines calls = RecordedLines(work + L"\\difx-calls.txt");
    EXPECT_EQ(wide, std::any_of(calls.begin(), calls.end(), [](const std::string& call) {
        return call.rfind("install ", 0) == 0 && call.find("\\zqbackuppkg.inf 0x4") != std::string::npos;
    }));
    Lines tool = RecordedLines(work + L"\\gacutil.args");
    EXPECT_TRUE(std::any_of(tool.begin(), tool.end(), [](const std::string& line) {
        return line.find(" /i \"") != std::string::npos && line.find("Zq.Backup.dll\"") != std::string::npos;
    }));
    EXPECT_EQ(restore.back(), ClosingLine());
}

// A file in use without delete sharing cannot be moved: it is copied alongside its holder, then
// left for the restart like any file in use.
TEST_F(Backup, AFileInUseIsCopiedThenLeftForTheRestart)
{
    const std::wstring held = work + L"\\held.dat";
    WriteFileBytes(held, "in use");
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\nbackup=C:\\zqtest\\backup-store\r\n"
                                            "[files]\r\nC:\\zqtest\\backup\\held.dat\r\n");
    {
        FileHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.Valid());
        EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    }
    EXPECT_TRUE(Has(LogLines(kRunLog), "C:\\zqtest\\backup\\held.dat...AFTER BOOT"));
    std::vector<std::wstring> copy = InBackup(store, L"held.dat");
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_EQ(ReadFileBytes(copy[0]), "in use");
    EXPECT_NE(FileIndex(copy[0]), FileIndex(held));
    EXPECT_FALSE(PendingWith(L"\\zqtest\\backup\\held.dat").empty());
    DropPendingRenames(L"\\zqtest\\backup\\");
}

// A backup folder that cannot be written means that nothing is removed.
TEST_F(Backup, NoBackupNoRemoval)
{
    WriteFileBytes(work + L"\\loose.txt", "loose");
    SetValue(HKLM, kProduct, L"v", REG_SZ, L"x", 4);
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\nbackup=C:\\zqtest\\backup\\loose.txt\\store\r\n"
                                            "[files]\r\nC:\\zqtest\\backup\\loose.txt\r\n"
                                            "[registry]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup\r\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    Lines log = LogLines(kRunLog);
    EXPECT_TRUE(Has(log, "C:\\zqtest\\backup\\loose.txt...FAILED(Err:3)"));
    EXPECT_TRUE(Has(log, "K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup...FAILED(Err:3)"));
    EXPECT_TRUE(PathExists(work + L"\\loose.txt") && KeyExists(HKLM, kProduct));
}

// A deployment retry runs the same script twice: the second run saves nothing and leaves no
// backup, and the restore takes the first one, names it, puts back a value with a 300-character
// name, and leaves a key and a file that came back meanwhile with other contents as they are.
TEST_F(Backup, RerunsRestoreTheBackupThatSavedSomething)
{
    const std::wstring longName(300, L'n');
    WriteFileBytes(work + L"\\loose.txt", "loose");
    WriteFileBytes(work + L"\\kept.txt", "kept");
    SetValue(HKLM, kProduct, L"v", REG_SZ, L"x", 4);
    SetValue(HKLM, kValues, longName.c_str(), REG_SZ, L"long", 10);
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\nbackup=C:\\zqtest\\backup-store\\runs\r\n[files]\r\n"
                                            "C:\\zqtest\\backup\\loose.txt\r\nC:\\zqtest\\backup\\kept.txt\r\n[registry]\r\n"
                                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackupvals:" +
                                                Narrow(longName) + "\r\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    EXPECT_FALSE(ValueExists(HKLM, kValues, longName) || PathExists(work + L"\\kept.txt"));
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    std::vector<std::wstring> runs = RunFolders(store + L"\\runs");
    ASSERT_EQ(runs.size(), 1u);  // "000001-<yyyymmdd>-<hhmmss>Z", in UTC
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t today[16];
    swprintf(today, 16, L"000001-%04u%02u", now.wYear, now.wMonth);
    EXPECT_EQ(runs[0].substr(store.size() + 6, 13), today);
    EXPECT_EQ(runs[0].back(), L'Z');

    // A later run that ended before it saved anything leaves an empty journal behind.
    ASSERT_TRUE(CreateDirectoryW((store + L"\\runs\\000002-20300101-000000Z").c_str(), nullptr));
    WriteFileBytes(store + L"\\runs\\000002-20300101-000000Z\\journal.jsonl", "");
    WriteFileBytes(work + L"\\loose.txt", "made again");
    SetValue(HKLM, kProduct, L"other", REG_SZ, L"y", 4);
    EXPECT_EQ(kCompletedRun, Launch(L"-restore", work));
    Lines log = LogLines(kRunLog);
    for (const std::string& line : {S("Restore from " + Narrow(runs[0])), S("Restore items(4):"),
                                    std::string("C:\\zqtest\\backup\\loose.txt...EXISTS, LEFT AS IT IS"),
                                    std::string("K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup...EXISTS, LEFT AS IT IS"),
                                    "V: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackupvals:" + Narrow(longName) + "...RESTORED",
                                    S("2 items are restored.")})
        EXPECT_TRUE(Has(log, line)) << line;
    EXPECT_EQ(ReadFileBytes(work + L"\\loose.txt"), "made again");
    EXPECT_EQ(ReadFileBytes(work + L"\\kept.txt"), "kept");
    EXPECT_TRUE(ValueExists(HKLM, kProduct, L"other") && !ValueExists(HKLM, kProduct, L"v"));
    EXPECT_TRUE(ValueExists(HKLM, kValues, longName));
}

// A run ended in the middle of its files phase (killed while a control's unregistration hangs)
// leaves a journal from which the restore brings back everything it had removed, though no
// manifest lists it and the journal's last record is cut in half.
TEST_F(Backup, ARunKilledMidPhaseIsRestoredFromItsJournal)
{
    for (const wchar_t* name : {L"\\a.txt", L"\\b.txt", L"\\c.txt"})
        WriteFileBytes(work + name, Narrow(name));
    ASSERT_TRUE(CopyFileW(StandinPath(L"blocker.dll").c_str(), (work + L"\\control.ocx").c_str(), FALSE));
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\nbackup=C:\\zqtest\\backup-store\r\n[files]\r\n"
                                            "C:\\zqtest\\backup\\a.txt\r\nC:\\zqtest\\backup\\b.txt\r\n"
                                            "C:\\zqtest\\backup\\control.ocx\r\nC:\\zqtest\\backup\\c.txt\r\n");
    KernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqtest_unreg_ready"));
    KernelHandle launcher = Start(Program(), L"-s", work);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 60000));
    {
        ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
        ServiceHandle service(OpenServiceW(manager.Get(), L"zqcleansrvc", SERVICE_QUERY_STATUS));
        SERVICE_STATUS_PROCESS status = {};
        DWORD size = 0;
        ASSERT_TRUE(QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                         sizeof status, &size));
        KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
        ASSERT_TRUE(TerminateProcess(process.Get(), 9));
        WaitForSingleObject(process.Get(), 10000);
    }
    // As a power loss would end them: the launcher too (the next launch finds its service).
    TerminateProcess(launcher.Get(), 9);
    WaitForSingleObject(launcher.Get(), 10000);
    EXPECT_FALSE(PathExists(work + L"\\a.txt") || PathExists(work + L"\\b.txt"));
    EXPECT_TRUE(PathExists(work + L"\\control.ocx") && PathExists(work + L"\\c.txt"));
    std::vector<std::wstring> runs = RunFolders(store);
    ASSERT_EQ(runs.size(), 1u);
    std::string manifest = ReadFileBytes(runs[0] + L"\\manifest.json");
    EXPECT_EQ(manifest.find("a.txt"), std::string::npos);  // written after the phases before it only
    std::string journal = ReadFileBytes(runs[0] + L"\\journal.jsonl");
    WriteFileBytes(runs[0] + L"\\journal.jsonl", journal + journal.substr(0, journal.find('\n') / 2));

    EXPECT_EQ(kCompletedRun, Launch(L"-restore", work));
    Lines log = LogLines(kRunLog);
    EXPECT_TRUE(Has(log, "C:\\zqtest\\backup\\control.ocx...EXISTS, LEFT AS IT IS"));
    EXPECT_TRUE(Has(log, S("2 items are restored.")));
    EXPECT_EQ(ReadFileBytes(work + L"\\a.txt") + ReadFileBytes(work + L"\\b.txt"), "\\a.txt\\b.txt");
}

// Nothing in a backup is trusted: a restore refuses a backup that others may change, an item
// whose target the guard refuses or whose saved copy is named outside its place, and a .reg file
// that names a key beyond the item's own; a manifest cut short is read up to its last whole record.
TEST_F(Backup, NothingInABackupIsTrusted)
{
    WriteFileBytes(work + L"\\loose.txt", "loose");
    SetValue(HKLM, kProduct + L"\\sub", L"v", REG_SZ, L"x", 4);
    SetValue(HKLM, kValues, L"single", REG_SZ, L"x", 4);
    WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\nbackup=C:\\zqtest\\backup-store\\runs\r\n[files]\r\n"
                                            "C:\\zqtest\\backup\\loose.txt\r\n[registry]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup\r\n"
                                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackupvals:single\r\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
    std::vector<std::wstring> runs = RunFolders(store + L"\\runs");
    ASSERT_EQ(runs.size(), 1u);
    const std::wstring run = runs[0];

    LetEveryoneChange(run, true);
    EXPECT_EQ(kCompletedRun, Launch(L"-restore", work));
    EXPECT_TRUE(Has(LogLines(kRunLog), S("Cannot restore (others may change the backup " + Narrow(run) + ")")));
    EXPECT_FALSE(PathExists(work + L"\\loose.txt"));
    LetEveryoneChange(run, false);

    // The journal gone, the manifest cut short after two items and three planted ones, one of them
    // in the shape the run writes, its saved copy beside it.
    std::wstring plantedPath = SystemFolder() + L"\\zqplanted.dll";
    std::string planted = Narrow(plantedPath);
    for (size_t at = 0; (at = planted.find('\\', at)) != std::string::npos; at += 2)
        planted.insert(at, "\\");
    CreateDirectoryW((run + L"\\9").c_str(), nullptr);
    WriteFileBytes(run + L"\\9\\zqplanted.dll", "planted");
    DeleteFileW((run + L"\\journal.jsonl").c_str());
    std::string manifest = ReadFileBytes(run + L"\\manifest.json");
    size_t items = manifest.find('\n') + 1;
    manifest = manifest.substr(0, items) +
               "{\"item\":7,\"kind\":\"folder\",\"original\":\"C:\\\\windows\\\\system32\",\"saved\":[\"7\\\\system32\"],\"outcome\":\"deleted\"},\n"
               "{\"item\":8,\"kind\":\"file\",\"original\":\"C:\\\\zqtest\\\\backup\\\\win.ini\",\"saved\":[\"8\\\\..\\\\..\\\\..\\\\..\\\\windows\\\\win.ini\"],\"outcome\":\"deleted\"},\n"
               "{\"item\":9,\"kind\":\"file\",\"original\":\"" + planted + "\",\"saved\":[\"9\\\\zqplanted.dll\"],\"outcome\":\"deleted\"},\n" +
               manifest.substr(items, manifest.rfind("{") - items) + manifest.substr(manifest.rfind("{"), 30);
    WriteFileBytes(run + L"\\manifest.json", manifest);
    std::wstring reg = Utf16Text(ReadFileBytes(run + L"\\1.reg"));
    ASSERT_NE(reg.find(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup]"), std::wstring::npos);
    WriteFileBytes(run + L"\\1.reg", Utf16Bytes(reg + L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                                                        L"CurrentVersion\\Run]\r\n\"zqevil\"=\"C:\\\\evil.exe\"\r\n"));

    EXPECT_EQ(kCompletedRun, Launch(L"-restore", work));
    Lines log = LogLines(kRunLog);
    for (const std::string& line : {S("Restore items(5):"), Narrow(plantedPath) + "...FAILED(Err:5)",
                                    Narrow(SystemRootDir()) + "\\system32...FAILED(Err:5)",
                                    std::string("C:\\zqtest\\backup\\win.ini...FAILED(Err:5)"),
                                    std::string("K: HKEY_LOCAL_MACHINE\\SOFTWARE\\zqbackup...FAILED(Err:5)"),
                                    std::string("C:\\zqtest\\backup\\loose.txt...RESTORED"), S("1 items are restored.")})
        EXPECT_TRUE(Has(log, line)) << line;
    EXPECT_FALSE(ValueExists(HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"zqevil"));
    EXPECT_FALSE(KeyExists(HKLM, kProduct) || PathExists(work + L"\\win.ini") || PathExists(plantedPath));
    nlohmann::json report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.restore.json"), nullptr, false);
    EXPECT_EQ(report["backup"]["folder"], Narrow(run));
}

// A backup folder where the run removes things, a protected folder, or no full path of a local
// drive is refused: nothing is removed, and the log and the report say why. A preview makes no
// backup folder.
TEST_F(Backup, UnfitBackupFoldersAreRefusedAndAPreviewMakesNone)
{
    const std::wstring product = L"C:\\zqtest\\backup-product";
    CreateDirectoryW(product.c_str(), nullptr);
    WriteFileBytes(product + L"\\app.exe", "app");
    const struct {
        std::string folder, shown, reason;
        int error;
    } cases[] = {
        {"C:\\zqtest\\backup-product\\saved", "C:\\zqtest\\backup-product\\saved", "a folder that the run removes, or one inside it", 5},
        {"zqsaved", "zqsaved", "it is no full path of a local drive", 161},
        {"%SystemRoot%", Narrow(SystemRootDir()), "a folder that the system or every product needs", 5},
    };
    for (const auto& c : cases) {
        WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\nbackup=" + c.folder + "\r\n[folders]\r\n" + Narrow(product) + "\r\n");
        EXPECT_EQ(kCompletedRun, Launch(L"-s", work));
        Lines log = LogLines(kRunLog);
        EXPECT_TRUE(Has(log, S("Backup folder refused: " + c.shown + " (" + c.reason + ")"))) << c.folder;
        EXPECT_TRUE(Has(log, Narrow(product) + "...FAILED(Err:" + std::to_string(c.error) + ")")) << c.folder;
        nlohmann::json report = nlohmann::json::parse(ReadFileBytes(L"C:\\zqclean.json"), nullptr, false);
        EXPECT_EQ(report["backup"]["reason"], c.reason);
        EXPECT_TRUE(PathExists(product + L"\\app.exe"));
    }
    EXPECT_FALSE(PathExists(product + L"\\saved"));

    WriteFileBytes(work + L"\\zqclean.ini", "[general]\r\nbackup=C:\\zqtest\\backup-store\\preview\r\n[folders]\r\n" +
                                            Narrow(product) + "\r\n");
    EXPECT_EQ(kCompletedRun, Launch(L"-preview", work));
    EXPECT_TRUE(Has(LogLines(L"C:\\zqclean.preview.log"), Narrow(product) + "...WOULD DELETE"));
    EXPECT_FALSE(PathExists(store + L"\\preview"));
    RemoveTree(product);
}
