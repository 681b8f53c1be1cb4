// A malloc'd array of plain items that its holder owns and frees: typed, so that nothing casts a
// void* block. Move-only, like the handle holders.
#pragma once

#include <stdlib.h>

template <typename T>
struct HeapArray {
    HeapArray() = default;
    explicit HeapArray(size_t n) { Resize(n); }
    ~HeapArray() { free(items); }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    HeapArray(HeapArray&& other) noexcept : items(other.items), count(other.count)
    {
        other.items = nullptr;
        other.count = 0;
    }

    // Room for n items, those there already kept as far as they reach; false without memory,
    // and the array stays as it was.
    bool Resize(size_t n)
    {
        if (n == 0) {
            free(items);
            items = nullptr;
            count = 0;
            return true;
        }
        T* grown = static_cast<T*>(realloc(items, n * sizeof(T)));
        if (grown == nullptr)
            return false;
        items = grown;
        count = n;
        return true;
    }
    // Hands the block to the caller, who frees it.
    T* Release()
    {
        T* released = items;
        items = nullptr;
        count = 0;
        return released;
    }
    bool Valid() const { return items != nullptr; }
    T* Get() const { return items; }

    T* items = nullptr;
    size_t count = 0;
};
