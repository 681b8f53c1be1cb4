#include "authoring/SnapshotFile.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "foundation/Bytes.h"
#include "authoring/Walk.h"
#include "foundation/Handles.h"
#include "platform/WholeFile.h"
#include "registry/RegistryKey.h"

namespace {

const unsigned char kMark[8] = {'Z', 'Q', 'S', 'N', 'A', 'P', '\r', '\n'};
const size_t kLargestSnapshot = size_t(1) << 30;

// --- writing ------------------------------------------------------------------------------

void PutVarint(Bytes& out, uint64_t value)
{
    unsigned char bytes[10];
    size_t count = 0;
    do {
        bytes[count] = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
        bytes[count++] |= value != 0 ? 0x80 : 0;
    } while (value != 0);
    Put(out, bytes, count);
}

void PutFixed(Bytes& out, uint64_t value, int width)
{
    unsigned char bytes[8];
    for (int i = 0; i < width; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    Put(out, bytes, static_cast<size_t>(width));
}

void PutUnits(Bytes& out, const wchar_t* units, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        PutVarint(out, static_cast<uint16_t>(units[i]));
}

void PutText(Bytes& out, const wchar_t* text, size_t length)
{
    PutVarint(out, length);
    PutUnits(out, text, length);
}

// The text as the units it shares with the one before it and the units that follow.
void PutFrontCoded(Bytes& out, const wchar_t* text, size_t length, const wchar_t* before, size_t beforeLength)
{
    size_t shared = 0;
    while (shared < length && shared < beforeLength && text[shared] == before[shared])
        ++shared;
    PutVarint(out, shared);
    PutVarint(out, length - shared);
    PutUnits(out, text + shared, length - shared);
}

void PutPlaceItems(Bytes& out, const Listing& listing, int place)
{
    const wchar_t *path = L"", *name = L"";
    size_t pathLength = 0, nameLength = 0;
    PutVarint(out, listing.placeStart[place + 1] - listing.placeStart[place]);
    for (uint32_t i = listing.placeStart[place]; i < listing.placeStart[place + 1]; ++i) {
        const Item& item = listing.items[listing.order[i]];
        const wchar_t* text = listing.pool + item.text;
        unsigned char kind = static_cast<unsigned char>(item.kind);
        Put(out, &kind, 1);
        if (item.kind == ItemKind::Value) {
            PutFrontCoded(out, text, item.length, name, nameLength);
            name = text;
            nameLength = item.length;
            PutVarint(out, item.type);
            PutVarint(out, item.size);
            PutFixed(out, item.stamp, 8);
            continue;
        }
        PutFrontCoded(out, text, item.length, path, pathLength);
        path = text;
        pathLength = item.length;
        if (item.kind == ItemKind::Key)
            nameLength = 0;  // a key's value names are coded among themselves
        if (item.kind == ItemKind::File) {
            PutVarint(out, item.size);
            PutVarint(out, item.stamp);
        } else {
            PutVarint(out, item.type);
        }
    }
}

// --- reading ------------------------------------------------------------------------------

struct Cursor {
    const unsigned char* next;
    const unsigned char* end;
    bool bad = false;
};

uint64_t GetVarint(Cursor& in)
{
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (in.next == in.end)
            break;
        unsigned char byte = *in.next++;
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
    in.bad = true;
    return 0;
}

uint64_t GetFixed(Cursor& in, int width)
{
    if (in.end - in.next < width) {
        in.bad = true;
        return 0;
    }
    uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(in.next[i]) << (8 * i);
    in.next += width;
    return value;
}

// A text of its own, or front-coded over the text held in *buffer (which it then replaces).
struct TextBuffer {
    ~TextBuffer() { free(units); }
    wchar_t* units = nullptr;
    size_t length = 0, capacity = 0;
};

bool GetUnits(Cursor& in, TextBuffer& text, size_t shared)
{
    uint64_t count = GetVarint(in);
    if (in.bad || shared > text.length || count > static_cast<uint64_t>(in.end - in.next)) {
        in.bad = true;
        return false;
    }
    size_t length = shared + static_cast<size_t>(count);
    if (length + 1 > text.capacity) {
        size_t capacity = text.capacity == 0 ? 512 : text.capacity;
        while (capacity < length + 1)
            capacity *= 2;
        wchar_t* grown = static_cast<wchar_t*>(realloc(text.units, capacity * sizeof(wchar_t)));
        if (grown == nullptr) {
            in.bad = true;
            return false;
        }
        text.units = grown;
        text.capacity = capacity;
    }
    for (size_t i = shared; i < length; ++i) {
        uint64_t unit = GetVarint(in);
        if (in.bad || unit > 0xFFFF) {
            in.bad = true;
            return false;
        }
        text.units[i] = static_cast<wchar_t>(unit);
    }
    text.units[length] = 0;
    text.length = length;
    return true;
}

bool GetText(Cursor& in, zqWString* text)
{
    TextBuffer buffer;
    return GetUnits(in, buffer, 0) && text->Assign(buffer.units != nullptr ? buffer.units : L"");
}

bool GetPlaceItems(Cursor& in, Listing& listing, int place, uint32_t* read)
{
    uint64_t count = GetVarint(in);
    if (count > static_cast<uint64_t>(in.end - in.next))
        return false;  // every item takes bytes
    *read = static_cast<uint32_t>(count);
    TextBuffer path, name;
    int64_t key = -1, previous = -1;
    for (uint64_t i = 0; i < count && !in.bad; ++i) {
        uint64_t kind = GetFixed(in, 1);
        bool value = kind == static_cast<uint64_t>(ItemKind::Value);
        TextBuffer& text = value ? name : path;
        uint64_t shared = GetVarint(in);
        if (kind > static_cast<uint64_t>(ItemKind::Value) || (value && key < 0) || !GetUnits(in, text, shared))
            return false;
        int64_t added = AddItem(listing, static_cast<ItemKind>(kind), place, text.units, text.length);
        if (added < 0)
            return false;
        Item& item = listing.items[added];
        if (value) {
            item.owner = static_cast<uint32_t>(key);
            item.type = static_cast<uint32_t>(GetVarint(in));
            item.size = GetVarint(in);
            item.stamp = GetFixed(in, 8);
        } else if (item.kind == ItemKind::File) {
            item.size = GetVarint(in);
            item.stamp = GetVarint(in);
        } else {
            item.type = static_cast<uint32_t>(GetVarint(in));
        }
        if (item.kind == ItemKind::Key) {
            key = added;
            name.length = 0;
        }
        // In walk order, each item once: the comparison relies on it.
        if (previous >= 0 &&
            CompareItems(listing, static_cast<uint32_t>(previous), listing, static_cast<uint32_t>(added)) >= 0)
            return false;
        previous = added;
    }
    return !in.bad;
}

}  // namespace

bool MachineIdentity(zqWString* identity)
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length))
        name[0] = 0;
    zqWString guid;
    if (!ReadStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid", &guid, KEY_WOW64_64KEY).ok)
        guid.Assign(L"");
    return FormatInto(*identity, L"%s %s", name, guid.Get());
}

