// INF files of the system INF folder and driver service keys, under Wine.
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

const int kOwnInfCount = 10;  // oemzqtest0 .. oemzqtest9

class InfFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        scratch = StartScratchLog(L"driverinf");
        infDir = SystemRootDir() + L"\\inf";
        RemoveOwnFiles();
        DropPendingRenames(L"oemzqtest");
    }

    void TearDown() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        for (HANDLE lock : locks)
            CloseHandle(lock);
        RemoveOwnFiles();
        DropPendingRenames(L"oemzqtest");
        RemoveTree(scratch);
    }

    void RemoveOwnFiles()
    {
        for (int i = 0; i < kOwnInfCount; ++i) {
            DeleteFileW(Path(i, L"inf").c_str());
            DeleteFileW(Path(i, L"pnf").c_str());
        }
    }

    std::wstring Path(int n, const wchar_t* extension)
    {
        return infDir + L"\\oemzqtest" + std::to_wstring(n) + L"." + extension;
    }

    void Write(int n, const wchar_t* extension, const std::string& bytes)
    {
        WriteFileBytes(Path(n, extension), bytes);
        ASSERT_TRUE(PathExists(Path(n, extension)));
    }

    // Holds the file open with the given sharing until the test ends.
    void Hold(int n, DWORD share)
    {
        HANDLE lock = CreateFileW(Path(n, L"inf").c_str(), GENERIC_READ, share, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        locks.push_back(lock);
    }

    // The INF files of the folder that are not ours.
    std::vector<std::wstring> ForeignInfFiles()
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((infDir + L"\\*.inf").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (wcsncmp(data.cFileName, L"oemzqtest", 9) != 0)
                names.push_back(data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Item(int n)
    {
        return Narrow(Path(n, L"inf")) + "...OK";
    }

    std::wstring scratch, infDir;
    std::vector<HANDLE> locks;
};

std::string Utf16(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

// Header, item lines (sorted: the order of the folder listing is the file system's), count.
std::vector<std::string> SortedItems(std::vector<std::string> lines)
{
    if (lines.size() > 2)
        std::sort(lines.begin() + 1, lines.end() - 1);
    return lines;
}

const char kInfHead[] = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n";

TEST_F(InfFiles, SelectsByInfTextsThenDriverNamesCaseSensitively)
{
    Write(1, L"inf", std::string(kInfHead) + "; built for ZQTEST_UNIQUE_TEXT_1 boards\r\n");
    Write(1, L"pnf", "precompiled");
    Write(2, L"inf", std::string(kInfHead) + "[Files]\r\nzqtestdrv_unique2.sys\r\n");
    Write(3, L"inf", std::string(kInfHead) + "; zqtest_unique_text_1 in other letters\r\n");
    Write(3, L"pnf", "precompiled");
    Write(4, L"inf", Utf16(L"[Version]\r\n; ZQTEST_UNIQUE_TEXT_1\r\n"));
    Write(5, L"inf", std::string("; zero byte\0; ZQTEST_UNIQUE_TEXT_1\r\n", 37));
    Write(6, L"inf", "");
    Write(7, L"inf", std::string(kInfHead) + "ServiceBinary=%12%\\ZQTESTDRV_UNIQUE2.sys\r\n");

    std::vector<std::wstring> foreignBefore = ForeignInfFiles();
    EXPECT_FALSE(foreignBefore.empty());
    zqCleanScript script;
    // The second [infs] entry cannot be narrowed; as an empty text it would match every file.
    AddEntries(&script.infs, {L"ZQTEST_UNIQUE_TEXT_1", L"\x4e2d\x6587"});
    AddEntries(&script.drivers, {L"zqtestdrv_unique2"});

    EXPECT_TRUE(InfPhase(script));
    std::vector<std::string> expected = {"[TS]\tDelete infs:", Item(1), Item(2),
                                         "[TS]\t2 inf files are deleted"};
    EXPECT_EQ(SortedItems(LogLines()), expected);

    EXPECT_FALSE(PathExists(Path(1, L"inf")));
    EXPECT_FALSE(PathExists(Path(1, L"pnf")));
    EXPECT_FALSE(PathExists(Path(2, L"inf")));
    for (int kept : {3, 4, 5, 6, 7})
        EXPECT_TRUE(PathExists(Path(kept, L"inf"))) << kept;
    EXPECT_TRUE(PathExists(Path(3, L"pnf")));
    EXPECT_EQ(ForeignInfFiles(), foreignBefore);  // the prefix's own INF files stay
}

TEST_F(InfFiles, FileInUseIsScheduledAndCountedLockedFileIsPassedOver)
{
    Write(8, L"inf", std::string(kInfHead) + "; ZQTEST_UNIQUE_TEXT_8\r\n");
    Write(8, L"pnf", "precompiled");
    Write(9, L"inf", std::string(kInfHead) + "; ZQTEST_UNIQUE_TEXT_8\r\n");
    Hold(8, FILE_SHARE_READ);  // readable, not deletable
    Hold(9, 0);                // not even readable: the phase cannot look at it

    zqCleanScript script;
    AddEntries(&script.drivers, {L"ZQTEST_UNIQUE_TEXT_8"});
    EXPECT_TRUE(InfPhase(script));

    std::vector<std::string> expected = {"[TS]\tDelete infs:", Item(8),
                                         "[TS]\t1 inf files are deleted"};
    EXPECT_EQ(LogLines(), expected);
    EXPECT_TRUE(PathExists(Path(8, L"inf")));  // still there until the restart
    EXPECT_FALSE(PathExists(Path(8, L"pnf")));
    EXPECT_TRUE(PathExists(Path(9, L"inf")));

    std::vector<std::wstring> pending = PendingRenameSources();
    EXPECT_NE(std::find(pending.begin(), pending.end(), L"\\??\\" + Path(8, L"inf")), pending.end());
    for (const std::wstring& source : pending)
        EXPECT_EQ(source.find(L"oemzqtest9"), std::wstring::npos);
}

TEST_F(InfFiles, EmptyListsAndStopRequest)
{
    Write(0, L"inf", std::string(kInfHead) + "; ZQTEST_UNIQUE_TEXT_0\r\n");
    zqCleanScript script;
    EXPECT_TRUE(InfPhase(script));
    std::vector<std::string> expected = {"[TS]\tDelete infs:", "[TS]\t0 inf files are deleted"};
    EXPECT_EQ(LogLines(), expected);

    // A stop request ends the loop after the first file it could open; the count line stays.
    AddEntries(&script.infs, {L"ZQTEST_UNIQUE_TEXT_NOWHERE"});
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(InfPhase(script));
    expected.insert(expected.end(), {"[TS]\tDelete infs:", "[TS]\t0 inf files are deleted"});
    EXPECT_EQ(LogLines(), expected);
    EXPECT_TRUE(PathExists(Path(0, L"inf")));
}

// Driver service keys below HKLM\SYSTEM\CurrentControlSet\Services.
class DriverServices : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        scratch = StartScratchLog(L"driversvc");
        for (const wchar_t* name : kNames)
            DeleteTree(name);
    }

    void TearDown() override
    {
        ServiceCurrentState() = SERVICE_RUNNING;
        for (const wchar_t* name : kNames)
            DeleteTree(name);
        RemoveTree(scratch);
    }

    static std::wstring KeyPath(const std::wstring& name)
    {
        return L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    }

    static void DeleteTree(const std::wstring& name)
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str());
    }

    static bool KeyExists(const std::wstring& name)
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    // A service key with values and a few levels of subkeys.
    static void MakeService(const std::wstring& name)
    {
        for (const wchar_t* sub : {L"", L"\\Enum", L"\\Parameters", L"\\Parameters\\Deep\\Deeper"}) {
            HKEY key;
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (KeyPath(name) + sub).c_str(), 0, nullptr,
                                      0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            DWORD type = 1;
            RegSetValueExW(key, L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type),
                           sizeof type);
            RegCloseKey(key);
        }
    }

    static std::string Item(const std::wstring& name)
    {
        return Narrow(KeyPath(name)) + "...OK";
    }

    static constexpr const wchar_t* kNames[] = {L"zqtestsvc1", L"zqtestsvc2", L"zqtestsvc3"};
    std::wstring scratch;
};

