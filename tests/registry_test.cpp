// Registry primitives, the registry keys phase, the setup registration removal and the
// enumerated device removal, against scratch keys of the test prefix.
#include <windows.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DeviceKeys.h"
#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "registry/RegistryPrimitives.h"
#include "registry/SetupRegistration.h"
#include "script/CleanScript.h"
#include "tests/support/DriverSupport.h"
#include "tests/support/RegistrySupport.h"
#include "tests/support/TestSupport.h"

namespace {

const HKEY LM = HKEY_LOCAL_MACHINE, CU = HKEY_CURRENT_USER, CR = HKEY_CLASSES_ROOT;
const std::wstring kMachine = L"SOFTWARE\\zqtestreg";
const std::wstring kUser = L"Software\\zqtestreg";
const std::wstring kDirect = L"zqtestdirect";  // directly below its root
const std::wstring kClassScratch = L"zqtestreg.ext";

// Subkeys plus values of the key; -1 when it cannot be opened.
int EntryCount(HKEY root, const std::wstring& path)
{
    HKEY key;
    DWORD keys = 0, values = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return static_cast<int>(keys + values);
}

// Key names of 249 characters: the fourth level's path is exactly 1023 characters, so the
// fifth level's path, cut to the 1024-character buffer, would name the fourth level itself.
std::wstring ChainPath(int depth)
{
    std::wstring path = kUser + L"\\long";
    for (int level = 1; level <= depth; ++level)
        path += L"\\" + std::wstring(249, static_cast<wchar_t>(L'a' + level));
    return path;
}

// The fixed setup registrations below HKCR, in removal order.
const wchar_t* const kSetupClassKeys[] = {
    L"KDSetup\\DefaultIcon", L"KDSetup\\shell\\install\\command", L"KDSetup\\shell\\install",
    L"KDSetup\\shell\\open\\command", L"KDSetup\\shell\\open", L"KDSetup\\shell", L"KDSetup",
    L".kds", L"KDSetupZ\\DefaultIcon", L"KDSetupZ\\shell\\install\\command",
    L"KDSetupZ\\shell\\install", L"KDSetupZ\\shell", L"KDSetupZ", L".zqz",
    L"KDSetup32\\DefaultIcon", L"KDSetup32\\shell\\install\\command", L"KDSetup32\\shell\\install",
    L"KDSetup32\\shell\\open\\command", L"KDSetup32\\shell\\open", L"KDSetup32\\shell",
    L"KDSetup32", L".kds32", L"DERerurI32\\DefaultIcon", L"DERerurI32\\shell\\install\\command",
    L"DERerurI32\\shell\\install", L"DERerurI32\\shell", L"DERerurI32", L".zqz32",
};
const std::wstring kModules = L"SOFTWARE\\Wow6432Node\\ZQ";
const std::vector<std::wstring> kUninstallParents = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
#ifdef _WIN64  // the 32-bit build leaves those of the 32-bit view alone
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
#endif
};

const std::string kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
const std::string kGuids[] = {"{5a5a0001-7a71-4e57-9d00-000000000001}",
                              "{5a5a0002-7a71-4e57-9d00-000000000002}",
                              "{5a5a0003-7a71-4e57-9d00-000000000003}"};  // no interfaces
const char* const kDevices[] = {"ZQTESTENUM\\OTHER", "ZQTESTENUM\\ZQDEV_A1",
                                "ZQTESTENUM\\ZQDEV_A2", "ZQTESTENUM\\zqdev_b1",
                                "ZQTESTENUM2\\ZQDEV_A1"};

