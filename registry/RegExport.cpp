#include "registry/RegExport.h"

#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/HeapArray.h"
#include "registry/RegistryKey.h"

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
Result PutValues(zqWString* text, HKEY key, const wchar_t* onlyName)
{
    KeyCounts counts;
    Result result = CountsOf(key, &counts);
    if (!result.ok)
        return result;
    zqWString name;
    HeapArray<BYTE> data(counts.longestData + 2);
    if (!name.Reserve(static_cast<int>(counts.longestValueName) + 1) || !data.Valid())
        return NoMemory();
    if (onlyName != nullptr) {
        DWORD type = 0, size = counts.longestData;
        result = FromStatus(RegQueryValueExW(key, onlyName, nullptr, &type, data.Get(), &size));
        if (!result.ok)
            return result;
        return PutValue(text, onlyName, type, data.Get(), size) ? Succeeded() : NoMemory();
    }
    for (DWORD i = 0; i < counts.values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.capacity), type = 0, size = counts.longestData;
        result = FromStatus(RegEnumValueW(key, i, name.buffer, &nameLength, nullptr, &type, data.Get(), &size));
        if (!result.ok)
            return result;
        if (!PutValue(text, name.Get(), type, data.Get(), size))
            return NoMemory();
    }
    return Succeeded();
}

Result PutKey(zqWString* text, HKEY key, const zqWString& fullName, const wchar_t* onlyValue)
{
    if (!Put(text, L"\r\n[") || !Put(text, fullName.Get()) || !Put(text, L"]\r\n"))
        return NoMemory();
    Result result = PutValues(text, key, onlyValue);
    if (!result.ok || onlyValue != nullptr)
        return result;
    // Every subkey, or a failure: a backup that silently missed one would lose it.
    StringList children;
    result = SubkeyNames(key, &children);
    for (int i = 0; result.ok && i < children.count; ++i) {
        const wchar_t* child = children.At(i)->Get();
        RegKey childKey;
        zqWString childName;
        result = OpenKey(key, child, KEY_READ, &childKey);
        if (result.ok && !FormatInto(childName, L"%s\\%s", fullName.Get(), child))
            result = NoMemory();
        if (result.ok)
            result = PutKey(text, childKey.Get(), childName, nullptr);
    }
    return result;
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

Result ExportRegistry(HKEY root, const wchar_t* path, const wchar_t* valueName, zqWString* text, REGSAM view)
{
    zqWString fullName, native;
    RegKey key;
    Result opened = OpenKey(root, path, KEY_READ, &key, view);
    if (!opened.ok)
        return opened;
    if (RootName(root) == nullptr)
        return FailedBy(ERROR_INVALID_PARAMETER);
    if (!NativeKeyPath(root, path, view, &native) || !RegKeyName(root, native.Get(), &fullName))
        return NoMemory();
    return PutKey(text, key.Get(), fullName, valueName);
}

Result WriteRegFile(const wchar_t* file, const zqWString& text)
{
    FileHandle out(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Valid())
        return LastFailure();
    static const BYTE mark[2] = {0xFF, 0xFE};
    DWORD markWritten = 0, written = 0, size = static_cast<DWORD>(text.length * sizeof(wchar_t));
    if (!WriteFile(out.Get(), mark, 2, &markWritten, nullptr) || !WriteFile(out.Get(), text.Get(), size, &written, nullptr))
        return LastFailure();
    return markWritten == 2 && written == size ? Succeeded() : FailedBy(ERROR_WRITE_FAULT);
}
