// The cleaning script: the reader, path expansion and the prepared copy.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "script/CleanScript.h"
#include "script/ExpandPath.h"
#include "script/PrepareScript.h"
#include "tests/support/TestSupport.h"

namespace {

using Texts = std::vector<std::wstring>;

Texts Entries(const zqList<zqWString>& list)
{
    Texts out;
    for (int i = 0; i < list.count; ++i)
        out.push_back(list.At(i)->Get());
    return out;
}

// Reads a script file, as the run reads the prepared copy, into model.
void ReadScriptFile(zqCleanScript& model, const std::wstring& path)
{
    FILE* stream = _wfopen(path.c_str(), L"rt");
    ASSERT_NE(stream, nullptr);
    model.Read(stream);
    fclose(stream);
}

std::string SystemRootA()
{
    char value[MAX_PATH] = {};
    GetEnvironmentVariableA("SystemRoot", value, sizeof value);
    return value;
}

const std::string kLong1(2047, 'x');
const std::string kLong2(953, 'y');

}  // namespace

TEST(ExpandPath, EnvironmentAndSeparators)
{
    std::wstring root = Widen(SystemRootA());
    ASSERT_FALSE(root.empty());
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZQ_SCRIPT_TEST", L"C:/zq//dir/"));
    struct { const wchar_t *path; std::wstring expected; } cases[] = {
        {L"%SystemRoot%//system32", root + L"\\system32"},
        {L"%ZQ_SCRIPT_TEST%/sub", L"C:\\zq\\dir\\sub"},  // the expanded text is normalised too
        {L"%ZQ_UNDEFINED_TEST%\\x", L"%ZQ_UNDEFINED_TEST%\\x"},
        {L"\\\\\\\\server", L"\\\\server"},
        {L"C:\\\\name", L"C:\\name"},
        {L"/\\/x", L"\\\\x"},  // each step looks ahead in the text as it was before it
        {L"", L""},
        {L"a...b", L"a..b"},
        {L"a....b", L"a..b"},
        {L"a..b", L"a..b"},
        {L".....", L".."},
        {L"C:\\a...\\\\...b", L"C:\\a..\\..b"},
    };
    for (const auto& c : cases) {
        wchar_t* result = nullptr;
        SetLastError(0xdeadbeef);
        ASSERT_TRUE(ExpandPathW(c.path, &result)) << GetLastError();
        EXPECT_EQ(std::wstring(result), c.expected) << c.path;
        free(result);
    }
    SetEnvironmentVariableW(L"ZQ_SCRIPT_TEST", nullptr);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ExpandPathW(L"x", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Reader, SectionsEntriesAndLineRules)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\reader.ini";
    WriteFileBytes(path,
                   "before.sys\r\n[FILES]\r\na.sys   \t\r\n  lead.sys\r\n;comment.sys\r\n"
                   " [files]\r\n[files] x\r\n[drvpackages\r\ncaf\xe9.sys \x85\xff\r\n\r\n   \t\r\n"
                   "[unknown]\r\nignored.sys\r\n"
                   "[Folders]\r\nC://Temp//x=1\r\n\\\\server\\share//dir\r\nC:\\a...b\\c....d\r\n"
                   "%SystemRoot%\\x=0=1\r\n"
                   "[files]\r\n" + kLong1 + kLong2 + "\r\nlast.sys\r\n"
                   "[registry]\r\nHKEY_CURRENT_USER\\Software\\Example:LastRun\r\n"
                   "[devices]\r\nROOT\\EXAMPLE\r\n[EXFOLDERS]\r\n%SystemRoot%//y\r\n"
                   "[drivers]\r\nexamplefilt = x\r\n[infs]\r\nExample Inc\r\n"
                   "[maskedfiles]\r\nexample*.dll\r\n[DrvPackages]\r\nexample\r\n"
                   "[.NET]\r\nExample.Assembly\r\n[.net]\r\nSecond.Assembly\r\n"
                   "[general]\r\nexcludefolders=1\r\n");

    zqCleanScript model;
    ReadScriptFile(model, path);
    EXPECT_EQ(Entries(model.files),
              (Texts{L"a.sys", L"  lead.sys", L";comment.sys", L" [files]", L"[files] x",
                     L"[drvpackages", L"caf\xe9.sys", Widen(kLong1), Widen(kLong2), L"last.sys"}));
    EXPECT_EQ(Entries(model.folders),
              (Texts{L"C:\\Temp\\x", L"\\\\server\\share\\dir", L"C:\\a..b\\c..d",
                     Widen(SystemRootA()) + L"\\x"}));
    EXPECT_EQ(Entries(model.registry), Texts{L"HKEY_CURRENT_USER\\Software\\Example:LastRun"});
    EXPECT_EQ(Entries(model.devices), Texts{L"ROOT\\EXAMPLE"});
    // Only the preparation expands [exfolders]; the reader stores them as they stand.
    EXPECT_EQ(Entries(model.exFolders), Texts{L"%SystemRoot%//y"});
    EXPECT_EQ(Entries(model.drivers), Texts{L"examplefilt = x"});
    EXPECT_EQ(Entries(model.infs), Texts{L"Example Inc"});
    EXPECT_EQ(Entries(model.maskedFiles), Texts{L"example*.dll"});
    EXPECT_EQ(Entries(model.drvPackages), Texts{L"example"});
    EXPECT_EQ(Entries(model.dotNet), (Texts{L"Example.Assembly", L"Second.Assembly"}));
    EXPECT_TRUE(model.excludeFolders);

    // Clear empties every list and keeps the flag.
    model.Clear();
    EXPECT_EQ(model.files.count + model.folders.count + model.dotNet.count + model.files.capacity, 0);
    EXPECT_TRUE(model.excludeFolders);
    RemoveTree(dir);
}