std::string ClassKey(int cls)
{
    return "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + kGuids[cls];
}
// The interface key of a device ("ENUM#ID") in a class: "##?#ENUM#ID#0000#{class}".
std::string Interface(int cls, const std::string& device)
{
    return ClassKey(cls) + "\\##?#" + device + "#0000#" + kGuids[cls];
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartScratchLog(L"registry");
        ServiceCurrentState() = 0;
        RemoveScratch();
    }
    void TearDown() override
    {
        ServiceCurrentState() = 0;
        RemoveScratch();
    }
    static void RemoveScratch()
    {
        for (const auto& key : {std::make_pair(LM, kMachine), std::make_pair(CU, kUser),
                                std::make_pair(CU, kDirect), std::make_pair(CR, kClassScratch)})
            RemoveScratchKey(key.first, key.second);
        RemoveScratchKey(LM, kModules);
        for (const wchar_t* key : kSetupClassKeys)
            RemoveScratchKey(CR, key);
        for (const auto& parent : kUninstallParents) {
            for (const wchar_t* name : {L"\\ZQ", L"\\ZQ32", L"\\zqtestkeep"})
                RemoveScratchKey(LM, parent + name);
        }
        for (const char* enumerator : {"ZQTESTENUM", "ZQTESTENUM2"})
            RemoveScratchKey(LM, Widen(kEnum + enumerator));
        for (int cls = 0; cls < 3; ++cls)
            RemoveScratchKey(LM, Widen(ClassKey(cls)));
    }
    static bool Present(const std::string& path) { return KeyExists(LM, Widen(path)); }
};

