#include "foundation/PathSplit.h"

#include <string.h>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Index of the last separator from the end back to the second character, or -1.
int LastSeparator(const wchar_t* path)
{
    for (int i = static_cast<int>(wcslen(path)) - 1; i >= 1; --i)
        if (IsSeparator(path[i]))
            return i;
    return -1;
}

}  // namespace

int ReplaceExtension(wchar_t* target, const wchar_t* source, const wchar_t* extension)
{
    if (target == nullptr || source == nullptr)
        return 0;
    if (target != source)
        memmove(target, source, (wcslen(source) + 1) * sizeof(wchar_t));
    for (int i = static_cast<int>(wcslen(target)) - 1; i >= 1; --i) {
        if (target[i] == L'.') {
            target[i + 1] = 0;
            if (extension != nullptr)
                wcscat(target, extension);
            return 1;
        }
    }
    return 0;
}

int SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* fileName)
{
    if (fileName == nullptr)
        return 0;
    size_t length = wcslen(path);
    if (length != 0 && IsSeparator(path[length - 1])) {
        if (folder != nullptr) {
            wcscpy(folder, path);
            AddTrailingBackslash(folder);
        }
        fileName[0] = 0;
        return 1;
    }
    int separator = LastSeparator(path);
    if (separator < 0) {
        if (folder != nullptr)
            folder[0] = 0;
        memmove(fileName, path, (length + 1) * sizeof(wchar_t));
        return 1;
    }
    if (folder != nullptr) {
        wcsncpy(folder, path, static_cast<size_t>(separator) + 1);
        folder[separator + 1] = 0;
    }
    wcscpy(fileName, path + separator + 1);
    return 1;
}

wchar_t* ToBackslashes(wchar_t* path)
{
    for (wchar_t* p = path; *p != 0; ++p)
        if (*p == L'/')
            *p = L'\\';
    return path;
}

wchar_t* AddTrailingBackslash(wchar_t* path)
{
    ToBackslashes(path);
    size_t length = wcslen(path);
    if (length == 0 || !IsSeparator(path[length - 1])) {
        path[length] = L'\\';
        path[length + 1] = 0;
    }
    return path;
}

wchar_t* CutLastSegment(wchar_t* path)
{
    int separator = LastSeparator(path);
    if (separator >= 0)
        path[separator] = 0;
    return AddTrailingBackslash(path);
}