TEST_F(DriverServices, DeletesPresentKeysWithEverythingBelowSilentlySkipsAbsentOnes)
{
    MakeService(L"zqtestsvc1");
    MakeService(L"zqtestsvc2");
    MakeService(L"zqtestsvc3");  // not named: stays
    zqCleanScript script;
    AddEntries(&script.drivers, {L"zqtestsvc1", L"zqtestmissing", L"zqtestsvc2"});

    EXPECT_TRUE(DriverServicePhase(script));
    std::vector<std::string> expected = {"[TS]\tDelete driver services(3):", Item(L"zqtestsvc1"),
                                         Item(L"zqtestsvc2"),
                                         "[TS]\t2 driver services are deleted."};
    EXPECT_EQ(LogLines(), expected);
    EXPECT_FALSE(KeyExists(L"zqtestsvc1"));
    EXPECT_FALSE(KeyExists(L"zqtestsvc2"));
    EXPECT_TRUE(KeyExists(L"zqtestsvc3"));
}

TEST_F(DriverServices, NamesThatWouldAddressTheServicesKeyAreLeftAlone)
{
    MakeService(L"zqtestsvc3");
    zqCleanScript script;
    AddEntries(&script.drivers, {L"", L"\\", L"\\\\"});
    EXPECT_TRUE(DriverServicePhase(script));
    std::vector<std::string> expected = {"[TS]\tDelete driver services(3):",
                                         "[TS]\t0 driver services are deleted."};
    EXPECT_EQ(LogLines(), expected);
    EXPECT_TRUE(KeyExists(L"zqtestsvc3"));
    EXPECT_TRUE(KeyExists(L"PlugPlay"));
}

TEST_F(DriverServices, StopRequestIsSeenOnlyAfterTheLoopAndDropsTheCountLine)
{
    MakeService(L"zqtestsvc1");
    MakeService(L"zqtestsvc2");
    zqCleanScript script;
    AddEntries(&script.drivers, {L"zqtestsvc1", L"zqtestsvc2"});
    ServiceCurrentState() = SERVICE_STOP_PENDING;

    EXPECT_FALSE(DriverServicePhase(script));
    std::vector<std::string> expected = {"[TS]\tDelete driver services(2):", Item(L"zqtestsvc1"),
                                         Item(L"zqtestsvc2")};
    EXPECT_EQ(LogLines(), expected);
    EXPECT_FALSE(KeyExists(L"zqtestsvc1"));
    EXPECT_FALSE(KeyExists(L"zqtestsvc2"));
}

}  // namespace
