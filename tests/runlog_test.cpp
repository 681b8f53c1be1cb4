// The run log writers and the shared status block.
#include <gtest/gtest.h>

#include <string>

#include "launcher/RunLog.h"
#include "launcher/StatusBlock.h"
#include "tests/support/TestSupport.h"

TEST(RunLog, PiecesResultLinesTruncationAndLoss)
{
    InitRunLogPath();
    EXPECT_STREQ(RunLogPath(), "C:\\zqclean.log");  // Wine's system directory is C:\windows\system32
    std::wstring dir = MakeScratchDir(L"runlog");
    std::string path = Narrow(dir) + "\\zqclean.log";
    SetRunLogPath(path.c_str());
    WriteLog(1, "old line\n");
    TruncateRunLog();
    EXPECT_EQ(ReadFileBytes(Widen(path)), "");

    WriteLog(1, "Undelete setup...");
    WriteLog(0, "OK.\n");
    WriteLog(0, "K: %S...", L"HKEY_CURRENT_USER\\Software\\x");
    WriteLog(0, "OK\n");
    WriteLog(1, "Delete files(%i):\n", 3);
    for (int status : {-1, 0, 1, 7})
        WriteResultLine(status);
    std::string raw = ReadFileBytes(Widen(path));
    EXPECT_NE(raw.find("OK.\r\n"), std::string::npos) << "text mode writes CRLF";
    std::vector<std::string> expected = {
        "[TS]\tUndelete setup...OK.",
        "K: HKEY_CURRENT_USER\\Software\\x...OK",
        "[TS]\tDelete files(3):",
        "[TS]\tUnknown error",
        "[TS]\tEverything is cleaned",
        "[TS]\tZU Rovid is executed from invalid path",
        "[TS]\t????",
    };
    EXPECT_EQ(MaskedLogLines(raw), expected);

    // A log that cannot be opened loses its text quietly.
    std::string missing = Narrow(dir) + "\\no such folder\\zqclean.log";
    SetRunLogPath(missing.c_str());
    WriteLog(1, "lost %i\n", 1);
    WriteResultLine(1);
    TruncateRunLog();
    EXPECT_FALSE(PathExists(Widen(missing)));
    RemoveTree(dir);
}

TEST(StatusBlock, LayoutCutsAndBothSides)
{
    KernelHandle block = CreateStatusBlock();
    ASSERT_TRUE(block.Valid());
    FillStatusBlock(block.Get(), L"C:\\work\\zqclean.ini", L"C:\\work");
    // The byte layout both processes rely on: status at 0, scriptPath at 4, workDir at 524.
    MappedView view(MapViewOfFile(block.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view.Valid());
    const unsigned char* bytes = static_cast<const unsigned char*>(view.Get());
    EXPECT_EQ(*reinterpret_cast<const int32_t*>(bytes), -1);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(bytes + 4), L"C:\\work\\zqclean.ini");
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(bytes + 524), L"C:\\work");
    EXPECT_EQ(bytes[1043], 0) << "workDir is zero-padded to its end";

    KernelHandle runSide(OpenStatusBlock());
    ASSERT_TRUE(runSide.Valid());
    wchar_t text[260];
    ReadBlockScriptPath(runSide.Get(), text);
    EXPECT_STREQ(text, L"C:\\work\\zqclean.ini");
    ReadBlockWorkDir(runSide.Get(), text);
    EXPECT_STREQ(text, L"C:\\work");
    WriteBlockStatus(runSide.Get(), 1);
    EXPECT_EQ(ReadBlockStatus(block.Get()), 1);

    // Filled again without a working directory (the launcher could not read it), the section
    // that already exists must not hand the service the directory of the earlier fill.
    KernelHandle again = CreateStatusBlock();
    FillStatusBlock(again.Get(), L"C:\\b\\zqclean.ini", nullptr);
    ReadBlockWorkDir(runSide.Get(), text);
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(ReadBlockStatus(runSide.Get()), -1);

    FillStatusBlock(block.Get(), (L"C:\\" + std::wstring(300, L's')).c_str(),
                    (L"C:\\" + std::wstring(300, L'd')).c_str());
    const StatusBlock* fields = static_cast<const StatusBlock*>(view.Get());
    EXPECT_EQ(fields->scriptPath[258], L's');
    EXPECT_EQ(fields->scriptPath[259], 0);
    EXPECT_EQ(fields->workDir[259], L'd') << "260 units are stored without terminator";
    ReadBlockWorkDir(runSide.Get(), text);
    EXPECT_EQ(wcslen(text), 259u);
    ReadBlockScriptPath(runSide.Get(), text);
    EXPECT_EQ(wcslen(text), 259u);
}

TEST(StatusBlock, MissingBlockReadsAsNoResult)
{
    KernelHandle gone(OpenStatusBlock());  // every earlier test closed its handles
    EXPECT_FALSE(gone.Valid());
    EXPECT_EQ(ReadBlockStatus(gone.Get()), -1);
    wchar_t path[260] = L"garbage", dir[260] = L"garbage";
    ReadBlockScriptPath(gone.Get(), path);
    ReadBlockWorkDir(INVALID_HANDLE_VALUE, dir);
    EXPECT_EQ(path[0] + dir[0], 0);
    WriteBlockStatus(gone.Get(), 1);  // skipped, no crash
}
