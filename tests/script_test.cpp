// The cleaning script: line rules, the reader, path expansion and the prepared copy.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "script/CleanScript.h"
#include "script/ExpandPath.h"
#include "script/LineRules.h"
#include "script/PrepareScript.h"
#include "tests/support/TestSupport.h"

namespace {

std::vector<std::wstring> Entries(const zqList<zqWString>& list)
{
    std::vector<std::wstring> out;
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

std::string EnvA(const char* name)
{
    char value[1024] = {};
    GetEnvironmentVariableA(name, value, sizeof value);
    return value;
}

std::wstring ExpandW(const wchar_t* path)
{
    wchar_t* result = nullptr;
    SetLastError(0xdeadbeef);
    bool ok = ExpandPathW(path, &result);
    EXPECT_TRUE(ok) << GetLastError();
    std::wstring text = result != nullptr ? result : L"<null>";
    free(result);
    return text;
}

const std::string kLong1(2047, 'x');
const std::string kLong2(953, 'y');

}  // namespace

TEST(LineRules, TrimClassifyAndMatchHeaders)
{
    char line[kScriptLineBufferSize] = "name.sys \t\r\n\x85\xff";
    EXPECT_EQ(TrimScriptLine(line, 15), 8);
    EXPECT_STREQ(line, "name.sys");
    char blanks[] = " \t\x01\x80";
    EXPECT_EQ(TrimScriptLine(blanks, 4), 0);
    char lead[] = "  a";
    EXPECT_EQ(TrimScriptLine(lead, 3), 3);

    EXPECT_TRUE(IsHeaderLine("[x]", 3));
    EXPECT_TRUE(IsHeaderLine("[]", 2));
    EXPECT_FALSE(IsHeaderLine("[", 1));
    EXPECT_FALSE(IsHeaderLine(" [files]", 8));
    EXPECT_FALSE(IsHeaderLine("[files] x", 9));
    EXPECT_FALSE(IsHeaderLine("", 0));

    EXPECT_EQ(SectionFromHeader("[general]"), SectionGeneral);
    EXPECT_EQ(SectionFromHeader("[FOLDERS]"), SectionFolders);
    EXPECT_EQ(SectionFromHeader("[Files]"), SectionFiles);
    EXPECT_EQ(SectionFromHeader("[devices]"), SectionDevices);
    EXPECT_EQ(SectionFromHeader("[ExFolders]"), SectionExFolders);
    EXPECT_EQ(SectionFromHeader("[drivers]"), SectionDrivers);
    EXPECT_EQ(SectionFromHeader("[INFS]"), SectionInfs);
    EXPECT_EQ(SectionFromHeader("[registry]"), SectionRegistry);
    EXPECT_EQ(SectionFromHeader("[maskedFiles]"), SectionMaskedFiles);
    EXPECT_EQ(SectionFromHeader("[drvpackages]"), SectionDrvPackages);
    EXPECT_EQ(SectionFromHeader("[.net]"), SectionDotNet);
    EXPECT_EQ(SectionFromHeader("[file]"), SectionNone);
    EXPECT_EQ(SectionFromHeader("[files ]"), SectionNone);
    EXPECT_EQ(SectionFromHeader("[folders][files]"), SectionNone);
}

TEST(LineRules, LongLineArrivesInPieces)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\pieces.txt";
    WriteFileBytes(path, kLong1 + kLong2 + " \r\n\r\nlast");
    FILE* stream = _wfopen(path.c_str(), L"rt");
    ASSERT_NE(stream, nullptr);
    char line[kScriptLineBufferSize];
    int length = -1;
    ASSERT_TRUE(ReadScriptLine(stream, line, &length));
    EXPECT_EQ(length, 2047);
    EXPECT_EQ(std::string(line), kLong1);
    ASSERT_TRUE(ReadScriptLine(stream, line, &length));
    EXPECT_EQ(std::string(line), kLong2);
    ASSERT_TRUE(ReadScriptLine(stream, line, &length));
    EXPECT_EQ(length, 0);
    ASSERT_TRUE(ReadScriptLine(stream, line, &length));
    EXPECT_STREQ(line, "last");  // no line end at the end of the file
    EXPECT_FALSE(ReadScriptLine(stream, line, &length));
    fclose(stream);
    RemoveTree(dir);
}

