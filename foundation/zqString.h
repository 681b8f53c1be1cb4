// Owned narrow and wide strings with exact-size growth, and bounded formatting.
#pragma once

#include <stddef.h>

// What the two string classes share: the owned block and its growth. Each class has its own
// Get, Assign and Append; nothing is called through the base.
template <typename T>
class zqTString {
public:
    // Room for n characters and the terminator; a longer text is cut to n characters.
    bool Reserve(int n);

    T* buffer = nullptr;  // text and terminator; null until the first non-empty text
    int length = 0;       // characters before the terminator
    int capacity = 0;     // characters the block holds, terminator included

protected:
    zqTString() = default;
    ~zqTString();
    zqTString(const zqTString&) = delete;
    zqTString& operator=(const zqTString&) = delete;

    bool SetCapacity(int size);
    void Release();
    bool AssignSame(const T* text);
    bool AppendSame(const T* text);
};

class zqString final : public zqTString<char> {
public:
    zqString() = default;
    zqString(const zqString& other);
    zqString& operator=(const zqString& other);
    ~zqString() = default;

    const char* Get() const;
    bool Assign(const wchar_t* text);
    bool Assign(const char* text);
    bool Append(const wchar_t* text);
    bool Append(const char* text);
};

class zqWString final : public zqTString<wchar_t> {
public:
    zqWString() = default;
    zqWString(const zqWString& other);
    zqWString& operator=(const zqWString& other);
    ~zqWString() = default;

    const wchar_t* Get() const;
    bool Assign(const wchar_t* text);
    bool Assign(const char* text);
    bool Append(const wchar_t* text);
    bool Append(const char* text);
};

// printf-style formatting into a fixed array of count characters; longer output is cut and
// always terminated. Returns the characters written, or -1 when the output was cut.
// The formats follow the Windows runtime: in FormatW "%s" is wide text and "%S" narrow text,
// in FormatA "%s" is narrow text and "%S" wide text.
int FormatW(wchar_t* target, size_t count, const wchar_t* format, ...);
int FormatA(char* target, size_t count, const char* format, ...)
    __attribute__((format(ms_printf, 3, 4)));

// printf-style formatting into an owned wide string sized to fit, so nothing is ever cut.
// False, with the string emptied, when no memory can be had.
bool FormatInto(zqWString& target, const wchar_t* format, ...);
