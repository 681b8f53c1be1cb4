// The run log writers and the shared status block.
#include <gtest/gtest.h>

#include <string>

#include "launcher/RunLog.h"
#include "launcher/StatusBlock.h"
#include "tests/support/TestSupport.h"

namespace {

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeScratchDir(L"runlog");
        path = Narrow(dir) + "\\zqclean.log";
        SetRunLogPath(path.c_str());
    }
    void TearDown() override { RemoveTree(dir); }

    std::vector<std::string> Lines() { return MaskedLogLines(ReadFileBytes(Widen(path))); }

    std::wstring dir;
    std::string path;
};

}  // namespace

TEST_F(RunLogTest, LogPathIsTheSystemDriveRoot)
{
    InitRunLogPath();
    // Wine's system directory is C:\windows\system32.
    EXPECT_STREQ(RunLogPath(), "C:\\zqclean.log");
}

TEST_F(RunLogTest, StampedAndUnstampedPiecesFormOneLine)
{
    WriteLog(1, "Undelete setup...");
    WriteLog(0, "OK.\n");
    WriteLog(0, "K: %S...", L"HKEY_CURRENT_USER\\Software\\x");
    WriteLog(0, "OK\n");
    WriteLog(1, "Delete files(%i):\n", 3);
    std::string raw = ReadFileBytes(Widen(path));
    EXPECT_NE(raw.find("OK.\r\n"), std::string::npos) << "text mode writes CRLF";
    std::vector<std::string> expected = {
        "[TS]\tUndelete setup...OK.",
        "K: HKEY_CURRENT_USER\\Software\\x...OK",
        "[TS]\tDelete files(3):",
    };
    EXPECT_EQ(Lines(), expected);
}

TEST_F(RunLogTest, TruncateEmptiesTheLog)
{
    WriteLog(1, "old line\n");
    TruncateRunLog();
    EXPECT_EQ(ReadFileBytes(Widen(path)), "");
    WriteLog(1, "new line\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"[TS]\tnew line"}));
}

TEST_F(RunLogTest, ResultLineTexts)
{
    WriteResultLine(-1);
    WriteResultLine(0);
    WriteResultLine(1);
    WriteResultLine(7);
    std::vector<std::string> expected = {
        "[TS]\tUnknown error",
        "[TS]\tEverything is cleaned",
        "[TS]\tZU Rovid is executed from invalid path",
        "[TS]\t????",
    };
    EXPECT_EQ(Lines(), expected);
}

TEST_F(RunLogTest, UnwritableLogLosesTextQuietly)
{
    std::string missing = Narrow(dir) + "\\no such folder\\zqclean.log";
    SetRunLogPath(missing.c_str());
    WriteLog(1, "lost %i\n", 1);
    WriteResultLine(1);
    TruncateRunLog();
    EXPECT_FALSE(PathExists(Widen(missing)));
}

TEST(StatusBlock, FilledByTheLauncherReadByTheRun)
{
    KernelHandle block = CreateStatusBlock();
    ASSERT_TRUE(block.Valid());
    FillStatusBlock(block.Get(), L"C:\\work\\zqclean.ini", L"C:\\work");

    HANDLE opened = OpenStatusBlock();
    ASSERT_NE(opened, nullptr);
    KernelHandle runSide(opened);
    EXPECT_EQ(ReadBlockStatus(runSide.Get()), -1);
    wchar_t text[260];
    ReadBlockScriptPath(runSide.Get(), text);
    EXPECT_STREQ(text, L"C:\\work\\zqclean.ini");
    ReadBlockWorkDir(runSide.Get(), text);
    EXPECT_STREQ(text, L"C:\\work");

    WriteBlockStatus(runSide.Get(), 1);
    EXPECT_EQ(ReadBlockStatus(block.Get()), 1);
}

TEST(StatusBlock, LongTextsAreCutToTheirFields)
{
    KernelHandle block = CreateStatusBlock();
    ASSERT_TRUE(block.Valid());
    std::wstring longDir = L"C:\\" + std::wstring(300, L'd');
    std::wstring longScript = L"C:\\" + std::wstring(300, L's');
    FillStatusBlock(block.Get(), longScript.c_str(), longDir.c_str());

    MappedView view(MapViewOfFile(block.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view.Valid());
    const StatusBlock* fields = static_cast<const StatusBlock*>(view.Get());
    EXPECT_EQ(fields->scriptPath[258], L's');
    EXPECT_EQ(fields->scriptPath[259], 0);
    EXPECT_EQ(fields->workDir[259], L'd') << "260 units are stored without terminator";

    wchar_t text[260];
    ReadBlockWorkDir(block.Get(), text);
    EXPECT_EQ(wcslen(text), 259u);
    ReadBlockScriptPath(block.Get(), text);
    EXPECT_EQ(wcslen(text), 259u);
}

TEST(StatusBlock, NoWorkDirLeavesZeros)
{
    // Every earlier test closed its handles, so this section is a new one.
    KernelHandle block = CreateStatusBlock();
    ASSERT_TRUE(block.Valid());
    FillStatusBlock(block.Get(), L"C:\\a\\zqclean.ini", nullptr);
    wchar_t text[260] = L"garbage";
    ReadBlockWorkDir(block.Get(), text);
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(ReadBlockStatus(block.Get()), -1);
}

TEST(StatusBlock, MissingBlockReadsAsNoResult)
{
    wchar_t text[260] = L"garbage";
    EXPECT_EQ(ReadBlockStatus(nullptr), -1);
    ReadBlockScriptPath(nullptr, text);
    EXPECT_STREQ(text, L"");
    wcscpy(text, L"garbage");
    ReadBlockWorkDir(INVALID_HANDLE_VALUE, text);
    EXPECT_STREQ(text, L"");
    WriteBlockStatus(nullptr, 1);  // skipped, no crash
}
