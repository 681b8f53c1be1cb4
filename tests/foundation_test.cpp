// Strings, formatting, lists and path helpers.
#include <errno.h>

#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "foundation/PathSplit.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"

using Shape = std::pair<int, int>;  // length and capacity, count and capacity
template <typename T>
Shape ShapeOf(const zqTString<T>& s) { return {s.length, s.capacity}; }
Shape ShapeOf(const zqPtrArray& a) { return {a.count, a.capacity}; }

TEST(Strings, ExactSizeGrowthAndBlockKept)
{
    zqWString w;
    EXPECT_STREQ(w.Get(), L"");  // never null
    EXPECT_TRUE(w.Assign(L"abc"));
    EXPECT_EQ(ShapeOf(w), Shape(3, 4));
    EXPECT_TRUE(w.Assign(L"ab"));
    EXPECT_EQ(ShapeOf(w), Shape(2, 4));
    EXPECT_TRUE(w.Assign(static_cast<const char*>(nullptr)));
    EXPECT_STREQ(w.Get(), L"");
    EXPECT_EQ(ShapeOf(w), Shape(0, 4));

    zqWString fromNarrow;
    zqTString<wchar_t>& base = fromNarrow;  // callers holding the base reach the same slots
    EXPECT_TRUE(base.Assign("abc"));
    EXPECT_EQ(ShapeOf(fromNarrow), Shape(3, 5));  // the conversion size counts the terminator, plus one

    zqString s;
    EXPECT_STREQ(s.Get(), "");
    EXPECT_TRUE(s.Assign("abc"));
    EXPECT_TRUE(s.Append("de"));
    EXPECT_EQ(ShapeOf(s), Shape(5, 6));
    EXPECT_STREQ(s.Get(), "abcde");
    EXPECT_TRUE(s.Reserve(3));
    EXPECT_STREQ(s.Get(), "abc");
    EXPECT_TRUE(s.Reserve(0));
    EXPECT_EQ(ShapeOf(s), Shape(0, 6));

    zqWString copy(fromNarrow);
    EXPECT_NE(copy.buffer, fromNarrow.buffer);
    EXPECT_STREQ(copy.Get(), L"abc");
}

TEST(Strings, ConversionByteForByteAndItsFailures)
{
    zqWString w;
    EXPECT_TRUE(w.Assign("caf\xe9"));
    EXPECT_EQ(w.length, 4);
    EXPECT_EQ(w.Get()[3], 0xE9);
    EXPECT_TRUE(w.Append("\x80"));
    EXPECT_STREQ(w.Get(), L"caf\xe9\x80");

    zqString s;
    EXPECT_TRUE(s.Assign(L"x\u00ffz"));
    EXPECT_TRUE(s.Append(L"!!"));
    EXPECT_STREQ(s.Get(), "x\xffz!!");
    EXPECT_FALSE(s.Append(L"a\u0100b"));
    EXPECT_STREQ(s.Get(), "x\xffz!!");  // a failed append leaves the old text
    EXPECT_FALSE(s.Assign(L"\u0100"));
    EXPECT_STREQ(s.Get(), "");  // a failed assignment leaves the string empty
}

TEST(Format, CutsAndReturnsMinusOne)
{
    wchar_t target[260];
    EXPECT_EQ(FormatW(target, 260, L"%s", std::wstring(300, L'x').c_str()), -1);
    EXPECT_EQ(wcslen(target), 259u);
    EXPECT_EQ(FormatW(target, 260, L"%s\\%s", L"C:\\dir", L"file"), 11);
    EXPECT_STREQ(target, L"C:\\dir\\file");

    char narrow[8];
    EXPECT_EQ(FormatA(narrow, sizeof narrow, "%s-%i", "abcdef", 42), -1);
    EXPECT_STREQ(narrow, "abcdef-");
    EXPECT_EQ(FormatA(narrow, sizeof narrow, "%S", L"wide"), 4);
    EXPECT_STREQ(narrow, "wide");
}

TEST(Lists, GrowthInsertionAndRemoval)
{
    zqList<zqWString> list;
    EXPECT_TRUE(list.RemoveAll());  // on an empty list
    zqWString item;
    for (const wchar_t* text : {L"a", L"b", L"c"}) {
        item.Assign(text);
        EXPECT_TRUE(list.Append(item));
    }
    item.Assign(L"z");
    EXPECT_TRUE(list.InsertAt(0, item));
    ASSERT_EQ(ShapeOf(list), Shape(4, 32));
    EXPECT_STREQ(list.At(0)->Get(), L"z");
    EXPECT_STREQ(list.At(3)->Get(), L"c");
    EXPECT_NE(list.At(0), &item);  // the list holds its own copy

    while (list.count < 32)
        list.Append(item);
    EXPECT_EQ(ShapeOf(list), Shape(32, 32));
    list.Append(item);
    EXPECT_EQ(ShapeOf(list), Shape(33, 64));

    for (int bad : {33, -1}) {
        errno = 0;
        EXPECT_EQ(list.At(bad), nullptr);
        EXPECT_EQ(errno, EINVAL);
    }
    errno = 0;
    EXPECT_EQ(list.zqPtrArray::InsertAt(-1), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(list.count, 33);

    EXPECT_TRUE(list.RemoveAll());
    EXPECT_EQ(ShapeOf(list), Shape(0, 0));
    EXPECT_EQ(list.data, nullptr);
    list.Append(item);
    EXPECT_STREQ(list.At(0)->Get(), L"z");
}

TEST(Paths, SplittingAndSeparators)
{
    wchar_t target[260];
    struct { const wchar_t *source, *result; int replaced; } extensions[] = {
        {L"C:\\windows\\inf\\oem1.inf", L"C:\\windows\\inf\\oem1.pnf", 1},
        {L"noext", L"noext", 0},
        {L".hidden", L".hidden", 0},
        {L"C:\\a.b\\file", L"C:\\a.pnf", 1},  // the search does not stop at separators
    };
    for (const auto& c : extensions) {
        EXPECT_EQ(ReplaceExtension(target, c.source, L"pnf"), c.replaced) << c.source;
        EXPECT_STREQ(target, c.result);
    }
    EXPECT_EQ(ReplaceExtension(nullptr, L"x.y", L"pnf"), 0);

    wchar_t folder[260], name[260];
    struct { const wchar_t *path, *folder, *name; } splits[] = {
        {L"C:\\dir\\file.txt", L"C:\\dir\\", L"file.txt"},
        {L"C:/dir/", L"C:\\dir\\", L""},
        {L"file.txt", L"", L"file.txt"},
        {L"\\file.txt", L"", L"\\file.txt"},
        {L"C:/a/b.exe", L"C:/a/", L"b.exe"},  // slashes of a folder before a file name stay
    };
    for (const auto& c : splits) {
        EXPECT_EQ(SplitPath(c.path, folder, name), 1) << c.path;
        EXPECT_STREQ(folder, c.folder);
        EXPECT_STREQ(name, c.name);
    }
    EXPECT_EQ(SplitPath(L"C:\\x", folder, nullptr), 0);

    wchar_t path[260] = L"C:\\dir\\prog.exe";
    EXPECT_STREQ(CutLastSegment(path), L"C:\\dir\\");
    wcscpy(path, L"prog.exe");
    EXPECT_STREQ(CutLastSegment(path), L"prog.exe\\");
    wcscpy(path, L"C:/a/b");
    EXPECT_STREQ(AddTrailingBackslash(path), L"C:\\a\\b\\");
    EXPECT_STREQ(AddTrailingBackslash(path), L"C:\\a\\b\\");
}
