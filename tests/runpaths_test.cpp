// The path environment of a run, the target list expansion, the masked files and the
// folders that are never deleted.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "engine/SystemPaths.h"
#include "engine/TargetExpansion.h"
#include "script/CleanScript.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TestSupport.h"

namespace {

std::vector<std::wstring> Texts(const zqList<zqWString>& list)
{
    std::vector<std::wstring> texts;
    for (int i = 0; i < list.count; ++i)
        texts.push_back(list.At(i)->Get());
    return texts;
}

void Add(zqList<zqWString>& list, const wchar_t* text)
{
    zqWString entry;
    entry.Assign(text);
    list.Append(entry);
}

std::wstring Expanded(const wchar_t* text)
{
    wchar_t buffer[1024];
    ExpandEnvironmentStringsW(text, buffer, 1024);
    return buffer;
}

}  // namespace

TEST(SystemPaths, PathSeedFirstSpellingWinsThenDriversEntry)
{
    ScopedPath path(L"C:\\zqtest\\runpaths\\A;c:\\ZQTEST\\runpaths\\a;%SystemRoot%\\system32;;"
                    L"C:/zqtest//runpaths/B;C:\\zqtest\\runpaths\\A");
    zqCleanScript script;
    SystemPaths paths;
    InitSystemPaths(paths, script);
    std::wstring windows = Expanded(L"%SystemRoot%");
    std::vector<std::wstring> want = {L"C:\\zqtest\\runpaths\\A", windows + L"\\system32",
                                      L"C:\\zqtest\\runpaths\\B",
                                      L";" + windows + L"\\system32\\drivers\\;"};
    EXPECT_EQ(Texts(script.searchDirs), want);
#ifdef _WIN64
    EXPECT_FALSE(paths.isWow64);
    ASSERT_NE(paths.system32Dir, nullptr);
    EXPECT_STREQ(paths.system32Dir, (windows + L"\\system32").c_str());
    EXPECT_STREQ(paths.sysWow64Dir, (windows + L"\\SysWOW64").c_str());
    EXPECT_STREQ(paths.programFilesDir, Expanded(L"%ProgramFiles%").c_str());
    EXPECT_STREQ(paths.programFilesX86Dir, Expanded(L"%ProgramFiles(x86)%").c_str());
    EXPECT_STREQ(paths.programFilesDir, L"C:\\Program Files");  // Wine's layout
    EXPECT_STREQ(paths.programFilesX86Dir, L"C:\\Program Files (x86)");
#else
    // The test prefix is a 64-bit one: the 32-bit build runs under WOW64 there.
    EXPECT_TRUE(paths.isWow64);
#endif
    FreeSystemPaths(paths);
    EXPECT_FALSE(paths.isWow64);
}

TEST(SystemPaths, NoPathMeansNoSearchDirsAtAll)
{
    ScopedPath path(nullptr);
    zqCleanScript script;
    SystemPaths paths;
    InitSystemPaths(paths, script);
    EXPECT_EQ(script.searchDirs.count, 0);
    FreeSystemPaths(paths);
}

