#include "foundation/zqList.h"

#include <stdlib.h>
#include <string.h>

zqPtrArray::~zqPtrArray()
{
    FreeArray();
}

void zqPtrArray::FreeArray()
{
    free(data);
    data = nullptr;
    count = 0;
    capacity = 0;
}

void** zqPtrArray::InsertAt(int index)
{
    if (index < 0)
        return nullptr;
    int needed = (index > count ? index : count) + 1;
    if (capacity < needed) {
        int grown = (needed + 31) & ~31;
        void** larger = static_cast<void**>(realloc(data, static_cast<size_t>(grown) * sizeof(void*)));
        if (larger == nullptr)
            return nullptr;
        for (int i = count; i < grown; ++i)
            larger[i] = nullptr;
        data = larger;
        capacity = grown;
    }
    if (index < count)
        memmove(&data[index + 1], &data[index], static_cast<size_t>(count - index) * sizeof(void*));
    data[index] = nullptr;
    count = needed;
    return &data[index];
}

bool zqPtrArray::Append(void* element)
{
    void** slot = InsertAt(count);
    if (slot == nullptr)
        return false;
    *slot = element;
    return true;
}

void* zqPtrArray::At(int index) const
{
    return index >= 0 && index < count ? data[index] : nullptr;
}