TEST(ExpandPath, EnvironmentAndSeparators)
{
    std::wstring root = Widen(EnvA("SystemRoot"));
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(ExpandW(L"%SystemRoot%//system32"), root + L"\\system32");

    // Normalisation applies to the expanded text as well.
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZQ_SCRIPT_TEST", L"C:/zq//dir/"));
    EXPECT_EQ(ExpandW(L"%ZQ_SCRIPT_TEST%/sub"), L"C:\\zq\\dir\\sub");
    SetEnvironmentVariableW(L"ZQ_SCRIPT_TEST", nullptr);
    EXPECT_EQ(ExpandW(L"%ZQ_SCRIPT_TEST%\\x"), L"%ZQ_SCRIPT_TEST%\\x");

    EXPECT_EQ(ExpandW(L"\\\\\\\\server"), L"\\\\server");
    EXPECT_EQ(ExpandW(L"\\\\server\\\\share"), L"\\\\server\\share");
    EXPECT_EQ(ExpandW(L"C:\\\\name"), L"C:\\name");
    EXPECT_EQ(ExpandW(L"C:\\\\\\name\\\\"), L"C:\\name\\");
    // Each step looks ahead in the text as it was: '/' then '\' at the start stays doubled.
    EXPECT_EQ(ExpandW(L"/\\/x"), L"\\\\x");
    EXPECT_EQ(ExpandW(L"\\x"), L"\\x");
    EXPECT_EQ(ExpandW(L""), L"");

    EXPECT_EQ(ExpandW(L"a...b"), L"a..b");
    EXPECT_EQ(ExpandW(L"a....b"), L"a..b");
    EXPECT_EQ(ExpandW(L"a..b"), L"a..b");
    EXPECT_EQ(ExpandW(L"a.b."), L"a.b.");
    EXPECT_EQ(ExpandW(L"....."), L"..");
    EXPECT_EQ(ExpandW(L"C:\\a...\\\\...b"), L"C:\\a..\\..b");

    char* narrow = nullptr;
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(ExpandPathA("%SystemRoot%//a...b", &narrow));
    EXPECT_EQ(std::string(narrow), EnvA("SystemRoot") + "\\a..b");
    free(narrow);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ExpandPathW(L"x", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ExpandPathA("x", nullptr));
}

