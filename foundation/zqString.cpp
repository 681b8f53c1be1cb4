#include "foundation/zqString.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

size_t TextLength(const char* text) { return strlen(text); }
size_t TextLength(const wchar_t* text) { return wcslen(text); }

// Size of the other-width conversion of text, terminator included; 0 when it cannot convert.
// (The runtime's plain conversions: Windows XP's has no checked ones.)
size_t ConvertedSize(const char* text)
{
    size_t size = mbstowcs(nullptr, text, 0);
    return size == static_cast<size_t>(-1) ? 0 : size + 1;
}
size_t ConvertedSize(const wchar_t* text)
{
    size_t size = wcstombs(nullptr, text, 0);
    return size == static_cast<size_t>(-1) ? 0 : size + 1;
}

// Converts into target (room for room characters, terminator included); returns the characters
// converted including the terminator, 0 when nothing was converted.
size_t Convert(wchar_t* target, size_t room, const char* text)
{
    size_t converted = room == 0 ? static_cast<size_t>(-1) : mbstowcs(target, text, room - 1);
    if (converted == static_cast<size_t>(-1))
        return 0;
    target[converted] = 0;
    return converted + 1;
}
size_t Convert(char* target, size_t room, const wchar_t* text)
{
    size_t converted = room == 0 ? static_cast<size_t>(-1) : wcstombs(target, text, room - 1);
    if (converted == static_cast<size_t>(-1))
        return 0;
    target[converted] = 0;
    return converted + 1;
}

template <typename T>
const T* EmptyText();
template <>
const char* EmptyText<char>() { return ""; }
template <>
const wchar_t* EmptyText<wchar_t>() { return L""; }

// Assign and Append with text of the other width, shared by both classes.
template <typename T, typename Other>
bool AssignOther(zqTString<T>& s, const Other* text)
{
    size_t needed = 0;
    if (text != nullptr && text[0] != 0) {
        needed = ConvertedSize(text);
        if (needed == 0) {
            s.Reserve(0);  // the text cannot be converted: the string is left empty
            return false;
        }
    }
    // Reserve grows to exactly needed + 1 (one more than the conversion asks for) and cuts the
    // old text to at most needed characters.
    if (!s.Reserve(static_cast<int>(needed)))
        return false;
    if (text == nullptr || text[0] == 0)
        return true;
    size_t converted = Convert(s.buffer, static_cast<size_t>(s.capacity), text);
    if (converted == 0) {
        s.Reserve(0);
        return false;
    }
    s.length = static_cast<int>(TextLength(s.buffer));
    return true;
}

template <typename T, typename Other>
bool AppendOther(zqTString<T>& s, const Other* text)
{
    if (text == nullptr || text[0] == 0)
        return true;
    size_t needed = ConvertedSize(text);
    if (needed == 0)
        return false;
    int oldLength = s.length;
    if (!s.Reserve(oldLength + static_cast<int>(needed)))
        return false;
    size_t converted = Convert(s.buffer + oldLength, static_cast<size_t>(s.capacity - oldLength), text);
    if (converted == 0) {
        s.buffer[oldLength] = 0;  // the old text stays as it was
        return false;
    }
    s.length = oldLength + static_cast<int>(TextLength(s.buffer + oldLength));
    return true;
}

}  // namespace

template <typename T>
zqTString<T>::~zqTString()
{
    Release();
}

template <typename T>
void zqTString<T>::Release()
{
    if (capacity != 0) {
        length = 0;
        free(buffer);
        buffer = nullptr;
        capacity = 0;
    }
}

template <typename T>
bool zqTString<T>::SetCapacity(int size)
{
    T* grown = static_cast<T*>(realloc(buffer, static_cast<size_t>(size) * sizeof(T)));
    if (grown == nullptr) {
        // The old block stays valid and keeps its capacity; the text is given up.
        length = 0;
        if (buffer != nullptr)
            buffer[0] = 0;
        return false;
    }
    buffer = grown;
    if (length >= size)
        length = size - 1;
    buffer[length] = 0;
    capacity = size;
    return true;
}

