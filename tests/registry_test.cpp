// Registry primitives, the registry keys phase and the setup registration removal, against
// scratch keys of the test prefix.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "launcher/RunLog.h"
#include "registry/RegistryPrimitives.h"
#include "registry/SetupRegistration.h"
#include "script/CleanScript.h"
#include "tests/support/RegistrySupport.h"
#include "tests/support/TestSupport.h"

namespace {

const wchar_t kMachineScratch[] = L"SOFTWARE\\zqtestreg";
const wchar_t kUserScratch[] = L"Software\\zqtestreg";
const wchar_t kDirect[] = L"zqtestdirect";
const wchar_t kSentinel[] = L"zqtestsentinel";
const wchar_t kClassScratch[] = L"zqtestreg.ext";

// Key names of 249 characters: the path of the fourth level below "Software\\zqtestreg\\long"
// is exactly 1023 characters, so the fifth level's path, cut to the 1024-character buffer,
// would name the fourth level itself.
const wchar_t kChainBase[] = L"Software\\zqtestreg\\long";
std::wstring ChainPath(int depth)
{
    std::wstring path = kChainBase;
    for (int level = 1; level <= depth; ++level)
        path += L"\\" + std::wstring(249, static_cast<wchar_t>(L'a' + level));
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

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = MakeScratchDir(L"registry") + L"\\run.log";
        SetRunLogPath(Narrow(logPath).c_str());
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
        RemoveScratchKey(HKEY_LOCAL_MACHINE, kMachineScratch);
        RemoveScratchKey(HKEY_CURRENT_USER, kUserScratch);
        RemoveScratchKey(HKEY_CURRENT_USER, kDirect);
        RemoveScratchKey(HKEY_CURRENT_USER, kSentinel);
        RemoveScratchKey(HKEY_CLASSES_ROOT, kClassScratch);
    }
    std::vector<std::string> Log() const { return MaskedLogLines(ReadFileBytes(logPath)); }

    std::wstring logPath;
};

TEST(RootKeyFromName, FullNamesInAnyCaseOnly)
{
    wchar_t lower[] = L"hkey_local_machine";
    EXPECT_EQ(RootKeyFromName(lower), HKEY_LOCAL_MACHINE);
    EXPECT_STREQ(lower, L"HKEY_LOCAL_MACHINE");  // the caller's text is upper-cased

    wchar_t classes[] = L"HKEY_Classes_Root";
    wchar_t user[] = L"HKEY_CURRENT_USER";
    wchar_t users[] = L"hkey_users";
    wchar_t config[] = L"HKEY_CURRENT_CONFIG";
    EXPECT_EQ(RootKeyFromName(classes), HKEY_CLASSES_ROOT);
    EXPECT_EQ(RootKeyFromName(user), HKEY_CURRENT_USER);
    EXPECT_EQ(RootKeyFromName(users), HKEY_USERS);
    EXPECT_EQ(RootKeyFromName(config), HKEY_CURRENT_CONFIG);

    wchar_t abbreviation[] = L"hklm";
    EXPECT_EQ(RootKeyFromName(abbreviation), nullptr);
    EXPECT_STREQ(abbreviation, L"HKLM");
    wchar_t performance[] = L"HKEY_PERFORMANCE_DATA";
    wchar_t blank[] = L" HKEY_USERS";
    wchar_t longer[] = L"HKEY_USERSX";
    wchar_t empty[] = L"";
    // U+0131 (dotless i) upper-cases to 'I' in Unicode; only ASCII letters may match.
    wchar_t dotless[] = L"hkey_local_mach\x0131ne";
    EXPECT_EQ(RootKeyFromName(performance), nullptr);
    EXPECT_EQ(RootKeyFromName(blank), nullptr);
    EXPECT_EQ(RootKeyFromName(longer), nullptr);
    EXPECT_EQ(RootKeyFromName(empty), nullptr);
    EXPECT_EQ(RootKeyFromName(dotless), nullptr);
}

