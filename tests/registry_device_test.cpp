// The enumerated device removal, against scratch enumerators below Enum and scratch interface
// classes below DeviceClasses.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DeviceKeys.h"
#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "launcher/RunLog.h"
#include "script/CleanScript.h"
#include "tests/support/RegistrySupport.h"
#include "tests/support/TestSupport.h"

namespace {

const std::wstring kEnum = L"SYSTEM\\CurrentControlSet\\Enum\\";
const std::wstring kClasses = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";
const std::wstring kClass1 = L"{5a5a0001-7a71-4e57-9d00-000000000001}";
const std::wstring kClass2 = L"{5a5a0002-7a71-4e57-9d00-000000000002}";
const std::wstring kClass3 = L"{5a5a0003-7a71-4e57-9d00-000000000003}";  // no interfaces

const char kEnumA[] = "SYSTEM\\CurrentControlSet\\Enum\\";
const char kClass1A[] =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{5a5a0001-7a71-4e57-9d00-000000000001}";
const char kClass2A[] =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{5a5a0002-7a71-4e57-9d00-000000000002}";

// A device key as the plug-and-play manager leaves it: an instance key with its own subkey,
// values on every level.
void MakeDevice(const std::wstring& enumerator, const std::wstring& device)
{
    std::wstring path = kEnum + enumerator + L"\\" + device;
    MakeKey(HKEY_LOCAL_MACHINE, path, {{L"Name", device}});
    MakeKey(HKEY_LOCAL_MACHINE, path + L"\\0000", {{L"HardwareID", device}, {L"", L"d"}});
    MakeKey(HKEY_LOCAL_MACHINE, path + L"\\0000\\Device Parameters", {{L"Param", L"1"}});
}

// An interface key: "##?#ENUM#DEVICE#INSTANCE#{class}" with "#" and "Control" below it.
std::wstring MakeInterface(const std::wstring& cls, const std::wstring& enumerator,
                           const std::wstring& device)
{
    std::wstring name = L"##?#" + enumerator + L"#" + device + L"#0000#" + cls;
    std::wstring path = kClasses + cls + L"\\" + name;
    MakeKey(HKEY_LOCAL_MACHINE, path, {{L"DeviceInstance", enumerator + L"\\" + device}});
    MakeKey(HKEY_LOCAL_MACHINE, path + L"\\#", {{L"SymbolicLink", name}});
    MakeKey(HKEY_LOCAL_MACHINE, path + L"\\#\\Device Parameters", {{L"FriendlyName", device}});
    MakeKey(HKEY_LOCAL_MACHINE, path + L"\\Control", {{L"Linked", L"0"}});
    return path;
}

void AddEntries(zqList<zqWString>& list, const std::vector<std::wstring>& entries)
{
    for (const auto& text : entries) {
        zqWString entry;
        entry.Assign(text.c_str());
        list.Append(entry);
    }
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = MakeScratchDir(L"registrydevice") + L"\\run.log";
        SetRunLogPath(Narrow(logPath).c_str());
        ServiceCurrentState() = 0;
        RemoveScratch();
        MakeDevice(L"ZQTESTENUM", L"OTHER");
        MakeDevice(L"ZQTESTENUM", L"ZQDEV_A1");
        MakeDevice(L"ZQTESTENUM", L"ZQDEV_A2");
        MakeDevice(L"ZQTESTENUM", L"zqdev_b1");
        MakeDevice(L"ZQTESTENUM2", L"ZQDEV_A1");
        other1 = MakeInterface(kClass1, L"ZQTESTENUM", L"OTHER");
        a1In1 = MakeInterface(kClass1, L"ZQTESTENUM", L"ZQDEV_A1");
        a2In1 = MakeInterface(kClass1, L"zqtestenum", L"zqdev_a2");
        b1In1 = MakeInterface(kClass1, L"ZQTESTENUM", L"ZQDEV_B1");
        secondEnum1 = MakeInterface(kClass1, L"ZQTESTENUM2", L"ZQDEV_A1");
        a1In2 = MakeInterface(kClass2, L"ZQTESTENUM", L"ZQDEV_A1");
        MakeKey(HKEY_LOCAL_MACHINE, kClasses + kClass3, {{L"", L"empty class"}});
    }
    void TearDown() override
    {
        ServiceCurrentState() = 0;
        RemoveScratch();
    }
    static void RemoveScratch()
    {
        for (const wchar_t* enumerator : {L"ZQTESTENUM", L"ZQTESTENUM2"})
            RemoveScratchKey(HKEY_LOCAL_MACHINE, kEnum + enumerator);
        for (const auto& cls : {kClass1, kClass2, kClass3})
            RemoveScratchKey(HKEY_LOCAL_MACHINE, kClasses + cls);
    }
    std::vector<std::string> Log() const { return MaskedLogLines(ReadFileBytes(logPath)); }
    static bool Present(const std::wstring& path) { return KeyExists(HKEY_LOCAL_MACHINE, path); }

