// Strings, formatting, lists and path helpers.
#include <errno.h>

#include <gtest/gtest.h>

#include "foundation/PathSplit.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"

TEST(Strings, NewStringReadsEmptyNotNull)
{
    zqWString w;
    zqString s;
    ASSERT_NE(w.Get(), nullptr);
    ASSERT_NE(s.Get(), nullptr);
    EXPECT_STREQ(w.Get(), L"");
    EXPECT_STREQ(s.Get(), "");
    EXPECT_EQ(w.capacity, 0);
    EXPECT_EQ(w.buffer, nullptr);
}

TEST(Strings, ExactSizeGrowthAndBlockKept)
{
    zqWString w;
    EXPECT_TRUE(w.Assign(L"abc"));
    EXPECT_EQ(w.length, 3);
    EXPECT_EQ(w.capacity, 4);
    EXPECT_TRUE(w.Assign(L"ab"));
    EXPECT_EQ(w.length, 2);
    EXPECT_EQ(w.capacity, 4);
    EXPECT_STREQ(w.Get(), L"ab");

    zqWString fromNarrow;
    EXPECT_TRUE(fromNarrow.Assign("abc"));
    EXPECT_EQ(fromNarrow.length, 3);
    EXPECT_EQ(fromNarrow.capacity, 5);  // the conversion size counts the terminator, plus one
    EXPECT_STREQ(fromNarrow.Get(), L"abc");

    zqString s;
    EXPECT_TRUE(s.Assign("abc"));
    EXPECT_TRUE(s.Append("de"));
    EXPECT_EQ(s.length, 5);
    EXPECT_EQ(s.capacity, 6);
    EXPECT_STREQ(s.Get(), "abcde");
}

