// platform/record_log.h - a small redo log: records appended to a file whose blocks were
// written once beforehand, each append made durable by one fdatasync.
//
// Overwriting blocks a file already owns syncs as fast as the disk allows: no size or
// block map changes ride along with the data. The log is kept short: once everything it
// holds is safe elsewhere, Reset starts a new generation at its beginning, and a reader
// takes only the records of the generation named in the header, in sequence, up to the
// first one that is torn or stale.
//
// Layout: a header sector at offset 0 ("CORVLOG1", generation, CRC), records from offset
// 4096. A record is a 32-byte head (magic, payload length, generation, sequence number,
// CRC-32 of all of it and the payload) and its payload, padded to 16 bytes. Each append also
// blanks the head after its record, so the log visibly ends there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

// CRC-32 (the polynomial of zlib and Ethernet) of bytes, continuing from crc.
uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);

class RecordLog {
 public:
  static constexpr int64_t kDefaultSize = 256 * 1024;

  // What Open found in the file: the payloads of the current generation, in order.
  struct Contents {
    std::vector<std::string> Records;
    bool Created = false;       // there was no log: a new one was made
    bool HeaderUnreadable = false;  // a file whose header was torn or foreign; read as empty
  };

  RecordLog() = default;
  RecordLog(const RecordLog&) = delete;
  RecordLog& operator=(const RecordLog&) = delete;

  // Opens path, making it (kDefaultSize, written and synced) when missing, and reads the
  // records of its current generation. 0, or -1 with cause.
  [[nodiscard]] int Open(const std::string& path, Contents& contents, std::string& cause);

  // True when a record of payloadSize bytes fits behind the last one.
  bool Fits(size_t payloadSize) const;

  // Appends one record and syncs it; seq gets its sequence number. 0, or -1 with cause (the
  // record is then not counted; the next append takes its place).
  [[nodiscard]] int Append(std::string_view payload, uint64_t& seq, std::string& cause);

  // Starts a new generation at the beginning, made durable before it returns: every record
  // so far is dropped. Only for when they are all safe elsewhere. 0, or -1 with cause (the
  // log is then unusable until it is opened again).
  [[nodiscard]] int Reset(std::string& cause);

  // Makes room for a record of payloadSize bytes when even an empty log is too small: the
  // file grows by written, synced blocks. 0, or -1 with cause.
  [[nodiscard]] int Grow(size_t payloadSize, std::string& cause);

  int64_t Used() const { return tail_; }
  int64_t Size() const { return size_; }
  uint64_t Generation() const { return generation_; }

 private:
  int WriteHeader(uint64_t generation, std::string& cause);
  int ZeroFill(int64_t from, int64_t to, std::string& cause);

  UniqueFd fd_;
  std::string path_;
  int64_t size_ = 0;
  int64_t tail_ = 0;  // where the next record goes
  uint64_t generation_ = 0;
  uint64_t nextSeq_ = 1;
  bool broken_ = false;
};

}  // namespace platform