TEST_F(RegistryTest, WideTreeRemovedDeepestFirstSiblingsKept)
{
    std::wstring tree = std::wstring(kMachineScratch) + L"\\tree";
    MakeDeepTree(HKEY_LOCAL_MACHINE, tree);
    MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\treeneighbour", {{L"v", L"1"}});

    SetLastError(0xdeadbeef);
    EXPECT_TRUE(DeleteKeyTreeW(HKEY_LOCAL_MACHINE, tree.c_str()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, tree));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\treeneighbour"));
    EXPECT_EQ(SubkeyCount(HKEY_LOCAL_MACHINE, kMachineScratch), 1);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteKeyTreeW(HKEY_LOCAL_MACHINE, tree.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, NarrowTreeWorksOnTheCallersHandle)
{
    std::wstring tree = std::wstring(kMachineScratch) + L"\\narrow";
    MakeDeepTree(HKEY_LOCAL_MACHINE, tree);
    MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\narrowneighbour");

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\zqtestreg\\narrow", &key), ERROR_SUCCESS);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(DeleteKeyTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\zqtestreg\\narrow", &key));
    EXPECT_EQ(key, nullptr);  // closed, reused for the parent and closed again
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, tree));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\narrowneighbour"));
}

TEST_F(RegistryTest, KeyDirectlyBelowRootIsEmptiedAndKept)
{
    MakeDeepTree(HKEY_CURRENT_USER, kDirect);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(DeleteKeyTreeW(HKEY_CURRENT_USER, kDirect));
    EXPECT_EQ(SubkeyCount(HKEY_CURRENT_USER, kDirect), 0);
    EXPECT_EQ(ValueCount(HKEY_CURRENT_USER, kDirect), 0);

    MakeDeepTree(HKEY_CURRENT_USER, kDirect);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "zqtestdirect", &key), ERROR_SUCCESS);
    EXPECT_TRUE(DeleteKeyTreeA(HKEY_CURRENT_USER, "zqtestdirect", &key));
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(SubkeyCount(HKEY_CURRENT_USER, kDirect), 0);
    EXPECT_EQ(ValueCount(HKEY_CURRENT_USER, kDirect), 0);
}

TEST_F(RegistryTest, RootItselfIsNeverEmptied)
{
    MakeKey(HKEY_CURRENT_USER, kSentinel, {{L"keep", L"1"}});
    for (const wchar_t* path : {L"", L"\\", L"\\\\"}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DeleteKeyTreeW(HKEY_CURRENT_USER, path));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, nullptr, &key), ERROR_SUCCESS);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteKeyTreeA(HKEY_CURRENT_USER, "", &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    RegCloseKey(key);
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, kSentinel, L"keep"));
}

TEST_F(RegistryTest, ChildPathBeyondTheBufferFailsInsteadOfActingOnItsCutForm)
{
    for (int depth = 1; depth <= 5; ++depth)
        MakeKey(HKEY_CURRENT_USER, ChainPath(depth), {{L"level", L"x"}});
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, ChainPath(5)))
        << "the prefix cannot hold a key path of " << ChainPath(5).size() << " characters";
    ASSERT_EQ(ChainPath(4).size(), 1023u);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteKeyTreeW(HKEY_CURRENT_USER, kChainBase));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, ChainPath(5), L"level"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, ChainPath(4), L"level"));

    // The narrow twin: Wine's narrow registry calls convert the path through a buffer of 260
    // characters and fail with ERROR_MORE_DATA beyond it, so a real chain cannot reach the
    // cut there. The twin forms child paths from the path it is given, so a short key with a
    // long path text shows the same: the cut is refused before anything is opened.
    std::wstring shortKey = std::wstring(kUserScratch) + L"\\cut";
    MakeKey(HKEY_CURRENT_USER, shortKey + L"\\child", {{L"v", L"1"}});
    std::string longText = Narrow(shortKey) + "\\" + std::string(1017 - shortKey.size(), 'x');
    ASSERT_EQ(longText.size(), 1018u);  // + "\\child" is 1024 characters
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyW(HKEY_CURRENT_USER, shortKey.c_str(), &key), ERROR_SUCCESS);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteKeyTreeA(HKEY_CURRENT_USER, longText.c_str(), &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_NE(key, nullptr);  // still open: the caller closes it
    RegCloseKey(key);
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, shortKey + L"\\child", L"v"));

    // Through the phase: the key exists, so it has its line, with the failure.
    zqCleanScript script;
    AddEntries(script.registry, {L"HKEY_CURRENT_USER\\" + std::wstring(kChainBase)});
    EXPECT_TRUE(RegistryPhase(script));
    std::vector<std::string> expected = {
        "[TS]\tDelete registry keys(1):",
        "K: HKEY_CURRENT_USER\\Software\\zqtestreg\\long...FAILED(Err:206)",
        "[TS]\t0 registry keys are deleted",
    };
    EXPECT_EQ(Log(), expected);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, ChainPath(5)));
}

