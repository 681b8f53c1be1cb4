// Growable arrays of pointers, grown in steps of 32 slots; zqList owns its elements.
#pragma once

#include <new>

class zqPtrArray {
public:
    zqPtrArray() = default;
    ~zqPtrArray();
    zqPtrArray(const zqPtrArray&) = delete;
    zqPtrArray& operator=(const zqPtrArray&) = delete;

    // Opens a null slot at index (0..count) and returns its address, valid until the next
    // insertion; null for a negative index, or when the array cannot grow.
    void** InsertAt(int index);
    bool Append(void* element);
    // The pointer at index 0..count-1; otherwise null.
    void* At(int index) const;

    void** data = nullptr;
    int count = 0;
    int capacity = 0;  // 0 or a multiple of 32

protected:
    void FreeArray();
};

template <typename T>
class zqList : public zqPtrArray {
public:
    zqList() = default;
    ~zqList() { RemoveAll(); }

    // Stores a heap copy of value at index; false when no slot or no copy could be had.
    bool InsertAt(int index, const T& value)
    {
        T* copy = new (std::nothrow) T(value);
        if (copy == nullptr)
            return false;
        void** slot = zqPtrArray::InsertAt(index);
        if (slot == nullptr) {
            delete copy;
            return false;
        }
        *slot = copy;
        return true;
    }
    bool Append(const T& value) { return InsertAt(count, value); }

    // Takes over an element made with new; deletes it when no slot can be opened. A null
    // element (its allocation failed) is not stored.
    bool AppendOwned(T* element)
    {
        if (element == nullptr)
            return false;
        void** slot = zqPtrArray::InsertAt(count);
        if (slot == nullptr) {
            delete element;
            return false;
        }
        *slot = element;
        return true;
    }

    T* At(int index) const { return static_cast<T*>(zqPtrArray::At(index)); }

    // Deletes the elements from the last slot to the first and frees the array.
    bool RemoveAll()
    {
        for (int i = count - 1; i >= 0; --i)
            delete static_cast<T*>(data[i]);
        FreeArray();
        return true;
    }
};
