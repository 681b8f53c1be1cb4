#include "foundation/Bytes.h"

#include <stdlib.h>
#include <string.h>

Bytes::~Bytes()
{
    free(data);
}

void Put(Bytes& out, const void* bytes, size_t count)
{
    if (out.failed)
        return;
    if (out.size + count > out.capacity) {
        size_t capacity = out.capacity == 0 ? 1 << 16 : out.capacity;
        while (capacity < out.size + count)
            capacity *= 2;
        unsigned char* grown = static_cast<unsigned char*>(realloc(out.data, capacity));
        if (grown == nullptr) {
            out.failed = true;
            return;
        }
        out.data = grown;
        out.capacity = capacity;
    }
    memcpy(out.data + out.size, bytes, count);
    out.size += count;
}
