#include "foundation/TextIndex.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

wchar_t Folded(wchar_t c, bool ignoreCase)
{
    return ignoreCase && c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

size_t HashOf(const wchar_t* text, bool ignoreCase)
{
    size_t hash = 14695981039346656037ull & static_cast<size_t>(-1);  // FNV-1a
    for (; *text != 0; ++text)
        hash = (hash ^ static_cast<size_t>(Folded(*text, ignoreCase))) * static_cast<size_t>(1099511628211ull);
    return hash;
}

bool Same(const wchar_t* a, const wchar_t* b, bool ignoreCase)
{
    for (; *a != 0 && Folded(*a, ignoreCase) == Folded(*b, ignoreCase); ++a, ++b) {
    }
    return Folded(*a, ignoreCase) == Folded(*b, ignoreCase);
}

// The slot holding text, or the empty slot where it belongs.
size_t SlotOf(const TextIndex& index, const wchar_t* text)
{
    size_t mask = index.capacity - 1;
    size_t slot = HashOf(text, index.ignoreCase) & mask;
    while (index.slots[slot] != nullptr && !Same(index.slots[slot], text, index.ignoreCase))
        slot = (slot + 1) & mask;
    return slot;
}

bool Grow(TextIndex& index)
{
    size_t capacity = index.capacity == 0 ? 64 : index.capacity * 2;
    const wchar_t** slots = static_cast<const wchar_t**>(calloc(capacity, sizeof(const wchar_t*)));
    if (slots == nullptr)
        return false;
    TextIndex grown(index.ignoreCase);
    grown.slots = slots;
    grown.capacity = capacity;
    for (size_t i = 0; i < index.capacity; ++i) {
        if (index.slots[i] != nullptr)
            slots[SlotOf(grown, index.slots[i])] = index.slots[i];
    }
    free(index.slots);
    index.slots = slots;
    index.capacity = capacity;
    grown.slots = nullptr;
    return true;
}

}  // namespace

TextIndex::~TextIndex()
{
    free(slots);
}

bool TextIndexContains(const TextIndex& index, const wchar_t* text)
{
    return index.capacity != 0 && index.slots[SlotOf(index, text)] != nullptr;
}

bool TextIndexAdd(TextIndex& index, const wchar_t* text)
{
    // Kept at most half full, so that a search stops soon.
    if ((index.count + 1) * 2 > index.capacity && !Grow(index))
        return false;
    size_t slot = SlotOf(index, text);
    if (index.slots[slot] == nullptr) {
        index.slots[slot] = text;
        ++index.count;
    }
    return true;
}