TEST(RootKeyFromName, FullNamesInAnyCaseOnlyUpperCasedInPlace)
{
    const struct { const wchar_t* text; HKEY root; const wchar_t* after; } cases[] = {
        {L"hkey_local_machine", LM, L"HKEY_LOCAL_MACHINE"},
        {L"hkey_users", HKEY_USERS, L"HKEY_USERS"},
        {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"},
        {L"hklm", nullptr, L"HKLM"},
        {L"HKEY_PERFORMANCE_DATA", nullptr, L"HKEY_PERFORMANCE_DATA"},
        {L" HKEY_USERS", nullptr, L" HKEY_USERS"},
        // U+0131 (dotless i) upper-cases to 'I' in Unicode; only ASCII letters may match.
        {L"hkey_local_mach\x0131ne", nullptr, L"HKEY_LOCAL_MACH\x0131NE"},
    };
    for (const auto& c : cases) {
        std::wstring text = c.text;
        EXPECT_EQ(RootKeyFromName(&text[0]), c.root) << Narrow(c.text);  // the others: phase test
        EXPECT_EQ(text, c.after);
    }
}

TEST_F(RegistryTest, NarrowTwinEmptiesTreesOnTheCallersHandle)  // the wide one: phase test
{
    MakeDeepTree(LM, kMachine + L"\\tree");
    MakeDeepTree(CU, kDirect);
    MakeKey(CU, kUser + L"\\stuck\\" + std::wstring(256, L'z'));  // see the phase test
    const struct { HKEY root; const char* path; BOOL done; } targets[] = {
        {LM, "SOFTWARE\\zqtestreg\\tree", TRUE}, {CU, "zqtestdirect", TRUE},
        {CU, "Software\\zqtestreg\\stuck", FALSE}};
    for (const auto& target : targets) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyA(target.root, target.path, &key), ERROR_SUCCESS);
        SetLastError(0xdeadbeef);
        BOOL done = DeleteKeyTreeA(target.root, target.path, &key);
        DWORD error = GetLastError();
        EXPECT_EQ(done, target.done) << target.path;
        EXPECT_TRUE(target.done || error == ERROR_ACCESS_DENIED) << error;
        EXPECT_EQ(key, nullptr);  // closed, reused for the parent and closed again
    }
    EXPECT_EQ(EntryCount(LM, kMachine), 0);
    EXPECT_EQ(EntryCount(CU, kDirect), 0);  // directly below the root: emptied and kept

    // Wine's narrow registry calls fail beyond 260 characters, so no real chain reaches the
    // cut child path; a long path text for a short key does.
    std::wstring shortKey = kUser + L"\\cut";
    MakeKey(CU, shortKey + L"\\child", {{L"v", L"1"}});
    std::string longText = Narrow(shortKey) + "\\" + std::string(1017 - shortKey.size(), 'x');
    ASSERT_EQ(longText.size() + 6, 1024u);  // + "\\child" no longer fits
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyW(CU, shortKey.c_str(), &key), ERROR_SUCCESS);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteKeyTreeA(CU, longText.c_str(), &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_NE(key, nullptr);  // still open: the caller closes it
    RegCloseKey(key);
    EXPECT_TRUE(ValueExists(CU, shortKey + L"\\child", L"v"));

    // The root itself is never emptied, by either variant.
    MakeKey(CU, kDirect, {{L"keep", L"1"}});
    for (const wchar_t* path : {L"", L"\\", L"\\\\"}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DeleteKeyTreeW(CU, path));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    ASSERT_EQ(RegOpenKeyA(CU, nullptr, &key), ERROR_SUCCESS);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteKeyTreeA(CU, "", &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    RegCloseKey(key);
    EXPECT_TRUE(ValueExists(CU, kDirect, L"keep"));
}

TEST_F(RegistryTest, ListSubkeyNames)
{
    const std::wstring list = kMachine + L"\\list";
    MakeKey(LM, list, {{L"value", L"not a key"}});
    for (const char* path : {"SOFTWARE\\zqtestreg\\list", "SOFTWARE\\zqtestreg\\missing"}) {
        char** names = reinterpret_cast<char**>(static_cast<uintptr_t>(0xdeadbeef));
        EXPECT_EQ(ListSubkeyNamesA(path, &names), 0) << path;
        EXPECT_EQ(names, nullptr) << path;
    }
    MakeKey(LM, list + L"\\Beta\\below");
    MakeKey(LM, list + L"\\alpha");
    MakeKey(LM, list + L"\\" + std::wstring(255, L'g'));  // the longest name allowed
    char** names = nullptr;
    ASSERT_EQ(ListSubkeyNamesA("SOFTWARE\\zqtestreg\\list", &names), 3);
    // Wine and Windows enumerate subkeys sorted by name, ignoring case.
    EXPECT_EQ(std::vector<std::string>(names, names + 3),
              (std::vector<std::string>{"alpha", "Beta", std::string(255, 'g')}));
    for (int i = 0; i < 3; ++i)
        free(names[i]);
    free(names);

    // A subkey with the longest name is removed with its parent, not skipped.
    EXPECT_TRUE(DeleteKeyTreeW(LM, list.c_str()));
    EXPECT_FALSE(KeyExists(LM, list));
}

TEST_F(RegistryTest, PhaseRemovesKeysAndValuesAndPassesOverTheRest)
{
    const std::wstring vals = kUser + L"\\vals";
    MakeDeepTree(LM, kMachine + L"\\deep");
    MakeKey(LM, kMachine + L"\\abbrev", {{L"v", L"1"}});
    MakeKey(CU, vals, {{L"gone", L"1"}, {L"", L"default"}, {L"a:b", L"2"}, {L"keep", L"3"}});
    MakeKey(CU, kUser + L"\\blank");
    MakeKey(CU, kUser + L"\\colon", {{L"key", L"1"}, {L"other", L"2"}});
    MakeKey(CU, kUser + L"\\colon:key\\sub");
    MakeDeepTree(CU, kDirect);
    MakeDeepTree(CR, kClassScratch);
    for (int depth = 1; depth <= 5; ++depth)
        MakeKey(CU, ChainPath(depth), {{L"level", L"x"}});
    // Wine allows 256-character key names (Windows 255): not enumerable, so the parent stays.
    MakeKey(CU, kUser + L"\\stuck\\" + std::wstring(256, L'z'), {{L"v", L"1"}});

    zqCleanScript script;
    AddEntries(&script.registry, {
        L"hkey_local_machine\\SOFTWARE\\zqtestreg\\deep",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:gone",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:a:b",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:nosuch",
        L"HKLM\\SOFTWARE\\zqtestreg\\abbrev",
        L" HKEY_CURRENT_USER\\Software\\zqtestreg\\blank",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\missing",
        L"HKEY_CURRENT_USER",
        L"HKEY_CURRENT_USER\\zqtestdirect",
        L"HKEY_CURRENT_USER\\",
        L"HKEY_LOCAL_MACHINE\\\\",
        L"HKEY_CLASSES_ROOT\\zqtestreg.ext",
        L"HKEY_PERFORMANCE_DATA\\x",
        L"",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\colon:key",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\long",
        L"HKEY_CURRENT_USER\\Software\\zqtestreg\\stuck",
    });
    EXPECT_TRUE(RegistryPhase(script));

    std::vector<std::string> expected = {
        "[TS]\tDelete registry keys(18):",
        "K: hkey_local_machine\\SOFTWARE\\zqtestreg\\deep...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:gone...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:a:b...OK",
        "K: HKEY_CURRENT_USER\\zqtestdirect...OK",
        "K: HKEY_CURRENT_USER\\...FAILED(Err:5)",
        "K: HKEY_LOCAL_MACHINE\\\\...FAILED(Err:5)",
        "K: HKEY_CLASSES_ROOT\\zqtestreg.ext...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\colon:key...OK",
        "K: HKEY_CURRENT_USER\\Software\\zqtestreg\\long...FAILED(Err:206)",
        "K: HKEY_CURRENT_USER\\Software\\zqtestreg\\stuck...FAILED(Err:5)",
        "[TS]\t7 registry keys are deleted",
    };
    EXPECT_EQ(LogLines(), expected);

    EXPECT_FALSE(KeyExists(LM, kMachine + L"\\deep"));
    EXPECT_TRUE(ValueExists(LM, kMachine + L"\\abbrev", L"v"));
    EXPECT_EQ(EntryCount(CU, vals), 1);
    EXPECT_TRUE(ValueExists(CU, vals, L"keep"));
    EXPECT_TRUE(KeyExists(CU, kUser + L"\\blank"));
    EXPECT_FALSE(ValueExists(CU, kUser + L"\\colon", L"key"));
    EXPECT_TRUE(ValueExists(CU, kUser + L"\\colon", L"other"));
    EXPECT_TRUE(KeyExists(CU, kUser + L"\\colon:key\\sub"));
    EXPECT_EQ(EntryCount(CU, kDirect), 0);
    EXPECT_EQ(EntryCount(CR, kClassScratch), 0);  // directly below its root too
    // The cut child path named the fourth level: nothing of the chain was touched.
    EXPECT_TRUE(ValueExists(CU, ChainPath(5), L"level"));
    EXPECT_TRUE(ValueExists(CU, ChainPath(4), L"level"));
}

TEST_F(RegistryTest, StopRequestFinishesTheEntryInHandThenSummary)
{
    for (const wchar_t* name : {L"\\first", L"\\second"})
        MakeDeepTree(CU, kUser + name);
    zqCleanScript script;
    AddEntries(&script.registry, {L"HKEY_CURRENT_USER\\Software\\zqtestreg\\first",
                                  L"HKEY_CURRENT_USER\\Software\\zqtestreg\\second"});
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(RegistryPhase(script));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "[TS]\tDelete registry keys(2):",
                              "K: HKEY_CURRENT_USER\\Software\\zqtestreg\\first...OK",
                              "[TS]\t1 registry keys are deleted"}));
    EXPECT_FALSE(KeyExists(CU, kUser + L"\\first"));
    EXPECT_TRUE(KeyExists(CU, kUser + L"\\second\\one\\two\\three"));
}