TEST_F(RegistryTest, ListSubkeyNames)
{
    std::wstring list = std::wstring(kMachineScratch) + L"\\list";
    MakeKey(HKEY_LOCAL_MACHINE, list, {{L"value", L"not a key"}});
    char** names = reinterpret_cast<char**>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(ListSubkeyNamesA("SOFTWARE\\zqtestreg\\list", &names), 0);
    EXPECT_EQ(names, nullptr);
    names = reinterpret_cast<char**>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(ListSubkeyNamesA("SOFTWARE\\zqtestreg\\missing", &names), 0);
    EXPECT_EQ(names, nullptr);

    MakeKey(HKEY_LOCAL_MACHINE, list + L"\\Beta\\below");
    MakeKey(HKEY_LOCAL_MACHINE, list + L"\\alpha");
    MakeKey(HKEY_LOCAL_MACHINE, list + L"\\" + std::wstring(255, L'g'));  // longest name allowed
    ASSERT_EQ(ListSubkeyNamesA("SOFTWARE\\zqtestreg\\list", &names), 3);
    ASSERT_NE(names, nullptr);
    // Wine and Windows enumerate subkeys sorted by name, ignoring case.
    EXPECT_STREQ(names[0], "alpha");
    EXPECT_STREQ(names[1], "Beta");
    EXPECT_EQ(std::string(names[2]), std::string(255, 'g'));
    for (int i = 0; i < 3; ++i)
        free(names[i]);
    free(names);

    // A subkey with the longest name is removed with its parent, not skipped.
    EXPECT_TRUE(DeleteKeyTreeW(HKEY_LOCAL_MACHINE, list.c_str()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, list));
}

TEST_F(RegistryTest, PhaseRemovesKeysAndValuesAndPassesOverTheRest)
{
    std::wstring user = kUserScratch;
    std::wstring vals = user + L"\\vals";
    MakeDeepTree(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\deep");
    MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\abbrev", {{L"v", L"1"}});
    MakeKey(HKEY_CURRENT_USER, vals,
            {{L"gone", L"1"}, {L"", L"default"}, {L"a:b", L"2"}, {L"keep", L"3"}});
    MakeKey(HKEY_CURRENT_USER, user + L"\\blank");
    MakeKey(HKEY_CURRENT_USER, user + L"\\colon", {{L"key", L"1"}, {L"other", L"2"}});
    MakeKey(HKEY_CURRENT_USER, user + L"\\colon:key\\sub");
    MakeDeepTree(HKEY_CURRENT_USER, kDirect);
    MakeKey(HKEY_CURRENT_USER, kSentinel, {{L"keep", L"1"}});
    MakeDeepTree(HKEY_CLASSES_ROOT, kClassScratch);

    zqCleanScript script;
    AddEntries(script.registry, {
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
    });
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(RegistryPhase(script));

    std::vector<std::string> expected = {
        "[TS]\tDelete registry keys(16):",
        "K: hkey_local_machine\\SOFTWARE\\zqtestreg\\deep...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:gone...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\vals:a:b...OK",
        "K: HKEY_CURRENT_USER\\zqtestdirect...OK",
        "K: HKEY_CURRENT_USER\\...FAILED(Err:5)",
        "K: HKEY_LOCAL_MACHINE\\\\...FAILED(Err:5)",
        "K: HKEY_CLASSES_ROOT\\zqtestreg.ext...OK",
        "V: HKEY_CURRENT_USER\\Software\\zqtestreg\\colon:key...OK",
        "[TS]\t7 registry keys are deleted",
    };
    EXPECT_EQ(Log(), expected);

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\deep"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMachineScratch));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, std::wstring(kMachineScratch) + L"\\abbrev", L"v"));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, vals, L"gone"));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, vals, L""));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, vals, L"a:b"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, vals, L"keep"));
    EXPECT_EQ(ValueCount(HKEY_CURRENT_USER, vals), 1);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, user + L"\\blank"));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, user + L"\\colon", L"key"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, user + L"\\colon", L"other"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, user + L"\\colon:key\\sub"));
    EXPECT_EQ(SubkeyCount(HKEY_CURRENT_USER, kDirect), 0);
    EXPECT_EQ(ValueCount(HKEY_CURRENT_USER, kDirect), 0);
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, kSentinel, L"keep"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft"));
    // Directly below its root, so emptied and kept.
    EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT, kClassScratch), 0);
    EXPECT_EQ(ValueCount(HKEY_CLASSES_ROOT, kClassScratch), 0);
}

