// Backup and restore, end to end: a product with every kind of item and every value type is
// removed by a run that saves it, then "-restore" puts back exactly that: files byte for byte
// with their attributes and times, keys and values with their types.
#include <windows.h>

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

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
    Lines calls = LogLines(work + L"\\difx-calls.txt");
    EXPECT_EQ(wide, std::any_of(calls.begin(), calls.end(), [](const std::string& call) {
        return call.rfind("install ", 0) == 0 && call.find("\\zqbackuppkg.inf 0x4") != std::string::npos;
    }));
    Lines tool = LogLines(work + L"\\gacutil.args");
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