template <typename T>
bool zqTString<T>::Reserve(int n)
{
    if (n < 0)
        n = 0;
    if (n != 0 && n >= capacity && !SetCapacity(n + 1))
        return false;
    if (length > n)
        length = n;
    if (buffer != nullptr)
        buffer[length] = 0;
    return true;
}

template <typename T>
bool zqTString<T>::AssignSame(const T* text)
{
    int n = text == nullptr ? 0 : static_cast<int>(TextLength(text));
    if (!Reserve(n))
        return false;
    if (n == 0)
        return true;
    memcpy(buffer, text, static_cast<size_t>(n) * sizeof(T));
    buffer[n] = 0;
    length = n;
    return true;
}

template <typename T>
bool zqTString<T>::AppendSame(const T* text)
{
    if (text == nullptr || text[0] == 0)
        return true;
    int n = static_cast<int>(TextLength(text));
    int oldLength = length;
    // Grown by at least half again: a text built piece by piece (a registry export) is copied a
    // bounded number of times, not once per piece.
    if (oldLength + n >= capacity && !SetCapacity(oldLength + n + 1 > capacity + capacity / 2 ? oldLength + n + 1
                                                                                              : capacity + capacity / 2))
        return false;
    memcpy(buffer + oldLength, text, static_cast<size_t>(n) * sizeof(T));
    length = oldLength + n;
    buffer[length] = 0;
    return true;
}

template class zqTString<char>;
template class zqTString<wchar_t>;

zqString::zqString(const zqString& other) : zqTString<char>() { Assign(other.Get()); }
zqString& zqString::operator=(const zqString& other)
{
    if (this != &other)
        Assign(other.Get());
    return *this;
}
const char* zqString::Get() const { return buffer != nullptr ? buffer : EmptyText<char>(); }
bool zqString::Assign(const char* text) { return AssignSame(text); }
bool zqString::Assign(const wchar_t* text) { return AssignOther(*this, text); }
bool zqString::Append(const char* text) { return AppendSame(text); }
bool zqString::Append(const wchar_t* text) { return AppendOther(*this, text); }

zqWString::zqWString(const zqWString& other) : zqTString<wchar_t>() { Assign(other.Get()); }
zqWString& zqWString::operator=(const zqWString& other)
{
    if (this != &other)
        Assign(other.Get());
    return *this;
}
const wchar_t* zqWString::Get() const { return buffer != nullptr ? buffer : EmptyText<wchar_t>(); }
bool zqWString::Assign(const wchar_t* text) { return AssignSame(text); }
bool zqWString::Assign(const char* text) { return AssignOther(*this, text); }
bool zqWString::Append(const wchar_t* text) { return AppendSame(text); }
bool zqWString::Append(const char* text) { return AppendOther(*this, text); }

int FormatW(wchar_t* target, size_t count, const wchar_t* format, ...)
{
    if (target == nullptr || count == 0)
        return -1;
    va_list args;
    va_start(args, format);
    // -1 when cut; the text is terminated either way.
    int written = _vsnwprintf(target, count - 1, format, args);
    va_end(args);
    target[count - 1] = 0;
    return written;
}

int FormatA(char* target, size_t count, const char* format, ...)
{
    if (target == nullptr || count == 0)
        return -1;
    va_list args;
    va_start(args, format);
    int written = _vsnprintf(target, count - 1, format, args);
    va_end(args);
    target[count - 1] = 0;
    return written;
}

bool FormatInto(zqWString& target, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = _vscwprintf(format, args);
    va_end(args);
    if (length < 0 || !target.Reserve(length)) {
        target.Reserve(0);
        return false;
    }
    if (length == 0)
        return true;
    va_start(args, format);
    _vsnwprintf(target.buffer, static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    target.buffer[length] = 0;
    target.length = length;
    return true;
}
