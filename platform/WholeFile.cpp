#include "platform/WholeFile.h"

#include "foundation/Handles.h"
#include "foundation/zqString.h"

namespace {

// The pieces of one call: ReadFile and WriteFile take at most a DWORD's worth.
const size_t kLargestPiece = 1u << 30;

Result WriteAll(HANDLE file, const void* bytes, size_t size)
{
    const char* next = static_cast<const char*>(bytes);
    for (size_t left = size; left > 0;) {
        DWORD piece = left > kLargestPiece ? static_cast<DWORD>(kLargestPiece) : static_cast<DWORD>(left), written = 0;
        if (!WriteFile(file, next, piece, &written, nullptr))
            return LastFailure();
        if (written != piece)
            return FailedBy(ERROR_WRITE_FAULT);
        next += piece;
        left -= piece;
    }
    return Succeeded();
}

}  // namespace

Result WriteWholeFile(const wchar_t* path, const void* bytes, size_t size, bool durable)
{
    zqWString temporary;
    if (!FormatInto(temporary, L"%s.tmp", path))
        return NoMemory();
    DeleteFileW(temporary.Get());
    Result written;
    {
        FileHandle file(
            CreateFileW(temporary.Get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        written = file.Valid() ? WriteAll(file.Get(), bytes, size) : LastFailure();
        if (written.ok && durable)
            written = Checked(FlushFileBuffers(file.Get()));
    }
    if (written.ok)
        written = Checked(MoveFileExW(temporary.Get(), path, MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0)));
    if (!written.ok)
        DeleteFileW(temporary.Get());
    return written;
}

Result ReadWholeFile(const wchar_t* path, size_t limit, HeapArray<char>* bytes, size_t* size)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length;
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &length))
        return LastFailure();
    if (length.QuadPart < 0 || static_cast<unsigned long long>(length.QuadPart) > limit)
        return FailedBy(ERROR_FILE_TOO_LARGE);
    *size = static_cast<size_t>(length.QuadPart);
    if (!bytes->Resize(*size + 1))
        return NoMemory();
    char* text = bytes->Get();
    for (size_t done = 0; done < *size;) {
        DWORD piece = *size - done > kLargestPiece ? static_cast<DWORD>(kLargestPiece) : static_cast<DWORD>(*size - done);
        DWORD got = 0;
        if (!ReadFile(file.Get(), text + done, piece, &got, nullptr))
            return LastFailure();
        if (got == 0) {
            *size = done;  // it shrank while read
            break;
        }
        done += got;
    }
    text[*size] = 0;
    return Succeeded();
}