TEST_F(RegistryTest, SetupRegistrationRemovesTheTableAndKeepsAKeyWithAnExtraVerb)
{
    for (const wchar_t* key : kSetupClassKeys)
        MakeKey(CR, key, {{L"", L"x"}});
    MakeKey(CR, L"KDSetup\\shell\\print\\command", {{L"", L"print"}});
    for (const auto& parent : kUninstallParents) {
        for (const wchar_t* name : {L"\\ZQ", L"\\ZQ32", L"\\zqtestkeep"})
            MakeKey(LM, parent + name, {{L"DisplayName", L"zq"}});
    }
    MakeKey(LM, kModules, {{L"Modules.x64", L"1"}, {L"Modules", L"2"}});

    for (int pass = 1; pass <= 2; ++pass) {  // the second finds nothing left to remove
        StartScratchLog(L"registry");
        RemoveSetupRegistration();
        EXPECT_EQ(LogLines(), std::vector<std::string>{"[TS]\tUndelete setup...OK."});
        for (const wchar_t* key : kSetupClassKeys) {  // the print verb keeps its parents
            bool kept = wcscmp(key, L"KDSetup") == 0 || wcscmp(key, L"KDSetup\\shell") == 0;
            EXPECT_EQ(KeyExists(CR, key), kept) << Narrow(key);
        }
        EXPECT_TRUE(KeyExists(CR, L"KDSetup\\shell\\print\\command"));
        for (const auto& parent : kUninstallParents) {
            for (const std::wstring name : {L"\\ZQ", L"\\ZQ32", L"\\zqtestkeep"})
                EXPECT_EQ(KeyExists(LM, parent + name), name == L"\\zqtestkeep") << Narrow(name);
        }
        EXPECT_FALSE(ValueExists(LM, kModules, L"Modules.x64"));
        EXPECT_TRUE(ValueExists(LM, kModules, L"Modules"));
    }
}

class DeviceTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        for (const char* device : kDevices)
            MakeDeepTree(LM, Widen(kEnum + device));
        for (const char* device : {"ZQTESTENUM#OTHER", "ZQTESTENUM#ZQDEV_A1", "zqtestenum#zqdev_a2",
                                   "ZQTESTENUM#ZQDEV_B1", "ZQTESTENUM2#ZQDEV_A1"})
            MakeDeepTree(LM, Widen(Interface(0, device)));
        MakeDeepTree(LM, Widen(Interface(1, "ZQTESTENUM#ZQDEV_A1")));
        MakeKey(LM, Widen(ClassKey(2)), {{L"", L"empty class"}});
    }
};

TEST_F(DeviceTest, FindDeviceKeysByPrefixInEveryInterfaceClass)
{
    const struct { std::vector<const wchar_t*> entries; std::vector<std::string> keys; } cases[] = {
        // Prefixes in any case, the enumerator as written; the last three entries find nothing.
        {{L"ZQTESTENUM\\zqdev_a", L"zqtestenum\\ZQDEV_B", L"NOBACKSLASH",
          L"ZQTESTENUM\\OTHER\\0000", L"ZQMISSINGENUM\\X"},
         {kEnum + "ZQTESTENUM\\ZQDEV_A1", kEnum + "ZQTESTENUM\\ZQDEV_A2",
          Interface(0, "ZQTESTENUM#ZQDEV_A1"), Interface(0, "zqtestenum#zqdev_a2"),
          Interface(1, "ZQTESTENUM#ZQDEV_A1"), kEnum + "zqtestenum\\zqdev_b1",
          Interface(0, "ZQTESTENUM#ZQDEV_B1")}},
        // An empty REST takes the whole enumerator, but not its namesake ZQTESTENUM2.
        {{L"ZQTESTENUM\\"},
         {kEnum + "ZQTESTENUM\\OTHER", kEnum + "ZQTESTENUM\\ZQDEV_A1",
          kEnum + "ZQTESTENUM\\ZQDEV_A2", kEnum + "ZQTESTENUM\\zqdev_b1",
          Interface(0, "ZQTESTENUM#OTHER"), Interface(0, "ZQTESTENUM#ZQDEV_A1"),
          Interface(0, "zqtestenum#zqdev_a2"), Interface(0, "ZQTESTENUM#ZQDEV_B1"),
          Interface(1, "ZQTESTENUM#ZQDEV_A1")}},
        // No enumerator: never the enumerators themselves.
        {{L"ZQTESTENUM\\NOSUCH", L"ZQTESTENUM", L"", L"ZQNOENUM\\", L"\\ZQTESTENUM", L"\\"}, {}},
    };
    for (const auto& c : cases) {
        zqCleanScript script;
        for (const wchar_t* entry : c.entries)
            AddEntries(&script.devices, {entry});
        // Subkeys come in name order, ignoring case, on Wine as on Windows.
        EXPECT_EQ(FindDeviceKeys(script), !c.keys.empty());
        std::vector<std::string> found;
        for (int i = 0; i < script.deviceKeys.count; ++i)
            found.push_back(script.deviceKeys.At(i)->Get());
        EXPECT_EQ(found, c.keys);
    }
    zqCleanScript script;  // no entries at all
    DevicePhase(script);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"[TS]\tFind enumerated devices to delete",
                                                   "[TS]\tNo enumerated devices found."}));
}