TEST(Strings, NullAndEmptyTextsEmptyTheStringAndKeepTheBlock)
{
    zqWString w;
    w.Assign(L"hello");
    EXPECT_TRUE(w.Assign(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(w.length, 0);
    EXPECT_EQ(w.capacity, 6);
    EXPECT_STREQ(w.Get(), L"");
    EXPECT_TRUE(w.Append(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(w.Append(L""));
    EXPECT_EQ(w.length, 0);
}

TEST(Strings, ReserveCutsAndZeroEmpties)
{
    zqString s;
    s.Assign("abcdef");
    EXPECT_TRUE(s.Reserve(3));
    EXPECT_STREQ(s.Get(), "abc");
    EXPECT_EQ(s.capacity, 7);
    EXPECT_TRUE(s.Reserve(0));
    EXPECT_STREQ(s.Get(), "");
    EXPECT_EQ(s.capacity, 7);
    EXPECT_TRUE(s.Reserve(10));
    EXPECT_EQ(s.capacity, 11);
}

TEST(Strings, ConversionBetweenWidthsByteForByte)
{
    zqWString w;
    EXPECT_TRUE(w.Assign("caf\xe9"));
    EXPECT_EQ(w.length, 4);
    EXPECT_EQ(w.Get()[3], 0xE9);

    zqString s;
    EXPECT_TRUE(s.Assign(L"x\u00ffz"));
    EXPECT_EQ(s.length, 3);
    EXPECT_EQ(static_cast<unsigned char>(s.Get()[1]), 0xFF);

    EXPECT_TRUE(s.Append(L"!!"));
    EXPECT_STREQ(s.Get(), "x\xffz!!");
    EXPECT_TRUE(w.Append("\x80"));
    EXPECT_EQ(w.length, 5);
}

TEST(Strings, WideCharacterAboveFFDoesNotConvert)
{
    zqString s;
    s.Assign("keep");
    EXPECT_FALSE(s.Append(L"a\u0100b"));
    EXPECT_STREQ(s.Get(), "keep");  // a failed append leaves the old text
    EXPECT_FALSE(s.Assign(L"\u0100"));
    EXPECT_STREQ(s.Get(), "");  // a failed assignment leaves the string empty
    EXPECT_EQ(s.length, 0);
}

TEST(Strings, CopiesNeverShareABlock)
{
    zqWString a;
    a.Assign(L"text");
    zqWString b(a);
    EXPECT_NE(a.buffer, b.buffer);
    EXPECT_STREQ(b.Get(), L"text");
    EXPECT_EQ(b.capacity, 5);
    zqWString empty;
    zqWString c(empty);
    EXPECT_EQ(c.buffer, nullptr);
}

TEST(Strings, VirtualSlotsAreInTheirOrder)
{
    // Callers holding the base see the concrete operations.
    zqWString w;
    zqTString<wchar_t>& base = w;
    EXPECT_TRUE(base.Assign("ab"));
    EXPECT_TRUE(base.Append(L"cd"));
    EXPECT_STREQ(base.Get(), L"abcd");
}

TEST(Format, CutsAt259AndReturnsMinusOne)
{
    wchar_t target[260];
    std::wstring longText(300, L'x');
    EXPECT_EQ(FormatW(target, 260, L"%s", longText.c_str()), -1);
    EXPECT_EQ(wcslen(target), 259u);
    EXPECT_EQ(FormatW(target, 260, L"%s\\%s", L"C:\\dir", L"file"), 11);
    EXPECT_STREQ(target, L"C:\\dir\\file");

    char narrow[8];
    EXPECT_EQ(FormatA(narrow, sizeof narrow, "%s-%i", "abcdef", 42), -1);
    EXPECT_STREQ(narrow, "abcdef-");
    EXPECT_EQ(FormatA(narrow, sizeof narrow, "%S", L"wide"), 4);
    EXPECT_STREQ(narrow, "wide");
}

TEST(Lists, GrowthInStepsOf32)
{
    zqList<zqWString> list;
    zqWString item;
    item.Assign(L"x");
    EXPECT_TRUE(list.Append(item));
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.capacity, 32);
    for (int i = 1; i < 32; ++i)
        list.Append(item);
    EXPECT_EQ(list.capacity, 32);
    list.Append(item);
    EXPECT_EQ(list.count, 33);
    EXPECT_EQ(list.capacity, 64);
}

TEST(Lists, InsertAtFrontMovesTheOthersUp)
{
    zqList<zqWString> list;
    const wchar_t* names[] = {L"a", L"b", L"c"};
    for (const wchar_t* n : names) {
        zqWString s;
        s.Assign(n);
        list.Append(s);
    }
    zqWString first;
    first.Assign(L"z");
    EXPECT_TRUE(list.InsertAt(0, first));
    ASSERT_EQ(list.count, 4);
    EXPECT_STREQ(list.At(0)->Get(), L"z");
    EXPECT_STREQ(list.At(1)->Get(), L"a");
    EXPECT_STREQ(list.At(3)->Get(), L"c");
    EXPECT_NE(list.At(0), &first);  // the list holds its own copy
}

TEST(Lists, BadIndexesSetEinval)
{
    zqList<zqString> list;
    zqString s;
    list.Append(s);
    errno = 0;
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(list.At(1), nullptr);
    EXPECT_EQ(errno, EINVAL);
    zqPtrArray raw;
    errno = 0;
    EXPECT_EQ(raw.InsertAt(-1), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(raw.count, 0);
}

TEST(Lists, RemoveAllEmptiesAndListRefills)
{
    zqList<zqWString> list;
    EXPECT_TRUE(list.RemoveAll());
    EXPECT_EQ(list.data, nullptr);
    zqWString s;
    s.Assign(L"entry");
    for (int i = 0; i < 10; ++i)
        list.Append(s);
    EXPECT_TRUE(list.RemoveAll());
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity, 0);
    EXPECT_EQ(list.data, nullptr);
    list.Append(s);
    EXPECT_EQ(list.count, 1);
    EXPECT_STREQ(list.At(0)->Get(), L"entry");
}

TEST(Paths, ReplaceExtension)
{
    wchar_t target[260];
    EXPECT_EQ(ReplaceExtension(target, L"C:\\windows\\inf\\oem1.inf", L"pnf"), 1);
    EXPECT_STREQ(target, L"C:\\windows\\inf\\oem1.pnf");
    EXPECT_EQ(ReplaceExtension(target, L"noext", L"pnf"), 0);
    EXPECT_STREQ(target, L"noext");
    EXPECT_EQ(ReplaceExtension(target, L".hidden", L"pnf"), 0);
    // The search does not stop at separators.
    EXPECT_EQ(ReplaceExtension(target, L"C:\\a.b\\file", L"pnf"), 1);
    EXPECT_STREQ(target, L"C:\\a.pnf");
    EXPECT_EQ(ReplaceExtension(nullptr, L"x.y", L"pnf"), 0);
}

TEST(Paths, SplitPath)
{
    wchar_t folder[260], name[260];
    EXPECT_EQ(SplitPath(L"C:\\dir\\file.txt", folder, name), 1);
    EXPECT_STREQ(folder, L"C:\\dir\\");
    EXPECT_STREQ(name, L"file.txt");
    EXPECT_EQ(SplitPath(L"C:/dir/", folder, name), 1);
    EXPECT_STREQ(folder, L"C:\\dir\\");
    EXPECT_STREQ(name, L"");
    EXPECT_EQ(SplitPath(L"file.txt", folder, name), 1);
    EXPECT_STREQ(folder, L"");
    EXPECT_STREQ(name, L"file.txt");
    EXPECT_EQ(SplitPath(L"\\file.txt", folder, name), 1);
    EXPECT_STREQ(folder, L"");
    EXPECT_STREQ(name, L"\\file.txt");
    EXPECT_EQ(SplitPath(L"C:/a/b.exe", folder, name), 1);
    EXPECT_STREQ(folder, L"C:/a/");  // slashes of a folder before a file name stay
    EXPECT_EQ(SplitPath(L"C:\\x", folder, nullptr), 0);
}

TEST(Paths, SeparatorHelpers)
{
    wchar_t path[260] = L"C:\\dir\\prog.exe";
    EXPECT_STREQ(CutLastSegment(path), L"C:\\dir\\");
    wchar_t mixed[260] = L"C:/a/b";
    EXPECT_STREQ(AddTrailingBackslash(mixed), L"C:\\a\\b\\");
    wchar_t ends[260] = L"C:\\a\\";
    EXPECT_STREQ(AddTrailingBackslash(ends), L"C:\\a\\");
    wchar_t slashes[260] = L"a/b/c";
    EXPECT_STREQ(ToBackslashes(slashes), L"a\\b\\c");
    wchar_t bare[260] = L"prog.exe";
    EXPECT_STREQ(CutLastSegment(bare), L"prog.exe\\");
}
