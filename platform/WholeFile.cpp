#include "platform/WholeFile.h"

#include <stdlib.h>

#include "foundation/zqString.h"

bool WriteWholeFile(const wchar_t* path, const void* bytes, size_t size, DWORD* error, bool durable)
{
    zqWString temporary;
    if (!FormatInto(temporary, L"%s.tmp", path)) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    DeleteFileW(temporary.Get());
    bool whole = false;
    {
        FileHandle file(
            CreateFileW(temporary.Get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        const char* next = static_cast<const char*>(bytes);
        whole = file.Valid();
        for (size_t left = size; whole && left > 0;) {
            DWORD piece = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left), written = 0;
            whole = WriteFile(file.Get(), next, piece, &written, nullptr) && written == piece;
            next += piece;
            left -= piece;
        }
        whole = whole && (!durable || FlushFileBuffers(file.Get()));
        *error = whole ? 0 : GetLastError();
    }
    DWORD moveFlags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
    if (whole && MoveFileExW(temporary.Get(), path, moveFlags))
        return true;
    if (whole)
        *error = GetLastError();
    DeleteFileW(temporary.Get());
    return false;
}

bool ReadWholeFile(const wchar_t* path, size_t limit, HeapBlock* bytes, size_t* size, DWORD* error)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length;
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &length)) {
        *error = GetLastError();
        return false;
    }
    if (length.QuadPart < 0 || static_cast<unsigned long long>(length.QuadPart) > limit) {
        *error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    *size = static_cast<size_t>(length.QuadPart);
    bytes->Reset(malloc(*size + 1));
    char* text = static_cast<char*>(bytes->Get());
    if (text == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    for (size_t done = 0; done < *size;) {
        DWORD piece = *size - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(*size - done), got = 0;
        if (!ReadFile(file.Get(), text + done, piece, &got, nullptr)) {
            *error = GetLastError();
            return false;
        }
        if (got == 0) {
            *size = done;  // it shrank while read
            break;
        }
        done += got;
    }
    text[*size] = 0;
    return true;
}