TEST_F(DeviceTest, PhaseDeletesEachKeyWithItsLine)
{
    zqCleanScript script;
    // The third entry finds only the interface keys of the first again: gone by their turn.
    AddEntries(&script.devices,
               {L"ZQTESTENUM\\zqdev_a", L"zqtestenum\\ZQDEV_B", L"ZQTESTENUM\\ZQDEV_A1#"});
    DevicePhase(script);
    std::vector<std::string> expected = {
        "[TS]\tFind enumerated devices to delete",
        kEnum + "ZQTESTENUM\\ZQDEV_A1...OK",
        kEnum + "ZQTESTENUM\\ZQDEV_A2...OK",
        Interface(0, "ZQTESTENUM#ZQDEV_A1") + "...OK",
        Interface(0, "zqtestenum#zqdev_a2") + "...OK",
        Interface(1, "ZQTESTENUM#ZQDEV_A1") + "...OK",
        kEnum + "zqtestenum\\zqdev_b1...OK",
        Interface(0, "ZQTESTENUM#ZQDEV_B1") + "...OK",
        Interface(0, "ZQTESTENUM#ZQDEV_A1") + "...FAILED(Err:2)",
        Interface(1, "ZQTESTENUM#ZQDEV_A1") + "...FAILED(Err:2)",
        "[TS]\t7 enumerated devices are deleted.",
    };
    EXPECT_EQ(LogLines(), expected);
    for (size_t i = 1; i < 10; ++i) {
        std::string key = expected[i].substr(0, expected[i].find("..."));
        EXPECT_FALSE(Present(key)) << key;
    }
    for (const std::string& kept :
         {kEnum + "ZQTESTENUM\\OTHER", kEnum + "ZQTESTENUM2\\ZQDEV_A1",
          Interface(0, "ZQTESTENUM#OTHER"), Interface(0, "ZQTESTENUM2#ZQDEV_A1")})
        EXPECT_TRUE(Present(kept + "\\one\\two\\three")) << kept;
    EXPECT_EQ(EntryCount(LM, Widen(ClassKey(1))), 0);  // the class key itself stays
}

TEST_F(DeviceTest, StopRequestEndsTheLoopAfterTheKeyInHand)
{
    zqCleanScript script;
    AddEntries(&script.devices, {L"ZQTESTENUM\\ZQDEV_A"});
    ServiceCurrentState() = SERVICE_STOPPED;
    DevicePhase(script);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"[TS]\tFind enumerated devices to delete",
                                                   kEnum + "ZQTESTENUM\\ZQDEV_A1...OK",
                                                   "[TS]\t1 enumerated devices are deleted."}));
    EXPECT_EQ(script.deviceKeys.count, 5);
    EXPECT_FALSE(Present(kEnum + "ZQTESTENUM\\ZQDEV_A1"));
    EXPECT_TRUE(Present(kEnum + "ZQTESTENUM\\ZQDEV_A2\\one\\two\\three"));
    EXPECT_TRUE(Present(Interface(0, "ZQTESTENUM#ZQDEV_A1") + "\\one\\two\\three"));
}

}  // namespace
