// core/batch_codec.h - the page store's batches as bytes, for its redo log.
//
// One log record holds the batches of one group commit (those that were applied), or
// cancels an earlier record whose transaction did not commit after all.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/page_store.h"

namespace core {

// A batch as it is logged; PurgeBefore > 0 also removes finished records that finished
// before it (applied before the batch's own changes).
struct LoggedBatch {
  StoreBatch Batch;
  int64_t PurgeBefore = 0;
};

// What one record says: the batches of a group, or that the record with sequence number
// Cancels (> 0) is void.
struct LogEntry {
  std::vector<LoggedBatch> Batches;
  uint64_t Cancels = 0;
};

// Appends one batch of a group to out (EncodeGroupStart first, with the group's count).
void EncodeGroupStart(uint32_t batches, std::string& out);
void EncodeBatch(const LoggedBatch& batch, std::string& out);

std::string EncodeCancel(uint64_t seq);

// Reads one record's bytes; false (entry unusable) when they do not parse in full.
[[nodiscard]] bool DecodeLogEntry(std::string_view bytes, LogEntry& entry);

}  // namespace core
