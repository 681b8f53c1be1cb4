#include "foundation/Utf8.h"

#include <windows.h>
#include <string.h>

std::string Utf8(const wchar_t* text, int length)
{
    if (text == nullptr || length == 0 || (length < 0 && text[0] == 0))
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, &bytes[0], size, nullptr, nullptr);
    if (length < 0 && !bytes.empty())
        bytes.pop_back();  // the terminator
    return bytes;
}

bool FromUtf8(const char* bytes, size_t size, zqWString* wide)
{
    if (size == 0)
        return wide->Assign(L"");
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), nullptr, 0);
    if (units <= 0 || memchr(bytes, 0, size) != nullptr || !wide->Reserve(units)) {
        wide->Reserve(0);
        return false;
    }
    MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), wide->buffer, units);
    wide->buffer[units] = 0;
    wide->length = units;
    return true;
}
