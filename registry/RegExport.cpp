#include "registry/RegExport.h"

#include <stdlib.h>
#include <wchar.h>

#include "foundation/Handles.h"

const wchar_t kRegFileHeader[] = L"Windows Registry Editor Version 5.00\r\n";

namespace {

bool Put(zqWString* text, const wchar_t* piece) { return text->Append(piece); }

// A name or string between quotes, its backslashes and quotes escaped.
bool PutQuoted(zqWString* text, const wchar_t* value, size_t length)
{
    zqWString quoted;
    if (!quoted.Reserve(static_cast<int>(length * 2 + 2)))
        return false;
    wchar_t* out = quoted.buffer;
    *out++ = L'"';
    for (size_t i = 0; i < length; ++i) {
        if (value[i] == L'\\' || value[i] == L'"')
            *out++ = L'\\';
        *out++ = value[i];
    }
    *out++ = L'"';
    *out = 0;
    quoted.length = static_cast<int>(out - quoted.buffer);
    return Put(text, quoted.Get());
}

bool PutHex(zqWString* text, DWORD type, const BYTE* data, DWORD size)
{
    wchar_t prefix[16];
    if (type == REG_BINARY)
        wcscpy(prefix, L"hex:");
    else
        FormatW(prefix, 16, L"hex(%x):", static_cast<unsigned>(type));
    zqWString hex;
    if (!hex.Reserve(static_cast<int>(size * 3 + 16)))
        return false;
    static const wchar_t digits[] = L"0123456789abcdef";
    wchar_t* out = hex.buffer;
    for (const wchar_t* p = prefix; *p != 0; ++p)
        *out++ = *p;
    for (DWORD i = 0; i < size; ++i) {
        if (i > 0)
            *out++ = L',';
        *out++ = digits[data[i] >> 4];
        *out++ = digits[data[i] & 15];
    }
    *out = 0;
    hex.length = static_cast<int>(out - hex.buffer);
    return Put(text, hex.Get());
}

// A string goes as text only when it is exactly text and one terminator.
bool IsPlainString(const BYTE* data, DWORD size)
{
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0)
        return false;
    const wchar_t* chars = reinterpret_cast<const wchar_t*>(data);
    size_t count = size / sizeof(wchar_t);
    return chars[count - 1] == 0 && wmemchr(chars, 0, count - 1) == nullptr &&
           wcspbrk(chars, L"\r\n") == nullptr;
}

bool PutValue(zqWString* text, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    if (!(name[0] == 0 ? Put(text, L"@") : PutQuoted(text, name, wcslen(name))) || !Put(text, L"="))
        return false;
    bool done;
    if (type == REG_SZ && IsPlainString(data, size)) {
        done = PutQuoted(text, reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t) - 1);
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        wchar_t dword[16];
        FormatW(dword, 16, L"dword:%08lx", *reinterpret_cast<const DWORD*>(data));
        done = Put(text, dword);
    } else {
        done = PutHex(text, type, data, size);
    }
    return done && Put(text, L"\r\n");
}

// The values of an open key: all of them, or the one named.
bool PutValues(zqWString* text, HKEY key, const wchar_t* onlyName)
{
    DWORD values = 0, longestName = 0, longestData = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                                   &longestData, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
        return false;
    }
    HeapBlock name(malloc((longestName + 2) * sizeof(wchar_t)));
    HeapBlock data(malloc(longestData + 2));
    if (!name.Valid() || !data.Valid()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    wchar_t* nameText = static_cast<wchar_t*>(name.Get());
    BYTE* bytes = static_cast<BYTE*>(data.Get());
    if (onlyName != nullptr) {
        DWORD type = 0, size = longestData;
        result = RegQueryValueExW(key, onlyName, nullptr, &type, bytes, &size);
        if (result != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(result));
            return false;
        }
        return PutValue(text, onlyName, type, bytes, size);
    }
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = longestName + 1, type = 0, size = longestData;
        result = RegEnumValueW(key, i, nameText, &nameLength, nullptr, &type, bytes, &size);
        if (result != ERROR_SUCCESS || !PutValue(text, nameText, type, bytes, size)) {
            SetLastError(result != ERROR_SUCCESS ? static_cast<DWORD>(result) : ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    return true;
}

bool PutKey(zqWString* text, HKEY key, const zqWString& fullName, const wchar_t* onlyValue)
{
    if (!Put(text, L"\r\n[") || !Put(text, fullName.Get()) || !Put(text, L"]\r\n") ||
        !PutValues(text, key, onlyValue))
        return false;
    if (onlyValue != nullptr)
        return true;
    // Every subkey, or a failure: a backup that silently missed one would lose it.
    wchar_t child[512];
    for (DWORD i = 0;; ++i) {
        LONG result = RegEnumKeyW(key, i, child, 512);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        RegKey childKey;
        zqWString childName;
        if (result == ERROR_SUCCESS)
            result = RegOpenKeyExW(key, child, 0, KEY_READ, childKey.Put());
        if (result != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(result));
            return false;
        }
        if (!FormatInto(childName, L"%s\\%s", fullName.Get(), child) || !PutKey(text, childKey.Get(), childName, nullptr))
            return false;
    }
    return true;
}

}  // namespace

const wchar_t* RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER)
        return L"HKEY_CURRENT_USER";
    if (root == HKEY_CLASSES_ROOT)
        return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_USERS)
        return L"HKEY_USERS";
    if (root == HKEY_CURRENT_CONFIG)
        return L"HKEY_CURRENT_CONFIG";
    return nullptr;
}

bool RegKeyName(HKEY root, const wchar_t* path, zqWString* name)
{
    if (RootName(root) == nullptr || !name->Assign(RootName(root)))
        return false;
    for (const wchar_t* part = path; *part != 0;) {
        size_t length = wcscspn(part, L"\\");
        zqWString piece;
        if (length > 0 && (!FormatInto(piece, L"\\%.*s", static_cast<int>(length), part) || !name->Append(piece.Get())))
            return false;
        part += length;
        part += wcsspn(part, L"\\");
    }
    return true;
}

bool ExportRegistry(HKEY root, const wchar_t* path, const wchar_t* valueName, zqWString* text)
{
    zqWString fullName;
    RegKey key;
    LONG result = RegOpenKeyExW(root, path, 0, KEY_READ, key.Put());
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
        return false;
    }
    if (!RegKeyName(root, path, &fullName)) {
        SetLastError(RootName(root) == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return PutKey(text, key.Get(), fullName, valueName);
}

bool WriteRegFile(const wchar_t* file, const zqWString& text)
{
    FileHandle out(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Valid())
        return false;
    static const BYTE mark[2] = {0xFF, 0xFE};
    DWORD written = 0, size = static_cast<DWORD>(text.length * sizeof(wchar_t));
    return WriteFile(out.Get(), mark, 2, &written, nullptr) && written == 2 &&
           WriteFile(out.Get(), text.Get(), size, &written, nullptr) && written == size;
}
