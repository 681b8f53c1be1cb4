// The lower layers: strings, lists, the script reader, path expansion, the prepared copy, the
// run log and the status block.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "script/CleanScript.h"
#include "script/LineRules.h"
#include "platform/ExpandPath.h"
#include "script/PrepareScript.h"
#include "shared/RunLog.h"
#include "shared/StatusBlock.h"
#include "tests/support/Support.h"

namespace {

using Texts = std::vector<std::wstring>;

Texts Entries(const zqList<zqWString>& list)
{
    Texts out;
    for (int i = 0; i < list.count; ++i)
        out.push_back(list.At(i)->Get());
    return out;
}

void ReadScriptFile(zqCleanScript& model, const std::wstring& path)
{
    StdioFile stream(_wfopen(path.c_str(), L"rb"));
    ASSERT_TRUE(stream.Valid());
    model.Read(stream.Get());
}

const std::wstring kRoot = SystemRootDir();
const std::string kLong1(2047, 'x'), kLong2(953, 'y');

}  // namespace

TEST(Foundation, StringsFormatAndLists)
{
    zqWString w;
    EXPECT_STREQ(w.Get(), L"");  // never null
    EXPECT_TRUE(w.Assign("caf\xe9"));  // byte for byte
    EXPECT_TRUE(w.Append(L"!"));
    EXPECT_STREQ(w.Get(), L"caf\xe9!");
    zqString s;
    EXPECT_TRUE(s.Assign(L"x\u00ffz"));
    EXPECT_FALSE(s.Append(L"a\u0100b"));
    EXPECT_STREQ(s.Get(), "x\xffz");  // a failed append leaves the old text

    wchar_t cut[8];
    EXPECT_EQ(FormatW(cut, 8, L"%s\\%s", L"C:\\dir", L"file"), -1);
    EXPECT_STREQ(cut, L"C:\\dir\\");
    std::wstring longName(5000, L'n');
    EXPECT_TRUE(FormatInto(w, L"%s\\%s.inf", L"C:\\store", longName.c_str()));
    EXPECT_EQ(std::wstring(w.Get()), L"C:\\store\\" + longName + L".inf");
    EXPECT_EQ(w.length, 5013);

    zqList<zqWString> list;
    AddEntries(&list, {L"a", L"b"});
    zqWString item;
    item.Assign(L"z");
    EXPECT_TRUE(list.InsertAt(0, item));
    while (list.count < 33)
        list.Append(item);
    EXPECT_EQ(Entries(list).front() + Entries(list)[1] + Entries(list)[2], L"zab");
    EXPECT_NE(list.At(0), &item);  // the list holds its own copy
    EXPECT_EQ(list.At(33), nullptr);
    EXPECT_FALSE(list.AppendOwned(nullptr));
    list.RemoveAll();
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.At(0), nullptr);
}

TEST(Script, ExpandPathNormalises)
{
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZQ_SCRIPT_TEST", L"C:/zq//dir/"));
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {L"%SystemRoot%//system32", kRoot + L"\\system32"},
        {L"%ZQ_SCRIPT_TEST%/sub", L"C:\\zq\\dir\\sub"},
        {L"%ZQ_UNDEFINED_TEST%\\x", L"%ZQ_UNDEFINED_TEST%\\x"},
        {L"\\\\\\\\server", L"\\\\server"}, {L"C:\\\\name", L"C:\\name"},
        {L"/\\/x", L"\\\\x"},  // each step looks ahead in the text as it was before it
        {L"a...b", L"a..b"}, {L"a....b", L"a..b"}, {L"a..b", L"a..b"}, {L"", L""},
    };
    for (const auto& c : cases) {
        wchar_t* result = nullptr;
        ASSERT_TRUE(ExpandPathW(c.first, &result));
        EXPECT_EQ(std::wstring(result), c.second) << Narrow(c.first);
        free(result);
    }
    SetEnvironmentVariableW(L"ZQ_SCRIPT_TEST", nullptr);
}

