// Seals: keyed digests (HMAC-SHA-256) that only the account which made the key can make again.
// The key is random and is kept only wrapped by the system's data protection for that account:
// for a backup made by the system account, nobody else can seal a changed record so that it
// passes for one the run wrote.
#pragma once

#include <stddef.h>

#include <string>

#include "foundation/Result.h"

struct SealKey {
    unsigned char bytes[32] = {};
    bool ready = false;
};

// A new random key and its wrapped form, to be kept beside what it seals; fails when the system
// cannot make or wrap one.
Result MakeSealKey(SealKey* key, std::string* wrapped);
// The key back from its wrapped form; false when it is not one this account wrapped.
bool UnwrapSealKey(const std::string& wrapped, SealKey* key);
// The seal of the bytes under the key, as 64 lower-case hex digits; empty when it cannot be made.
std::string SealOf(const SealKey& key, const void* data, size_t size);