#ifdef _WIN64
TEST(TargetExpansion, TwinPathByPrefixOnly)
{
    ScopedPath path(L"C:\\zqtest");
    zqCleanScript script;
    SystemPaths paths;
    InitSystemPaths(paths, script);
    wchar_t twin[260];
    std::wstring windows = Expanded(L"%SystemRoot%");

    ASSERT_TRUE(TwinPath(paths, (windows + L"\\System32\\zq").c_str(), twin));
    EXPECT_STREQ(twin, (windows + L"\\SysWOW64\\zq").c_str());
    ASSERT_TRUE(TwinPath(paths, L"c:\\PROGRAM FILES\\Zq Tool", twin));
    EXPECT_STREQ(twin, L"C:\\Program Files (x86)\\Zq Tool");
    // Only the prefix's characters count: "system32extra" and the x86 folder itself match too.
    ASSERT_TRUE(TwinPath(paths, (windows + L"\\system32extra").c_str(), twin));
    EXPECT_STREQ(twin, (windows + L"\\SysWOW64extra").c_str());
    ASSERT_TRUE(TwinPath(paths, L"C:\\Program Files (x86)\\Zq", twin));
    EXPECT_STREQ(twin, L"C:\\Program Files (x86) (x86)\\Zq");

    EXPECT_FALSE(TwinPath(paths, L"C:\\zqtest\\x", twin));
    EXPECT_STREQ(twin, L"");
    EXPECT_FALSE(TwinPath(paths, L"C:\\Program", twin));
    // A twin that does not fit 259 characters is left out rather than cut.
    std::wstring fits = L"C:\\Program Files\\" + std::wstring(259 - 23, L'x');
    ASSERT_TRUE(TwinPath(paths, fits.c_str(), twin));
    EXPECT_EQ(wcslen(twin), 259u);
    std::wstring tooLong = fits + L"y";
    EXPECT_FALSE(TwinPath(paths, tooLong.c_str(), twin));
    FreeSystemPaths(paths);
}
#endif

TEST(TargetExpansion, ListsInTheirOrderWithTwins)
{
    ScopedPath path(L"%SystemRoot%\\system32");
    zqCleanScript script;
    SystemPaths paths;
    InitSystemPaths(paths, script);
    std::wstring s32 = Expanded(L"%SystemRoot%\\system32");
    std::wstring drivers = L";" + Expanded(L"%SystemRoot%") + L"\\system32\\drivers\\;";
    Add(script.exFolders, L"C:\\zqtest\\E1");
    Add(script.exFolders, L"");
    Add(script.exFolders, L"C:\\zqtest\\E1");
    Add(script.folders, L"C:\\Program Files\\a");
    Add(script.folders, L"c:\\program files\\A");
    Add(script.folders, L"");
    Add(script.folders, (s32 + L"\\b").c_str());
    Add(script.folders, L"C:\\zqtest\\E1");

    ExpandTargetLists(script, paths);

#ifdef _WIN64
    std::wstring wow = Expanded(L"%SystemRoot%\\SysWOW64");
    std::vector<std::wstring> wantFolders = {
        L"C:\\Program Files\\a", L"c:\\program files\\A", L"", s32 + L"\\b", L"C:\\zqtest\\E1",
        L"C:\\Program Files (x86)\\a", L"C:\\Program Files (x86)\\A", wow + L"\\b"};
    std::vector<std::wstring> wantSearch = {
        s32, drivers, L"C:\\zqtest\\E1", L"C:\\Program Files\\a", L"c:\\program files\\A",
        s32 + L"\\b", L"C:\\Program Files (x86)\\a", L"C:\\Program Files (x86)\\A", wow + L"\\b",
        // twins of the search directories not yet present, the folder twins' own twins included
        wow, L"C:\\Program Files (x86) (x86)\\a", L"C:\\Program Files (x86) (x86)\\A"};
    EXPECT_EQ(script.wowTwins.count, 0);
#else
    std::vector<std::wstring> wantFolders = {L"C:\\Program Files\\a", L"c:\\program files\\A", L"",
                                             s32 + L"\\b", L"C:\\zqtest\\E1"};
    std::vector<std::wstring> wantSearch = {s32, drivers, L"C:\\zqtest\\E1", L"C:\\Program Files\\a",
                                            L"c:\\program files\\A", s32 + L"\\b"};
#endif
    EXPECT_EQ(Texts(script.folders), wantFolders);
    EXPECT_EQ(Texts(script.searchDirs), wantSearch);
    FreeSystemPaths(paths);
}

