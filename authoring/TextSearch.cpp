#include "authoring/TextSearch.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "foundation/HeapArray.h"

namespace {

const uint64_t kBase = 1099511628211ull;

uint64_t HashOf(const char* text, size_t length)
{
    uint64_t hash = 0;
    for (size_t i = 0; i < length; ++i)
        hash = hash * kBase + static_cast<unsigned char>(text[i]);
    return hash;
}

// The needles of one length by hash: open addressing on the hash's high bits (a polynomial
// hash mixes its low bits poorly), equal hashes chained; and a filter of one bit per 16 bits
// of hash, which passes over almost every place of a text with one look.
struct LengthTable {
    size_t* slots = nullptr;  // needle + 1, 0 when empty
    uint64_t* hashes = nullptr;
    size_t mask = 0;
    int shift = 0;            // the slot is the hash's top bits
    size_t* next = nullptr;   // the next needle of the same hash + 1
    uint64_t filter[1024];
};

inline size_t FilterBit(uint64_t hash)
{
    return static_cast<size_t>(hash >> 20) & 0xFFFF;
}

}  // namespace

bool FindNeedles(const Needle* needles, size_t needleCount, const Haystack* texts, size_t textCount, NeedleFound found,
                 void* context)
{
    HeapArray<size_t> byLengthBlock(needleCount + 1), lastBlock(needleCount + 1), nextBlock(needleCount + 1);
    size_t* byLength = byLengthBlock.Get();
    size_t* last = lastBlock.Get();  // the last text a needle was found in, + 1
    if (byLength == nullptr || last == nullptr || nextBlock.Get() == nullptr)
        return false;
    for (size_t i = 0; i < needleCount; ++i) {
        byLength[i] = i;
        last[i] = 0;
    }
    std::sort(byLength, byLength + needleCount,
              [needles](size_t a, size_t b) { return needles[a].length < needles[b].length; });
    LengthTable table;
    table.next = nextBlock.Get();
    for (size_t first = 0, end = 0; first < needleCount; first = end) {
        size_t length = needles[byLength[first]].length;
        for (end = first; end < needleCount && needles[byLength[end]].length == length;)
            ++end;
        if (length == 0)
            continue;  // an empty needle is found nowhere: the run passes it over
        size_t capacity = 4;
        table.shift = 62;
        while (capacity < 2 * (end - first)) {
            capacity *= 2;
            --table.shift;
        }
        HeapArray<size_t> slotsBlock(capacity);
        HeapArray<uint64_t> hashesBlock(capacity);
        table.slots = slotsBlock.Get();
        table.hashes = hashesBlock.Get();
        if (table.slots == nullptr || table.hashes == nullptr)
            return false;
        memset(table.slots, 0, capacity * sizeof(size_t));
        table.mask = capacity - 1;
        memset(table.filter, 0, sizeof table.filter);
        for (size_t k = first; k < end; ++k) {
            size_t needle = byLength[k];
            uint64_t hash = HashOf(needles[needle].text, length);
            table.filter[FilterBit(hash) / 64] |= uint64_t(1) << (FilterBit(hash) % 64);
            size_t slot = static_cast<size_t>(hash >> table.shift);
            while (table.slots[slot] != 0 && table.hashes[slot] != hash)
                slot = (slot + 1) & table.mask;
            table.next[needle] = table.slots[slot];
            table.slots[slot] = needle + 1;
            table.hashes[slot] = hash;
        }
        uint64_t power = 1;  // kBase to the length - 1
        for (size_t i = 1; i < length; ++i)
            power *= kBase;
        for (size_t t = 0; t < textCount; ++t) {
            const unsigned char* text = reinterpret_cast<const unsigned char*>(texts[t].text);
            if (texts[t].length < length)
                continue;
            uint64_t hash = HashOf(texts[t].text, length);
            for (size_t at = 0;; ++at) {
                size_t bit = FilterBit(hash), slot = static_cast<size_t>(hash >> table.shift);
                bool maybe = (table.filter[bit / 64] >> (bit % 64)) & 1;
                for (; maybe && table.slots[slot] != 0; slot = (slot + 1) & table.mask) {
                    if (table.hashes[slot] != hash)
                        continue;
                    for (size_t n = table.slots[slot]; n != 0; n = table.next[n - 1]) {
                        if (last[n - 1] != t + 1 && memcmp(needles[n - 1].text, text + at, length) == 0) {
                            last[n - 1] = t + 1;
                            found(context, n - 1, t);
                        }
                    }
                    break;
                }
                if (at + length >= texts[t].length)
                    break;
                hash = (hash - text[at] * power) * kBase + text[at + length];
            }
        }
    }
    return true;
}
