// core/log_entry_fuzz.cpp - libFuzzer target: any bytes as one record of the page store's
// redo log (a damaged disk can hand back anything that passes a CRC by chance, and a newer
// build's records reach an older one). Reading must stay within the bytes, and what is read
// must write back to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/batch_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  core::LogEntry entry;
  if (!core::DecodeLogEntry(bytes, entry)) return 0;
  std::string again;
  if (entry.Cancels > 0) {
    again = core::EncodeCancel(entry.Cancels);
  } else {
    core::EncodeGroupStart(static_cast<uint32_t>(entry.Batches.size()), again);
    for (const core::LoggedBatch& b : entry.Batches) core::EncodeBatch(b, again);
  }
  if (again != bytes) __builtin_trap();
  return 0;
}