TEST(Script, ReaderSectionsAndLineRules)
{
    std::wstring dir = MakeScratchDir(L"script"), path = dir + L"\\reader.ini";
    WriteFileBytes(path,
                   "before.sys\r\n[FILES]\r\na.sys   \t\r\n  lead.sys\r\n;comment.sys\r\n"
                   " [files]\r\n[drvpackages\r\ncaf\xe9.sys \x85\xff \t\r\n\r\n   \t\r\n"
                   "[unknown]\r\nignored.sys\r\n"
                   "[Folders]\r\nC://Temp//x=1\r\n\\\\server\\share//dir\r\n%SystemRoot%\\x=0=1\r\n"
                   "[files]\r\n" + kLong1 + "\r\n" + kLong1 + "y\r\n"
                   "[registry]\r\nHKEY_CURRENT_USER\\Software\\Example:LastRun\r\n"
                   "[devices]\r\nROOT\\EXAMPLE\r\n[EXFOLDERS]\r\n%SystemRoot%//y\r\n"
                   "[drivers]\r\nexamplefilt = x\r\n[infs]\r\nExample Inc\r\n"
                   "[maskedfiles]\r\nexample*.dll\r\n[DrvPackages]\r\nexample\r\n"
                   "[.NET]\r\nExample.Assembly\r\n[general]\r\nexcludefolders=1\r\n");
    zqCleanScript model;
    ReadScriptFile(model, path);
    EXPECT_EQ(Entries(model.files), (Texts{L"a.sys", L"  lead.sys", L";comment.sys", L" [files]", L"[drvpackages",
                                           L"caf\xe9.sys \x2026\xff", Widen(kLong1)}));
    EXPECT_EQ(Entries(model.folders), (Texts{L"C:\\Temp\\x", L"\\\\server\\share\\dir", kRoot + L"\\x"}));
    EXPECT_EQ(Entries(model.registry), Texts{L"HKEY_CURRENT_USER\\Software\\Example:LastRun"});
    EXPECT_EQ(Entries(model.devices), Texts{L"ROOT\\EXAMPLE"});
    EXPECT_EQ(Entries(model.exFolders), Texts{L"%SystemRoot%//y"});  // only the preparation expands them
    EXPECT_EQ(Entries(model.drivers), Texts{L"examplefilt = x"});
    EXPECT_EQ(Entries(model.infs), Texts{L"Example Inc"});
    EXPECT_EQ(Entries(model.maskedFiles), Texts{L"example*.dll"});
    EXPECT_EQ(Entries(model.drvPackages), Texts{L"example"});
    EXPECT_EQ(Entries(model.dotNet), Texts{L"Example.Assembly"});
    EXPECT_TRUE(model.excludeFolders);

    // The digit in the 16th place decides; the separator before it is not looked at.
    const std::pair<const char*, bool> general[] = {
        {"EXCLUDEFOLDERS=1 x", true}, {"excludefolders:1", true}, {"excludefolders=0", false},
        {"excludefolders", false}, {"excludefolders =1", false}, {"excludefolders=1\r\nexcludefolders=0", false}};
    for (const auto& c : general) {
        WriteFileBytes(path, std::string("[general]\r\n") + c.first + "\r\n");
        zqCleanScript flags;
        ReadScriptFile(flags, path);
        EXPECT_EQ(flags.excludeFolders, c.second) << c.first;
    }
    RemoveTree(dir);
}

// What the reader makes of a script's bytes, read directly and through the prepared copy, which
// must give the very same entries and refusals.
struct ReadOutcome {
    Texts files;
    std::vector<std::pair<int, LineProblem>> refused;
    bool operator==(const ReadOutcome& other) const { return files == other.files && refused == other.refused; }
};

ReadOutcome ReadBoth(const std::string& bytes, ReadOutcome* throughCopy)
{
    std::wstring path = L"C:\\zqtest\\script\\bytes.ini";
    WriteFileBytes(path, bytes);
    ReadOutcome outcomes[2];
    for (int pass = 0; pass < 2; ++pass) {
        zqCleanScript model;
        if (pass == 1)
            PrepareScript(path.c_str());
        ReadScriptFile(model, pass == 0 ? path : path + L".srvc");
        outcomes[pass].files = Entries(model.files);
        for (int i = 0; i < model.notes.count; ++i)
            if (model.notes.At(i)->reason == NoteReason::Refused)
                outcomes[pass].refused.push_back({model.notes.At(i)->line, model.notes.At(i)->problem});
    }
    *throughCopy = outcomes[1];
    return outcomes[0];
}