TEST(Reader, GeneralExcludeFolders)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\general.ini";
    struct { const char* lines; bool expected; } cases[] = {
        {"excludefolders=1", true},
        {"EXCLUDEFOLDERS=1 trailing", true},
        {"excludefolders:1", true},  // the separator is not examined
        {"excludefolders=0", false},
        {"excludefolders", false},
        {"excludefolders =1", false},
        {"excludefolder=1", false},
        {" excludefolders=1", false},
        {"excludefolders=1\r\nexcludefolders=0", false},
        {"excludefolders=1\r\nother=0\r\n[files]\r\nexcludefolders=0", true},
    };
    for (const auto& c : cases) {
        WriteFileBytes(path, std::string("[general]\r\n") + c.lines + "\r\n");
        zqCleanScript model;
        ReadScriptFile(model, path);
        EXPECT_EQ(model.excludeFolders, c.expected) << c.lines;
    }
    RemoveTree(dir);
}

TEST(PrepareScript, CopyIsTrimmedAndFoldersExpanded)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\zqclean.ini";
    std::wstring copyPath = path + L".srvc";
    std::string script = "stray line  \r\n[General]\r\nexcludefolders=1 \t\r\n\r\n   \t \r\n"
                         "[Folders]\r\n%SystemRoot%//x\\\\y=1\r\n  C:/lead\r\n"
                         "[exfolders]\r\n%SystemRoot%\\x\r\nC:\\a...b\r\n"
                         "[files]\r\n%SystemRoot%\\x\r\nname.sys \x85\xff\r\n [folders]\r\n"
                         "[mystery]\r\nkept below unknown\r\n" + kLong1 + kLong2 + "\r\n"
                         "[drivers]\r\ntail";
    WriteFileBytes(path, script);

    std::string root = SystemRootA();
    // Text mode: every line of the copy ends in CR LF.
    std::string expected = "stray line\r\n\r\n[General]\r\nexcludefolders=1\r\n"
                           "\r\n[Folders]\r\n" + root + "\\x\\y=1\r\n  C:\\lead\r\n"
                           "\r\n[exfolders]\r\n" + root + "\\x\r\nC:\\a..b\r\n"
                           "\r\n[files]\r\n%SystemRoot%\\x\r\nname.sys\r\n [folders]\r\n"
                           "\r\n[mystery]\r\nkept below unknown\r\n" + kLong1 + "\r\n" + kLong2 + "\r\n"
                           "\r\n[drivers]\r\ntail\r\n";
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(PrepareScript(path.c_str()));
    EXPECT_EQ(ReadFileBytes(copyPath), expected);
    EXPECT_EQ(ReadFileBytes(path), script);
    // A second preparation rewrites the copy from the start and gives the same bytes.
    EXPECT_TRUE(PrepareScript(path.c_str()));
    EXPECT_EQ(ReadFileBytes(copyPath), expected);

    // What the service reads from the copy: [folders] cut at '=', [exfolders] expanded here.
    zqCleanScript model;
    ReadScriptFile(model, copyPath);
    std::wstring wideRoot = Widen(root);
    EXPECT_EQ(Entries(model.folders), (Texts{wideRoot + L"\\x\\y", L"  C:\\lead"}));
    EXPECT_EQ(Entries(model.exFolders), (Texts{wideRoot + L"\\x", L"C:\\a..b"}));
    EXPECT_EQ(Entries(model.files), (Texts{L"%SystemRoot%\\x", L"name.sys", L" [folders]"}));
    EXPECT_TRUE(model.excludeFolders);
    RemoveTree(dir);
}

TEST(PrepareScript, MissingScriptAndUnwritableCopy)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\missing.ini";
    // A copy left from an earlier launch must not survive for the service to read.
    WriteFileBytes(path + L".srvc", "[files]\r\nstale.sys\r\n");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PrepareScript(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(PathExists(path + L".srvc"));
    EXPECT_EQ(ReadFileBytes(path + L".srvc"), "");

    // The copy cannot be created: its name is taken by a folder.
    std::wstring blocked = dir + L"\\blocked.ini";
    WriteFileBytes(blocked, "[files]\r\na.sys\r\n");
    ASSERT_TRUE(CreateDirectoryW((blocked + L".srvc").c_str(), nullptr));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PrepareScript(blocked.c_str()));
    EXPECT_NE(GetLastError(), 0xdeadbeefu);
    RemoveTree(dir);
}

TEST(PrepareScript, PathWithoutRoomForTheSuffixIsRefused)
{
    std::wstring dir = MakeScratchDir(L"script"), prefix = dir + L"\\";
    // 254 characters: the copy's name has 259 and fits; a header first gives an empty line first.
    std::wstring fits = prefix + std::wstring(254 - prefix.size() - 4, L'f') + L".ini";
    WriteFileBytes(fits, "[files]\r\na.sys\r\n");
    ASSERT_TRUE(PathExists(fits));
    EXPECT_TRUE(PrepareScript(fits.c_str()));
    EXPECT_EQ(ReadFileBytes(fits + L".srvc"), "\r\n[files]\r\na.sys\r\n");

    // 255 characters: cutting would write "<script>.srv", a file nobody reads; nothing is written.
    std::wstring tooLong = prefix + std::wstring(255 - prefix.size() - 4, L'g') + L".ini";
    WriteFileBytes(tooLong, "[files]\r\na.sys\r\n");
    ASSERT_TRUE(PathExists(tooLong));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PrepareScript(tooLong.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(PathExists(tooLong + L".srv"));
    RemoveTree(dir);
}