    std::wstring logPath;
    std::wstring other1, a1In1, a2In1, b1In1, secondEnum1, a1In2;
};

TEST_F(DeviceTest, PrefixesFindDeviceKeysAndTheirInterfacesInEveryClass)
{
    zqCleanScript script;
    AddEntries(script.devices, {
        L"ZQTESTENUM\\zqdev_a",      // prefix, any case: A1, A2 and their interfaces
        L"zqtestenum\\ZQDEV_B",      // the enumerator is used as written
        L"NOBACKSLASH",
        L"ZQTESTENUM\\OTHER\\0000",  // later backslashes stay in REST: matches nothing
        L"ZQMISSINGENUM\\X",
    });
    DevicePhase(script);

    const std::string enumA = kEnumA;
    const std::string class1 = kClass1A, class2 = kClass2A;
    const std::string g1 = "{5a5a0001-7a71-4e57-9d00-000000000001}";
    const std::string g2 = "{5a5a0002-7a71-4e57-9d00-000000000002}";
    // Subkeys come in name order, ignoring case, on Wine as on Windows.
    std::vector<std::string> keys = {
        enumA + "ZQTESTENUM\\ZQDEV_A1",
        enumA + "ZQTESTENUM\\ZQDEV_A2",
        class1 + "\\##?#ZQTESTENUM#ZQDEV_A1#0000#" + g1,
        class1 + "\\##?#zqtestenum#zqdev_a2#0000#" + g1,
        class2 + "\\##?#ZQTESTENUM#ZQDEV_A1#0000#" + g2,
        enumA + "zqtestenum\\zqdev_b1",
        class1 + "\\##?#ZQTESTENUM#ZQDEV_B1#0000#" + g1,
    };
    std::vector<std::string> found;
    for (int i = 0; i < script.deviceKeys.count; ++i)
        found.push_back(script.deviceKeys.At(i)->Get());
    EXPECT_EQ(found, keys);

    std::vector<std::string> expected = {"[TS]\tFind enumerated devices to delete"};
    for (const auto& key : keys)
        expected.push_back(key + "...OK");
    expected.push_back("[TS]\t7 enumerated devices are deleted.");
    EXPECT_EQ(Log(), expected);

    for (const wchar_t* gone : {L"ZQTESTENUM\\ZQDEV_A1", L"ZQTESTENUM\\ZQDEV_A2",
                                L"ZQTESTENUM\\zqdev_b1"})
        EXPECT_FALSE(Present(kEnum + gone)) << Narrow(gone);
    for (const auto& gone : {a1In1, a2In1, b1In1, a1In2})
        EXPECT_FALSE(Present(gone)) << Narrow(gone);
    EXPECT_TRUE(Present(kEnum + L"ZQTESTENUM\\OTHER\\0000\\Device Parameters"));
    EXPECT_TRUE(Present(kEnum + L"ZQTESTENUM2\\ZQDEV_A1\\0000\\Device Parameters"));
    EXPECT_TRUE(Present(other1 + L"\\#\\Device Parameters"));
    EXPECT_TRUE(Present(secondEnum1 + L"\\#\\Device Parameters"));
    EXPECT_TRUE(Present(kClasses + kClass2));
    EXPECT_TRUE(Present(kClasses + kClass3));
}