std::string Utf16(const std::wstring& text, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : text) {
        char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST(Script, EncodingsAndRefusedLines)
{
    MakeScratchDir(L"script");
    const std::wstring unicode = L"[files]\r\n\x00e4\x0414.sys\r\n";
    const struct {
        std::string bytes;
        ReadOutcome expected;
    } cases[] = {
        {Utf16(unicode, false), {{L"\x00e4\x0414.sys"}, {}}},
        {Utf16(unicode, true), {{L"\x00e4\x0414.sys"}, {}}},
        {"\xEF\xBB\xBF[files]\r\n\xC3\xA4\xD0\x94.sys\r\n", {{L"\x00e4\x0414.sys"}, {}}},  // the mark is no part of the header
        {"[files]\ra.sys\rb.sys\n\nc.sys", {{L"a.sys", L"b.sys", L"c.sys"}, {}}},  // a lone CR ends a line
        {std::string("[files]\r\nC:\\x") + '\0' + "y.sys\r\nc.sys\r\n", {{L"c.sys"}, {{2, LineProblem::NulByte}}}},
        {"[files]\r\nC:\\x\x1Ay.sys\r\nc.sys\r\n", {{L"c.sys"}, {{2, LineProblem::CtrlZ}}}},
        {"[files]\r\n" + kLong1 + "\r\n" + kLong1 + "\\system32\r\n", {{Widen(kLong1)}, {{3, LineProblem::TooLong}}}},
        {"\xEF\xBB\xBF[files]\r\nbad\xFF.sys\r\nc.sys", {{L"c.sys"}, {{2, LineProblem::BadText}}}},
        {Utf16(L"[files]\r\n\xD800x.sys\r\nc.sys", false), {{L"c.sys"}, {{2, LineProblem::BadText}}}},
    };
    for (const auto& c : cases) {
        ReadOutcome throughCopy, direct = ReadBoth(c.bytes, &throughCopy);
        EXPECT_EQ(direct.files, c.expected.files) << c.bytes.substr(0, 40);
        EXPECT_EQ(direct.refused, c.expected.refused) << c.bytes.substr(0, 40);
        EXPECT_TRUE(throughCopy == direct) << c.bytes.substr(0, 40);
    }
}

// Random bytes, control bytes and long lines: every entry stays whole and clean, reading is
// quick, and the copy says exactly what the script says.
TEST(Script, FuzzedScriptsReadTheSameThroughTheCopy)
{
    MakeScratchDir(L"script");
    const char* const pieces[] = {"[files]", "[registry]", "[mystery]", "\r\n", "\n", "\r", "(NUL)",
                                  "\x1A", "\xFF\xFE", "\xE9", " \t", "name.sys", "[", "]"};
    unsigned seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    DWORD started = GetTickCount();
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        for (int n = static_cast<int>(next() % 60); n > 0; --n) {
            unsigned kind = next() % 20;
            if (kind < 14)
                bytes += kind == 6 ? std::string(1, '\0') : pieces[kind];
            else if (kind < 19)
                bytes += static_cast<char>(next() & 0xFF);
            else
                bytes += std::string(1000 + next() % 2000, 'x');
        }
        ReadOutcome throughCopy, direct = ReadBoth(bytes, &throughCopy);
        EXPECT_TRUE(throughCopy == direct) << "round " << round;
        for (const std::wstring& entry : direct.files) {
            EXPECT_LE(entry.size(), 2047u);
            EXPECT_EQ(entry.find_first_of(std::wstring(L"\0\x1A\r\n", 4)), std::wstring::npos) << "round " << round;
        }
    }
    EXPECT_LT(GetTickCount() - started, 20000u);
}