TEST(Reader, SectionsEntriesAndLineRules)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\reader.ini";
    std::string script =
        "before.sys\r\n"
        "[FILES]\r\n"
        "a.sys   \t\r\n"
        "  lead.sys\r\n"
        ";comment.sys\r\n"
        " [files]\r\n"
        "[files] x\r\n"
        "[drvpackages\r\n"
        "caf\xe9.sys \x85\xff\r\n"
        "\r\n"
        "   \t\r\n"
        "[unknown]\r\n"
        "ignored.sys\r\n"
        "[Folders]\r\n"
        "C://Temp//x=1\r\n"
        "\\\\server\\share//dir\r\n"
        "C:\\a...b\\c....d\r\n"
        "%SystemRoot%\\x=0=1\r\n"
        "[files]\r\n" +
        kLong1 + kLong2 + "\r\n"
        "last.sys\r\n"
        "[registry]\r\n"
        "HKEY_CURRENT_USER\\Software\\Example:LastRun\r\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Example Tools\r\n"
        "[devices]\r\nROOT\\EXAMPLE\r\n"
        "[EXFOLDERS]\r\n%SystemRoot%//y\r\n"
        "[drivers]\r\nexamplefilt = x\r\n"
        "[infs]\r\nExample Inc\r\n"
        "[maskedfiles]\r\nexample*.dll\r\n"
        "[DrvPackages]\r\nexample\r\n"
        "[.NET]\r\nExample.Assembly\r\n"
        "[.net]\r\nSecond.Assembly\r\n"
        "[general]\r\nexcludefolders=1\r\n";
    WriteFileBytes(path, script);

    zqCleanScript model;
    ReadScriptFile(model, path);

    std::wstring root = Widen(EnvA("SystemRoot"));
    EXPECT_EQ(Entries(model.files),
              (std::vector<std::wstring>{L"a.sys", L"  lead.sys", L";comment.sys", L" [files]",
                                         L"[files] x", L"[drvpackages", L"caf\xe9.sys",
                                         Widen(kLong1), Widen(kLong2), L"last.sys"}));
    EXPECT_EQ(Entries(model.folders),
              (std::vector<std::wstring>{L"C:\\Temp\\x", L"\\\\server\\share\\dir", L"C:\\a..b\\c..d",
                                         root + L"\\x"}));
    EXPECT_EQ(Entries(model.registry),
              (std::vector<std::wstring>{L"HKEY_CURRENT_USER\\Software\\Example:LastRun",
                                         L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Example Tools"}));
    EXPECT_EQ(Entries(model.devices), std::vector<std::wstring>{L"ROOT\\EXAMPLE"});
    // Only the preparation expands [exfolders]; the reader stores them as they stand.
    EXPECT_EQ(Entries(model.exFolders), std::vector<std::wstring>{L"%SystemRoot%//y"});
    EXPECT_EQ(Entries(model.drivers), std::vector<std::wstring>{L"examplefilt = x"});
    EXPECT_EQ(Entries(model.infs), std::vector<std::wstring>{L"Example Inc"});
    EXPECT_EQ(Entries(model.maskedFiles), std::vector<std::wstring>{L"example*.dll"});
    EXPECT_EQ(Entries(model.drvPackages), std::vector<std::wstring>{L"example"});
    EXPECT_EQ(Entries(model.dotNet),
              (std::vector<std::wstring>{L"Example.Assembly", L"Second.Assembly"}));
    EXPECT_TRUE(model.excludeFolders);
    EXPECT_EQ(model.searchDirs.count, 0);
    EXPECT_EQ(model.deviceKeys.count, 0);

    // Reading again appends; Clear empties every list and keeps the flag.
    ReadScriptFile(model, path);
    EXPECT_EQ(model.files.count, 20);
    EXPECT_EQ(model.folders.count, 8);
    EXPECT_EQ(Entries(model.folders)[4], L"C:\\Temp\\x");
    model.Clear();
    EXPECT_EQ(model.files.count, 0);
    EXPECT_EQ(model.folders.count, 0);
    EXPECT_EQ(model.dotNet.count, 0);
    EXPECT_EQ(model.files.capacity, 0);
    EXPECT_TRUE(model.excludeFolders);
    ReadScriptFile(model, path);
    EXPECT_EQ(model.files.count, 10);
    RemoveTree(dir);
}

TEST(Reader, GeneralExcludeFolders)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\general.ini";
    struct Case {
        const char* lines;
        bool expected;
    } cases[] = {
        {"excludefolders=1", true},
        {"EXCLUDEFOLDERS=1", true},
        {"ExcludeFolders=1 trailing", true},
        {"excludefolders:1", true},  // the separator is not examined
        {"excludefolders=0", false},
        {"excludefolders=2", false},
        {"excludefolders", false},
        {"excludefolders=", false},
        {"excludefolders =1", false},
        {"excludefolder=1", false},
        {" excludefolders=1", false},
        {"excludefolders=1\r\nexcludefolders=0", false},
        {"excludefolders=0\r\nexcludefolders=1", true},
        {"excludefolders=1\r\nother=0\r\n[files]\r\nexcludefolders=0", true},
        {"excludefolders=1\r\n[general]\r\nsomething", true},
    };
    for (const Case& c : cases) {
        WriteFileBytes(path, std::string("[general]\r\n") + c.lines + "\r\n");
        zqCleanScript model;
        ReadScriptFile(model, path);
        EXPECT_EQ(model.excludeFolders, c.expected) << c.lines;
    }

    // A flag set by an earlier read stays until a line says otherwise.
    zqCleanScript model;
    WriteFileBytes(path, "[general]\r\nexcludefolders=1\r\n");
    ReadScriptFile(model, path);
    WriteFileBytes(path, "[general]\r\nother=1\r\n[files]\r\nf\r\n");
    ReadScriptFile(model, path);
    EXPECT_TRUE(model.excludeFolders);
    EXPECT_EQ(model.files.count, 1);
    RemoveTree(dir);
}

TEST(PrepareScript, CopyIsTrimmedAndFoldersExpanded)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\zqclean.ini";
    std::wstring copyPath = path + L".srvc";
    std::string script =
        "stray line  \r\n"
        "[General]\r\n"
        "excludefolders=1 \t\r\n"
        "\r\n"
        "   \t \r\n"
        "[Folders]\r\n"
        "%SystemRoot%//x\\\\y=1\r\n"
        "  C:/lead\r\n"
        "[exfolders]\r\n"
        "%SystemRoot%\\x\r\n"
        "C:\\a...b\r\n"
        "[files]\r\n"
        "%SystemRoot%\\x\r\n"
        "name.sys \x85\xff\r\n"
        " [folders]\r\n"
        "[mystery]\r\n"
        "kept below unknown\r\n" +
        kLong1 + kLong2 + "\r\n"
        "[drivers]\r\n"
        "tail";
    WriteFileBytes(path, script);

    std::string root = EnvA("SystemRoot");
    // The copy is written in text mode: every line ends in CR LF.
    std::string expected =
        "stray line\r\n"
        "\r\n[General]\r\n"
        "excludefolders=1\r\n"
        "\r\n[Folders]\r\n" +
        root + "\\x\\y=1\r\n"
        "  C:\\lead\r\n"
        "\r\n[exfolders]\r\n" +
        root + "\\x\r\n"
        "C:\\a..b\r\n"
        "\r\n[files]\r\n"
        "%SystemRoot%\\x\r\n"
        "name.sys\r\n"
        " [folders]\r\n"
        "\r\n[mystery]\r\n"
        "kept below unknown\r\n" +
        kLong1 + "\r\n" + kLong2 + "\r\n"
        "\r\n[drivers]\r\n"
        "tail\r\n";

    SetLastError(0xdeadbeef);
    EXPECT_TRUE(PrepareScript(path.c_str()));
    std::string copy = ReadFileBytes(copyPath);
    EXPECT_EQ(copy, expected);
    EXPECT_EQ(ReadFileBytes(path), script);  // the script itself is left alone

    // A second preparation rewrites the copy from the start and gives the same bytes.
    EXPECT_TRUE(PrepareScript(path.c_str()));
    EXPECT_EQ(ReadFileBytes(copyPath), expected);

    // What the service reads from the copy: [folders] cut at '=', [exfolders] expanded here.
    zqCleanScript model;
    ReadScriptFile(model, copyPath);
    std::wstring wideRoot = Widen(root);
    EXPECT_EQ(Entries(model.folders), (std::vector<std::wstring>{wideRoot + L"\\x\\y", L"  C:\\lead"}));
    EXPECT_EQ(Entries(model.exFolders), (std::vector<std::wstring>{wideRoot + L"\\x", L"C:\\a..b"}));
    EXPECT_EQ(Entries(model.files),
              (std::vector<std::wstring>{L"%SystemRoot%\\x", L"name.sys", L" [folders]"}));
    EXPECT_EQ(Entries(model.drivers), std::vector<std::wstring>{L"tail"});
    EXPECT_TRUE(model.excludeFolders);
    RemoveTree(dir);
}