Result WriteSnapshot(const wchar_t* path, const SnapshotHeader& header, const Places& places, const Listing& listing,
                     uint64_t* size)
{
    Bytes out;
    Put(out, kMark, sizeof kMark);
    PutFixed(out, header.version, 4);
    PutFixed(out, header.build, 4);
    PutFixed(out, header.taken, 8);
    PutText(out, header.machine.Get(), static_cast<size_t>(header.machine.length));
    PutText(out, header.workDir.Get(), static_cast<size_t>(header.workDir.length));
    PutVarint(out, static_cast<uint64_t>(places.count));
    for (int p = 0; p < places.count; ++p) {
        unsigned char use = static_cast<unsigned char>(places.list[p].use);
        Put(out, &use, 1);
        PutText(out, places.list[p].root.Get(), static_cast<size_t>(places.list[p].root.length));
    }
    for (int p = 0; p < places.count; ++p)
        PutPlaceItems(out, listing, p);
    PutFixed(out, HashBytes(out.data, out.size), 8);
    if (out.failed)
        return NoMemory();
    *size = out.size;
    // Its hash stands in for a flush: a snapshot torn by a power loss is refused as damaged.
    return WriteWholeFile(path, out.data, out.size, false);
}

SnapshotRead ReadSnapshot(const wchar_t* path, SnapshotHeader* header, Places* places, Listing* listing, DWORD* error,
                          const char** why)
{
    HeapArray<char> block;
    size_t size = 0;
    Result read = ReadWholeFile(path, kLargestSnapshot, &block, &size);
    if (!read.ok) {
        *error = read.error;
        *why = "it is larger than any snapshot";
        return read.error == ERROR_FILE_TOO_LARGE ? SnapshotRead::Damaged : SnapshotRead::Missing;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(block.Get());
    *why = "it is no snapshot";
    if (size < sizeof kMark + 8 || memcmp(bytes, kMark, sizeof kMark) != 0)
        return SnapshotRead::Damaged;
    Cursor in = {bytes + sizeof kMark, bytes + size - 8};
    Cursor sum = {bytes + size - 8, bytes + size};
    *why = "its contents do not match its check sum";
    if (GetFixed(sum, 8) != HashBytes(bytes, size - 8))
        return SnapshotRead::Damaged;
    header->version = static_cast<uint32_t>(GetFixed(in, 4));
    if (header->version != kSnapshotVersion)
        return SnapshotRead::OtherVersion;
    *why = "its contents do not hold together";
    header->build = static_cast<uint32_t>(GetFixed(in, 4));
    header->taken = GetFixed(in, 8);
    uint64_t placeCount = 0;
    if (!GetText(in, &header->machine) || !GetText(in, &header->workDir) ||
        (placeCount = GetVarint(in)) > static_cast<uint64_t>(kMaxPlaces))
        return SnapshotRead::Damaged;
    places->count = static_cast<int>(placeCount);
    for (int p = 0; p < places->count; ++p) {
        uint64_t use = GetFixed(in, 1);
        if (use > kLastPlaceUse || !GetText(in, &places->list[p].root))
            return SnapshotRead::Damaged;
        places->list[p].use = static_cast<PlaceUse>(use);
    }
    uint32_t counts[kMaxPlaces] = {};
    for (int p = 0; p < places->count; ++p) {
        if (!GetPlaceItems(in, *listing, p, &counts[p]))
            return SnapshotRead::Damaged;
    }
    if (in.bad || in.next != in.end || !OrderAsRead(*listing, counts, places->count))
        return SnapshotRead::Damaged;
    return SnapshotRead::Read;
}