TEST_F(RegistryTest, StopRequestFinishesTheEntryInHandThenSummary)
{
    for (unsigned long state : {SERVICE_STOP_PENDING, SERVICE_STOPPED}) {
        DeleteFileW(logPath.c_str());
        std::wstring user = kUserScratch;
        MakeDeepTree(HKEY_CURRENT_USER, user + L"\\first");
        MakeDeepTree(HKEY_CURRENT_USER, user + L"\\second");
        zqCleanScript script;
        AddEntries(script.registry, {L"HKEY_CURRENT_USER\\Software\\zqtestreg\\first",
                                     L"HKEY_CURRENT_USER\\Software\\zqtestreg\\second"});
        ServiceCurrentState() = state;
        bool goesOn = RegistryPhase(script);
        ServiceCurrentState() = 0;
        EXPECT_FALSE(goesOn) << "state " << state;
        std::vector<std::string> expected = {
            "[TS]\tDelete registry keys(2):",
            "K: HKEY_CURRENT_USER\\Software\\zqtestreg\\first...OK",
            "[TS]\t1 registry keys are deleted",
        };
        EXPECT_EQ(Log(), expected) << "state " << state;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, user + L"\\first"));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, user + L"\\second\\one\\two\\three"));
        RemoveScratchKey(HKEY_CURRENT_USER, user);
    }
}

// The fixed setup registrations: keys below HKCR in removal order.
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
const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kUninstall32[] =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kModules[] = L"SOFTWARE\\Wow6432Node\\ZQ";

class SetupRegistrationTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        RemoveSetupKeys();
    }
    void TearDown() override
    {
        RemoveSetupKeys();
        RegistryTest::TearDown();
    }
    static void RemoveSetupKeys()
    {
        for (const wchar_t* top : {L"KDSetup", L".kds", L"KDSetupZ", L".zqz", L"KDSetup32",
                                   L".kds32", L"DERerurI32", L".zqz32"})
            RemoveScratchKey(HKEY_CLASSES_ROOT, top);
        for (const wchar_t* parent : {kUninstall, kUninstall32}) {
            for (const wchar_t* name : {L"\\ZQ", L"\\ZQ32", L"\\zqtestkeep"})
                RemoveScratchKey(HKEY_LOCAL_MACHINE, std::wstring(parent) + name);
        }
        RemoveScratchKey(HKEY_LOCAL_MACHINE, kModules);
    }
};

TEST_F(SetupRegistrationTest, RemovesTheTableAndKeepsAKeyWithAnExtraVerb)
{
    for (const wchar_t* key : kSetupClassKeys)
        MakeKey(HKEY_CLASSES_ROOT, key, {{L"", L"x"}});
    MakeKey(HKEY_CLASSES_ROOT, L"KDSetup\\shell\\print\\command", {{L"", L"print"}});
    std::vector<std::wstring> parents = {kUninstall};
#ifdef _WIN64
    parents.push_back(kUninstall32);
#endif
    for (const auto& parent : parents) {
        for (const wchar_t* name : {L"\\ZQ", L"\\ZQ32", L"\\zqtestkeep"})
            MakeKey(HKEY_LOCAL_MACHINE, parent + name, {{L"DisplayName", L"zq"}});
    }
    MakeKey(HKEY_LOCAL_MACHINE, kModules, {{L"Modules.x64", L"1"}, {L"Modules", L"2"}});

    RemoveSetupRegistration();

    std::vector<std::string> expected = {"[TS]\tUndelete setup...OK."};
    EXPECT_EQ(Log(), expected);
    for (const wchar_t* key : kSetupClassKeys) {
        std::wstring path = key;
        bool keptForPrint = path == L"KDSetup" || path == L"KDSetup\\shell";
        EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, path), keptForPrint) << Narrow(path);
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"KDSetup\\shell\\print\\command"));
    for (const auto& parent : parents) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, parent + L"\\ZQ")) << Narrow(parent);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, parent + L"\\ZQ32")) << Narrow(parent);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, parent + L"\\zqtestkeep")) << Narrow(parent);
    }
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kModules, L"Modules.x64"));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kModules, L"Modules"));

    // Again, with nothing left to remove: the same single line, nothing else changes.
    DeleteFileW(logPath.c_str());
    RemoveSetupRegistration();
    EXPECT_EQ(Log(), expected);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"KDSetup\\shell\\print\\command"));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kModules, L"Modules"));
}

}  // namespace
