// The snapshot file, C:\zqclean.snapshot: what a snapshot recorded, compact, and checked as a
// whole before any of it is used.
//
//   "ZQSNAP\r\n", then u32 format version, u32 build (64 or 32), u64 time taken (UTC)
//   text machine, text working folder
//   varint place count; per place: byte use, text root
//   per place: varint item count; per item: byte kind, its text front-coded (varint units shared
//     with the previous path, or a value's name with the previous value name of its key; varint
//     units that follow; the units), then for a file varint size and write time, for a folder or
//     key varint flags, for a value varint type and size and u64 data hash
//   u64 FNV-1a hash of every byte before it
//
// Numbers are little-endian, varints LEB128, and a text is its UTF-16 units as varints: every
// name is kept exactly, unpaired surrogates and names far beyond 260 characters included.
#pragma once

#include "foundation/Result.h"

#include <windows.h>
#include <stdint.h>

#include "authoring/Listing.h"
#include "authoring/Places.h"
#include "foundation/zqString.h"

const uint32_t kSnapshotVersion = 1;

struct SnapshotHeader {
    uint32_t version = kSnapshotVersion;
    uint32_t build = kBuild;
    uint64_t taken = 0;  // UTC file time
    zqWString machine;   // the computer's name and the MachineGuid Windows gave it
    zqWString workDir;   // the working folder of the snapshot's launch, which it did not record
};

// This machine, as a snapshot names it.
bool MachineIdentity(zqWString* identity);

// Writes the sorted listing of places; *size is the file's size.
Result WriteSnapshot(const wchar_t* path, const SnapshotHeader& header, const Places& places, const Listing& listing,
                     uint64_t* size);

enum class SnapshotRead { Read, Missing, Damaged, OtherVersion };
// Reads the whole file, checks its mark and hash, and then every part of it; nothing of a file
// that fails a check is used. Missing: *error says why it could not be read; Damaged: *why.
SnapshotRead ReadSnapshot(const wchar_t* path, SnapshotHeader* header, Places* places, Listing* listing, DWORD* error,
                          const char** why);
