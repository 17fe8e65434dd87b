// core/at_file.h - at.dat, where the AT queue survives a restart: its records, and the
// file's reader and writer that the paging server and corvsend share.
//
// at.dat is a sequence of records, one per slot in use, in slot order, and nothing else:
// a 16-bit little-endian length L = strlen(Message) + 167, then the first L bytes of the
// slot (AtEntry up to its message, the message, its NUL and the 64 bytes after it). There
// is no header, count or checksum, so the reader trusts nothing it finds.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/at_entry.h"
#include "core/server_state.h"

namespace core {

constexpr const char* kAtFileName = "at.dat";
// Longest AT message: one more character would make the at.dat record run past the slot.
constexpr int kAtMessageMax = kAtMaxRecordLength - kAtRecordExtra - 1;  // 3938

// The bytes of an at.dat holding every slot in use, in slot order.
std::string EncodeAtRecords(std::span<const AtEntry> slots);

struct AtDecodeResult {
  int Filled = 0;             // slots written, from slot 0 on
  bool LastCutShort = false;  // the last one filled came from a record cut off by the file's end
  int OverlongRecord = 0;     // 1-based number of a record longer than a slot (reading stopped), or 0
  int OverlongLength = 0;     // its length
};

// Reads the records of an at.dat into slots from slot 0 on, as far as the bytes and the
// slots go. Each slot filled is cleared first, its texts end inside their fields, and its
// MessageNumber is left for the caller. A record cut off by the end of the file fills its
// slot as far as it goes and ends the reading; a record longer than a slot ends it unread.
AtDecodeResult DecodeAtRecords(std::string_view bytes, std::span<AtEntry> slots);

// Start-up: reads the file into the AT table, numbering each loaded page anew with the
// next MessageCounter, and clears AtDirty. A missing file loads nothing; an over-long
// record is logged and ends the load.
void LoadAtFile(ServerState& state, const std::string& path = kAtFileName);

// Writes the table when it changed since the last save: into path + ".tmp", synced, renamed
// over path and the folder synced, so a crash never leaves a cut file and a saved change
// survives a power cut. One save runs at a time. 0 written, 1 nothing to do, -1 the file
// could not be written (the table stays marked changed, so the next save tries again).
int SaveAtFile(ServerState& state, const std::string& path = kAtFileName);

}  // namespace core