TEST_F(DeviceTest, EmptyRestTakesTheWholeEnumeratorButNotItsNamesake)
{
    zqCleanScript script;
    AddEntries(script.devices, {L"ZQTESTENUM\\"});
    DevicePhase(script);

    std::vector<std::string> lines = Log();
    ASSERT_EQ(lines.size(), 11u);  // four device keys, five interface keys
    EXPECT_EQ(lines.front(), "[TS]\tFind enumerated devices to delete");
    EXPECT_EQ(lines.back(), "[TS]\t9 enumerated devices are deleted.");
    EXPECT_EQ(SubkeyCount(HKEY_LOCAL_MACHINE, kEnum + L"ZQTESTENUM"), 0);  // the enumerator stays
    for (const auto& gone : {other1, a1In1, a2In1, b1In1, a1In2})
        EXPECT_FALSE(Present(gone)) << Narrow(gone);
    EXPECT_TRUE(Present(kEnum + L"ZQTESTENUM2\\ZQDEV_A1\\0000\\Device Parameters"));
    EXPECT_TRUE(Present(secondEnum1 + L"\\#\\Device Parameters"));
}

TEST_F(DeviceTest, NothingToFind)
{
    for (const auto& entries : std::vector<std::vector<std::wstring>>{
             {}, {L"ZQTESTENUM\\NOSUCH", L"ZQTESTENUM", L"", L"ZQNOENUM\\"}}) {
        DeleteFileW(logPath.c_str());
        zqCleanScript script;
        AddEntries(script.devices, entries);
        EXPECT_FALSE(FindDeviceKeys(script));
        EXPECT_EQ(script.deviceKeys.count, 0);
        DevicePhase(script);
        std::vector<std::string> expected = {"[TS]\tFind enumerated devices to delete",
                                             "[TS]\tNo enumerated devices found."};
        EXPECT_EQ(Log(), expected);
    }
    EXPECT_TRUE(Present(a1In1 + L"\\Control"));
    EXPECT_EQ(SubkeyCount(HKEY_LOCAL_MACHINE, kEnum + L"ZQTESTENUM"), 4);
}

TEST_F(DeviceTest, StopRequestEndsTheLoopAfterTheKeyInHand)
{
    zqCleanScript script;
    AddEntries(script.devices, {L"ZQTESTENUM\\ZQDEV_A"});
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    DevicePhase(script);
    ServiceCurrentState() = 0;
    std::vector<std::string> expected = {
        "[TS]\tFind enumerated devices to delete",
        std::string(kEnumA) + "ZQTESTENUM\\ZQDEV_A1...OK",
        "[TS]\t1 enumerated devices are deleted.",
    };
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(script.deviceKeys.count, 5);
    EXPECT_FALSE(Present(kEnum + L"ZQTESTENUM\\ZQDEV_A1"));
    EXPECT_TRUE(Present(kEnum + L"ZQTESTENUM\\ZQDEV_A2\\0000\\Device Parameters"));
    EXPECT_TRUE(Present(a1In1 + L"\\#\\Device Parameters"));
}

TEST_F(DeviceTest, OverlappingEntriesFindAKeyTwiceAndTheSecondTurnFails)
{
    zqCleanScript script;
    AddEntries(script.devices, {L"ZQTESTENUM\\ZQDEV_A1", L"ZQTESTENUM\\ZQDEV_A1#"});
    DevicePhase(script);
    // The second entry matches no device key but the same interface keys; they are gone
    // by their second turn, and the failure carries the registry's code.
    const std::string class1 = kClass1A, class2 = kClass2A;
    const std::string g1 = "{5a5a0001-7a71-4e57-9d00-000000000001}";
    const std::string g2 = "{5a5a0002-7a71-4e57-9d00-000000000002}";
    std::vector<std::string> expected = {
        "[TS]\tFind enumerated devices to delete",
        std::string(kEnumA) + "ZQTESTENUM\\ZQDEV_A1...OK",
        class1 + "\\##?#ZQTESTENUM#ZQDEV_A1#0000#" + g1 + "...OK",
        class2 + "\\##?#ZQTESTENUM#ZQDEV_A1#0000#" + g2 + "...OK",
        class1 + "\\##?#ZQTESTENUM#ZQDEV_A1#0000#" + g1 + "...FAILED(Err:2)",
        class2 + "\\##?#ZQTESTENUM#ZQDEV_A1#0000#" + g2 + "...FAILED(Err:2)",
        "[TS]\t3 enumerated devices are deleted.",
    };
    EXPECT_EQ(Log(), expected);
    EXPECT_TRUE(Present(kEnum + L"ZQTESTENUM\\ZQDEV_A2\\0000"));
}

}  // namespace
