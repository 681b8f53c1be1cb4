// A set of wide texts held elsewhere: the index keeps pointers, not copies, so the texts must
// outlive it. Membership in constant time, exactly or ignoring ASCII letter case.
#pragma once

#include <stddef.h>

struct TextIndex {
    explicit TextIndex(bool ignoreCase = false) : ignoreCase(ignoreCase) {}
    ~TextIndex();
    TextIndex(const TextIndex&) = delete;
    TextIndex& operator=(const TextIndex&) = delete;

    const wchar_t** slots = nullptr;
    size_t capacity = 0;  // 0 or a power of two
    size_t count = 0;
    bool ignoreCase;
};

bool TextIndexContains(const TextIndex& index, const wchar_t* text);
// False when the index cannot grow (no memory): the text is then not indexed.
bool TextIndexAdd(TextIndex& index, const wchar_t* text);
