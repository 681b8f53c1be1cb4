// Bytes gathered for a file written whole: the prepared script, the snapshot, the draft.
#pragma once

#include <stddef.h>

struct Bytes {
    Bytes() = default;
    ~Bytes();
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    unsigned char* data = nullptr;
    size_t size = 0, capacity = 0;
    bool failed = false;  // some bytes could not be added: no memory
};

// Appends count bytes, growing the block geometrically.
void Put(Bytes& out, const void* bytes, size_t count);