TEST(TargetExpansion, MasksAgainstEachSearchDirectory)
{
    std::wstring dir = MakeScratchDir(L"runmasks");
    std::wstring sub = dir + L"\\sub";
    CreateDirectoryW(sub.c_str(), nullptr);
    for (const wchar_t* name : {L"apple.txt", L"b", L"Cat.TXT", L"dog", L"zz.dat"})
        WriteFileBytes(dir + L"\\" + name, "x");
    WriteFileBytes(sub + L"\\bee", "x");  // depth 0: never listed
    ServiceCurrentState() = SERVICE_RUNNING;

    zqCleanScript script;
    Add(script.files, L"first.txt");
    Add(script.searchDirs, dir.c_str());
    Add(script.searchDirs, L";C:\\windows\\system32\\drivers\\;");  // names no directory to list
    Add(script.searchDirs, L"C:\\zqtest\\runmasks-none");
    for (const wchar_t* mask : {L"*.*", L"*.", L"[a-c]*", L"?"})
        Add(script.maskedFiles, mask);

    ASSERT_TRUE(ExpandMaskedFiles(script));
    std::vector<std::wstring> files = Texts(script.files);
    ASSERT_EQ(files.size(), 1u + 5 + 2 + 3);
    EXPECT_EQ(files[0], L"first.txt");
    // The listing order is the file system's; within one mask the matches are compared as sets.
    auto group = [&](size_t from, size_t count) {
        std::vector<std::wstring> part(files.begin() + from, files.begin() + from + count);
        std::sort(part.begin(), part.end());
        return part;
    };
    auto full = [&](std::vector<std::wstring> names) {
        for (auto& name : names)
            name = dir + L"\\" + name;
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(group(1, 5), full({L"apple.txt", L"b", L"Cat.TXT", L"dog", L"zz.dat"}));
    EXPECT_EQ(group(6, 2), full({L"b", L"dog"}));
    EXPECT_EQ(group(8, 3), full({L"apple.txt", L"b", L"Cat.TXT"}));
    // "?" matches nothing: a name without a dot is matched with one appended.
    RemoveTree(dir);
}

TEST(TargetExpansion, MaskExpansionEndsAtAStopRequest)
{
    std::wstring dir = MakeScratchDir(L"runmasks");
    WriteFileBytes(dir + L"\\a.txt", "x");
    zqCleanScript script;
    Add(script.searchDirs, dir.c_str());
    Add(script.maskedFiles, L"*.txt");
    ServiceCurrentState() = SERVICE_STOP_PENDING;
    EXPECT_FALSE(ExpandMaskedFiles(script));
    EXPECT_EQ(script.files.count, 0);  // polled before the first directory
    ServiceCurrentState() = SERVICE_STOPPED;
    EXPECT_FALSE(ExpandMaskedFiles(script));
    ServiceCurrentState() = SERVICE_RUNNING;
    EXPECT_TRUE(ExpandMaskedFiles(script));
    EXPECT_EQ(script.files.count, 1);
    RemoveTree(dir);
}

TEST(FolderGuard, RootsAndTheWindowsFolder)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring upper = windows;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    for (const std::wstring& path :
         {std::wstring(L"C:"), std::wstring(L"C:\\"), std::wstring(L"d:\\\\"), std::wstring(L"\\"),
          std::wstring(L"\\\\server"), std::wstring(L"\\\\server\\share"),
          std::wstring(L"\\\\server\\share\\"), std::wstring(L"\\\\?\\C:\\"),
          std::wstring(L"\\\\?\\UNC\\server\\share"), std::wstring(windows), upper + L"\\",
          std::wstring(windows) + L"\\\\"})
        EXPECT_TRUE(IsProtectedFolder(path.c_str())) << Narrow(path);
    for (const std::wstring& path :
         {std::wstring(L""), std::wstring(L"C:\\zqtest"), std::wstring(L"C:x"),
          std::wstring(L"\\\\server\\share\\sub"), std::wstring(L"\\\\?\\C:\\x"),
          std::wstring(windows) + L"\\system32", std::wstring(windows) + L"x"})
        EXPECT_FALSE(IsProtectedFolder(path.c_str())) << Narrow(path);
}
