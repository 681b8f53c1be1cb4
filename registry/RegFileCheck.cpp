#include "registry/RegFileCheck.h"

#include <wchar.h>

#include "foundation/Handles.h"
#include "foundation/HeapArray.h"
#include "foundation/zqString.h"
#include "registry/RegExport.h"

namespace {

// A .reg file larger than this is no backup of ours.
const LONGLONG kLargestRegFile = 1LL << 30;

// The value's name in a value line ("@" or a quoted name with \\ and \" escaped); false when the
// line is no value line. *data: where its data begins, after the "=".
bool ValueLineName(const wchar_t* line, const wchar_t* end, zqWString* name, const wchar_t** data)
{
    if (line < end && *line == L'@') {
        *data = line + 1;
        name->Assign(L"");
    } else if (line < end && *line == L'"') {
        if (!name->Reserve(static_cast<int>(end - line)))
            return false;
        int length = 0;
        const wchar_t* c = line + 1;
        for (; c < end && *c != L'"'; ++c) {
            if (*c == L'\\' && c + 1 < end)
                ++c;
            name->buffer[length++] = *c;
        }
        if (c == end)
            return false;
        name->buffer[length] = 0;
        name->length = length;
        *data = c + 1;
    } else {
        return false;
    }
    // A value to delete ("name"=-) is nothing the export writes.
    return *data < end && **data == L'=' && *data + 1 < end && (*data)[1] != L'-';
}

bool KeyLineWithin(const wchar_t* line, const wchar_t* end, const zqWString& key, bool keyAlone)
{
    // "[name]": a key to delete ("[-name]") or a name with an empty part is nothing of ours.
    size_t length = static_cast<size_t>(end - line);
    if (length < 3 || end[-1] != L']' || line[1] == L'-')
        return false;
    const wchar_t* name = line + 1;
    size_t nameLength = length - 2;
    for (size_t i = 0; i + 1 < nameLength; ++i)
        if (name[i] == L'\\' && name[i + 1] == L'\\')
            return false;
    if (nameLength < static_cast<size_t>(key.length) || _wcsnicmp(name, key.Get(), static_cast<size_t>(key.length)) != 0)
        return false;
    if (nameLength == static_cast<size_t>(key.length))
        return true;
    return !keyAlone && name[key.length] == L'\\' && name[nameLength - 1] != L'\\';
}

}  // namespace

bool RegFileStaysWithin(const wchar_t* file, HKEY root, const wchar_t* path, const wchar_t* valueName)
{
    zqWString key, name;
    if (!RegKeyName(root, path, &key))
        return false;
    FileHandle in(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
    LARGE_INTEGER size = {};
    if (!in.Valid() || !GetFileSizeEx(in.Get(), &size))
        return false;
    if (size.QuadPart < 2 || size.QuadPart > kLargestRegFile || size.QuadPart % 2 != 0)
        return false;
    HeapArray<wchar_t> block(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t));
    DWORD got = 0;
    if (!block.Valid() || !ReadFile(in.Get(), block.Get(), static_cast<DWORD>(size.QuadPart), &got, nullptr) ||
        got != size.QuadPart)
        return false;
    const wchar_t* text = block.Get();
    const wchar_t* end = text + got / sizeof(wchar_t);
    size_t headerLength = wcslen(kRegFileHeader) - 2;  // without its line end
    if (*text != 0xFEFF || static_cast<size_t>(end - text) < headerLength + 1 ||
        wcsncmp(text + 1, kRegFileHeader, headerLength) != 0 || wmemchr(text, 0, static_cast<size_t>(end - text)) != nullptr)
        return false;
    bool inKey = false;
    // Every piece between line ends, a lone CR or LF included, is judged on its own.
    for (const wchar_t* line = text + 1 + headerLength; line < end;) {
        const wchar_t* stop = line;
        while (stop < end && *stop != L'\r' && *stop != L'\n')
            ++stop;
        const wchar_t* data = nullptr;
        if (stop == line) {
            // an empty line
        } else if (stop[-1] == L'\\') {
            return false;  // continued on the next line
        } else if (*line == L'[') {
            if (!KeyLineWithin(line, stop, key, valueName != nullptr))
                return false;
            inKey = true;
        } else if (!inKey || !ValueLineName(line, stop, &name, &data) ||
                   (valueName != nullptr && wcscmp(name.Get(), valueName) != 0)) {
            return false;
        }
        line = stop + 1;
    }
    return true;
}