TEST(PrepareScript, HeaderFirstAndEmptyScript)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring path = dir + L"\\first.ini";
    WriteFileBytes(path, "[files]\na.sys\n");
    EXPECT_TRUE(PrepareScript(path.c_str()));
    EXPECT_EQ(ReadFileBytes(path + L".srvc"), "\r\n[files]\r\na.sys\r\n");

    WriteFileBytes(path, "\r\n  \r\n");
    EXPECT_TRUE(PrepareScript(path.c_str()));
    EXPECT_TRUE(PathExists(path + L".srvc"));
    EXPECT_EQ(ReadFileBytes(path + L".srvc"), "");
    RemoveTree(dir);
}

TEST(PrepareScript, MissingScriptLeavesEmptyCopy)
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
    EXPECT_EQ(ReadFileBytes(blocked), "[files]\r\na.sys\r\n");
    RemoveTree(dir);
}

TEST(PrepareScript, PathWithoutRoomForTheSuffixIsRefused)
{
    std::wstring dir = MakeScratchDir(L"script");
    std::wstring prefix = dir + L"\\";
    // 254 characters: the copy's name has exactly 259 and fits.
    std::wstring fits = prefix + std::wstring(254 - prefix.size() - 4, L'f') + L".ini";
    ASSERT_EQ(fits.size(), 254u);
    WriteFileBytes(fits, "[files]\r\na.sys\r\n");
    ASSERT_TRUE(PathExists(fits));
    EXPECT_TRUE(PrepareScript(fits.c_str()));
    EXPECT_EQ(ReadFileBytes(fits + L".srvc"), "\r\n[files]\r\na.sys\r\n");

    // 255 characters: cutting would write "<script>.srv", a file nobody reads; nothing is written.
    std::wstring tooLong = prefix + std::wstring(255 - prefix.size() - 4, L'g') + L".ini";
    ASSERT_EQ(tooLong.size(), 255u);
    WriteFileBytes(tooLong, "[files]\r\na.sys\r\n");
    ASSERT_TRUE(PathExists(tooLong));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PrepareScript(tooLong.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(PathExists(tooLong + L".srv"));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\g*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int found = 1;
    while (FindNextFileW(find, &data))
        ++found;
    FindClose(find);
    EXPECT_EQ(found, 1);  // only the script itself
    RemoveTree(dir);
}