TEST(Script, PreparedCopyLineForLineInUtf8)
{
    std::wstring dir = MakeScratchDir(L"script"), path = dir + L"\\zqclean.ini", copy = path + L".srvc";
    WriteFileBytes(path, std::string("stray line  \r\n[General]\r\nexcludefolders=1 \t\r\n\r\n   \t \r\n"
                         "[Folders]\r\n%SystemRoot%//x\\\\y=1\r\n[exfolders]\r\n%SystemRoot%\\x\r\n") +
                         "[files]\r\n%SystemRoot%\\x\r\nname\xe9.sys \x85\xff\r\n" + std::string("nul\0byte\r\n", 10) +
                         "[mystery]\r\nkept below unknown\r\n[drivers]\r\ntail");
    std::string root = Narrow(kRoot);
    // UTF-8 with a byte-order mark, one line for every line of the script; a refused line goes
    // over as it was, so that the reader refuses it again.
    const std::string expected = "\xEF\xBB\xBFstray line\r\n[General]\r\nexcludefolders=1\r\n\r\n\r\n"
                                 "[Folders]\r\n" + root + "\\x\\y=1\r\n[exfolders]\r\n" + root + "\\x\r\n"
                                 "[files]\r\n%SystemRoot%\\x\r\nname\xC3\xA9.sys \xE2\x80\xA6\xC3\xBF\r\n" + std::string("nul\0byte\r\n", 10) +
                                 "[mystery]\r\nkept below unknown\r\n[drivers]\r\ntail\r\n";
    EXPECT_EQ(PrepareScript(path.c_str()), PrepareResult::Written);
    EXPECT_EQ(ReadFileBytes(copy), expected);

    // A missing script leaves an empty copy, so no stale one is read.
    std::wstring missing = dir + L"\\missing.ini";
    WriteFileBytes(missing + L".srvc", "[files]\r\nstale.sys\r\n");
    EXPECT_EQ(PrepareScript(missing.c_str()), PrepareResult::ScriptUnreadable);
    EXPECT_EQ(ReadFileBytes(missing + L".srvc"), "\xEF\xBB\xBF");

    // 254 characters fit the copy's name; at 255 nothing is written rather than a cut name.
    for (size_t length : {254u, 255u}) {
        std::wstring script = dir + L"\\" + std::wstring(length - dir.size() - 5, L'f') + L".ini";
        WriteFileBytes(script, "[files]\r\na.sys\r\n");
        EXPECT_EQ(PrepareScript(script.c_str()), length == 254 ? PrepareResult::Written : PrepareResult::CopyNotMade);
        EXPECT_EQ(PathExists(script + L".srvc"), length == 254);
        EXPECT_EQ(PathExists(script + L".srv"), false);
    }
    RemoveTree(dir);
}

TEST(Shared, RunLogPiecesAndResultLines)
{
    InitRunLogPath();
    EXPECT_STREQ(RunLogPath(), L"C:\\zqclean.log");  // the root of the system drive
    std::wstring log = FreshRunLog("runlog");
    WriteLog(1, "old line\n");
    FileHandle held = StartRunLog();
    WriteLog(1, "Undelete setup...");
    WriteLog(0, "OK.\n");
    WriteLog(0, "K: %S...", L"HKEY_CURRENT_USER\\Software\\x");
    WriteLog(0, "OK\n");
    for (int status : {-1, 0, 1, 7})
        WriteResultLine(status);
    EXPECT_NE(ReadFileBytes(log).find("OK.\r\n"), std::string::npos) << "text mode writes CRLF";
    EXPECT_EQ(LogLines(log), Lines({S("Undelete setup...OK."), "K: HKEY_CURRENT_USER\\Software\\x...OK",
                                    S("Unknown error"), S("Everything is cleaned"),
                                    S("ZU Rovid is executed from invalid path"), S("????")}));
}

TEST(Shared, StatusBlockBothSides)
{
    KernelHandle absent(OpenStatusBlock());
    EXPECT_EQ(ReadBlockStatus(absent.Get()), kStatusNoResult);

    KernelHandle block = CreateStatusBlock();
    ASSERT_TRUE(block.Valid());
    FillStatusBlock(block.Get(), L"C:\\work\\zqclean.ini", L"C:\\work");
    KernelHandle runSide(OpenStatusBlock());
    wchar_t text[kBlockPathUnits];
    ReadBlockScriptPath(runSide.Get(), text);
    EXPECT_STREQ(text, L"C:\\work\\zqclean.ini");
    WriteBlockStatus(runSide.Get(), kStatusRefused);
    EXPECT_EQ(ReadBlockStatus(block.Get()), kStatusRefused);

    // 260 units of working directory are stored without terminator; the run reads 259.
    FillStatusBlock(block.Get(), L"C:\\s", (L"C:\\" + std::wstring(300, L'd')).c_str());
    ReadBlockWorkDir(runSide.Get(), text);
    EXPECT_EQ(wcslen(text), 259u);
    // Filled again without one, the section must not keep the earlier directory.
    FillStatusBlock(block.Get(), L"C:\\s", nullptr);
    ReadBlockWorkDir(runSide.Get(), text);
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(ReadBlockStatus(runSide.Get()), kStatusNoResult);
}
