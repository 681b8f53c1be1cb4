#include "platform/ExpandPath.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "foundation/FillToFit.h"

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

}  // namespace

Result ExpandText(const wchar_t* text, zqWString* expanded)
{
    return FillToFit(expanded, [&](wchar_t* buffer, DWORD room) {
        // The count includes the terminator when the text fit, and is the room needed when not.
        DWORD got = ExpandEnvironmentStringsW(text != nullptr ? text : L"", buffer, room);
        if (got == 0)
            return Filled{0, GetLastError()};
        return Filled{got <= room ? got - 1 : got, ERROR_SUCCESS};
    });
}

Result ExpandPath(const wchar_t* path, zqWString* expanded)
{
    Result result = ExpandText(path, expanded);
    if (result.ok && expanded->buffer != nullptr)
        expanded->length = Normalise(expanded->buffer);
    return result;
}

bool ExpandPathW(const wchar_t* path, wchar_t** result)
{
    zqWString expanded;
    *result = ExpandPath(path, &expanded).ok ? _wcsdup(expanded.Get()) : nullptr;
    return *result != nullptr;
}

int NormalisePathW(wchar_t* path) { return Normalise(path); }
