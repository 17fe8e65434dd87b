// core/at_file.cpp - at.dat records in and out.
#include "core/at_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "common/fixed_field.h"
#include "common/log.h"
#include "platform/state_file.h"

namespace core {

namespace {
std::mutex saveMutex;  // one save at a time: both write the same temporary file
}  // namespace

std::string EncodeAtRecords(std::span<const AtEntry> slots) {
  std::string records;
  for (const AtEntry& slot : slots) {
    if (slot.InUse != 1) continue;
    const uint16_t length = static_cast<uint16_t>(strnlen(slot.Message, sizeof slot.Message) + kAtRecordExtra);
    records.append(reinterpret_cast<const char*>(&length), sizeof length);
    records.append(reinterpret_cast<const char*>(&slot), std::min<size_t>(length, sizeof slot));
  }
  return records;
}

AtDecodeResult DecodeAtRecords(std::string_view bytes, std::span<AtEntry> slots) {
  AtDecodeResult result;
  size_t at = 0;
  for (AtEntry& slot : slots) {
    if (bytes.size() - at < 2) break;
    uint16_t length = 0;
    std::memcpy(&length, bytes.data() + at, sizeof length);
    at += 2;
    if (length > kAtMaxRecordLength) {
      result.OverlongRecord = result.Filled + 1;
      result.OverlongLength = length;
      break;
    }
    std::memset(&slot, 0, sizeof slot);
    const size_t take = std::min<size_t>(length, bytes.size() - at);
    std::memcpy(&slot, bytes.data() + at, take);
    at += take;
    // A record cut short or written by hand need not end its texts inside their fields.
    slot.Name[sizeof slot.Name - 1] = '\0';
    slot.PageID[sizeof slot.PageID - 1] = '\0';
    slot.Message[sizeof slot.Message - 1] = '\0';
    ++result.Filled;
    if (take < length) {
      result.LastCutShort = true;
      break;
    }
    if (at >= bytes.size()) break;
  }
  return result;
}

void LoadAtFile(ServerState& state, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::lock_guard<std::mutex> hold(state.AtLock);
  const std::span<AtEntry> table(state.AtTable.get(), kAtSlots);
  const AtDecodeResult result = DecodeAtRecords(bytes, table);
  for (int i = 0; i < result.Filled; ++i) {
    AtEntry& slot = table[static_cast<size_t>(i)];
    slot.MessageNumber = ++state.MessageCounter;  // numbers are given anew at every start
    const bool whole = !(result.LastCutShort && i == result.Filled - 1);
    if (whole && state.Debug) common::WriteConsole("'AT:" + common::FieldText(slot.Message) + "'");
  }
  if (result.OverlongRecord != 0) {
    common::LogLine("%t %s: Error - Record %d of %s is %d bytes long; the rest of the file is ignored\n",
                    common::ProgramName(), result.OverlongRecord, path, result.OverlongLength);
  }
  state.AtDirty = false;
}

int SaveAtFile(ServerState& state, const std::string& path) {
  std::lock_guard<std::mutex> saving(saveMutex);
  std::string records;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    if (!state.AtDirty) return 1;
    state.AtDirty = false;
    records = EncodeAtRecords(std::span<const AtEntry>(state.AtTable.get(), kAtSlots));
  }
  if (platform::ReplaceFileDurably(path, records) != 0) {
    // The change is still unsaved: the next try writes it (a change made meanwhile is in
    // the table too, so one rewrite covers both).
    std::lock_guard<std::mutex> hold(state.AtLock);
    state.AtDirty = true;
    return -1;
  }
  return 0;
}

}  // namespace core
