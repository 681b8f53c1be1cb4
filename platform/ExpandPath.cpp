#include "platform/ExpandPath.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// '/' to '\', runs of '\' collapsed from the second character on, runs of three or more
// dots shortened to two. Each compaction looks ahead in the text as it stood before it.
template <typename C>
int Normalise(C* path)
{
    int length = 0;
    while (path[length] != 0)
        ++length;
    for (int i = 0; i < length; ++i)
        if (path[i] == C('/'))
            path[i] = C('\\');

    int out = 0;
    for (int i = 0; i < length; ++i) {
        bool doubled = i >= 1 && path[i] == C('\\') && path[i + 1] == C('\\');
        if (!doubled)
            path[out++] = path[i];
    }
    path[out] = 0;
    length = out;

    out = 0;
    for (int i = 0; i < length; ++i) {
        bool tripled = path[i] == C('.') && i + 2 < length && path[i + 1] == C('.') && path[i + 2] == C('.');
        if (!tripled)
            path[out++] = path[i];
    }
    path[out] = 0;
    return out;
}

DWORD ExpandInto(const wchar_t* path, wchar_t* target, DWORD size) { return ExpandEnvironmentStringsW(path, target, size); }

template <typename C>
bool Expand(const C* path, C** result)
{
    if (result == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    static const C empty[1] = {0};
    if (path == nullptr)
        path = empty;
    DWORD needed = ExpandInto(path, nullptr, 0);
    // The environment may change between the size query and the expansion. A cut expansion
    // would name some other folder (a parent, say), so it is never used: the expansion is
    // repeated with the size the system asks for, and given up after a few tries.
    for (int attempt = 0;; ++attempt) {
        DWORD size = needed + 1;
        C* block = static_cast<C*>(malloc(static_cast<size_t>(size) * sizeof(C)));
        *result = block;
        if (block == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        DWORD got = ExpandInto(path, block, size);
        if (got != 0 && got <= size)
            break;
        DWORD error = got == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
        free(block);
        *result = nullptr;
        if (got == 0 || attempt == 2) {
            SetLastError(error);
            return false;
        }
        needed = got;
    }
    C* block = *result;
    int length = Normalise(block);
    C* shrunk = static_cast<C*>(realloc(block, (static_cast<size_t>(length) + 1) * sizeof(C)));
    if (shrunk == nullptr) {
        free(block);
        *result = nullptr;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    *result = shrunk;
    return true;
}

}  // namespace

bool ExpandPathW(const wchar_t* path, wchar_t** result) { return Expand(path, result); }
int NormalisePathW(wchar_t* path) { return Normalise(path); }
