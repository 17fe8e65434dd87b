// platform/record_log.cpp - the redo log's file: pre-written blocks, synced appends,
// generations.
#include "platform/record_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/state_file.h"

namespace platform {
namespace {

constexpr char kHeaderMagic[8] = {'C', 'O', 'R', 'V', 'L', 'O', 'G', '1'};
constexpr uint32_t kRecordMagic = 0x524C5643;  // "CVLR" little-endian
constexpr int64_t kFirstRecord = 4096;         // the header keeps a sector of its own
constexpr size_t kHeadSize = 32;
constexpr size_t kHeaderSize = 512;
constexpr int64_t kGrowStep = 64 * 1024;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

void Put32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put64(char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint32_t Get32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}
uint64_t Get64(const char* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

size_t Padded(size_t payloadSize) { return kHeadSize + ((payloadSize + 15) / 16) * 16; }

// Room a record takes when appended: itself and the blank head that ends the log behind it.
int64_t Footprint(size_t payloadSize) { return static_cast<int64_t>(Padded(payloadSize) + kHeadSize); }

std::string Errno(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

// Writes all of bytes at offset: 0 or the errno.
int WriteAll(int fd, const char* bytes, size_t n, int64_t offset) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, bytes, n, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (w == 0) return EIO;
    bytes += w;
    n -= static_cast<size_t>(w);
    offset += w;
  }
  return 0;
}

int SyncData(int fd) {
  while (::fdatasync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// A record and a blank head after it: whatever lies further on (a record of this generation
// that once followed a record now torn and rewritten) is never read. The CRC covers the
// record's head (with the CRC field zero) and its payload.
std::string RecordBytes(std::string_view payload, uint64_t generation, uint64_t seq) {
  std::string bytes(Padded(payload.size()) + kHeadSize, '\0');
  Put32(bytes.data(), kRecordMagic);
  Put32(bytes.data() + 4, static_cast<uint32_t>(payload.size()));
  Put64(bytes.data() + 8, generation);
  Put64(bytes.data() + 16, seq);
  std::memcpy(bytes.data() + kHeadSize, payload.data(), payload.size());
  const uint32_t crc = Crc32(std::string_view(bytes.data(), kHeadSize + payload.size()));
  Put32(bytes.data() + 24, crc);
  return bytes;
}

}  // namespace

uint32_t Crc32(std::string_view bytes, uint32_t crc) {
  crc = ~crc;
  for (char ch : bytes) crc = kCrcTable[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

int RecordLog::ZeroFill(int64_t from, int64_t to, std::string& cause) {
  static const std::string zeros(static_cast<size_t>(kGrowStep), '\0');
  for (int64_t at = from; at < to; at += kGrowStep) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(kGrowStep, to - at));
    if (const int err = WriteAll(fd_.Get(), zeros.data(), n, at); err != 0) {
      cause = Errno("cannot write the page store's log", err);
      return -1;
    }
  }
  if (const int err = SyncData(fd_.Get()); err != 0) {
    cause = Errno("cannot sync the page store's log", err);
    return -1;
  }
  return 0;
}

int RecordLog::WriteHeader(uint64_t generation, std::string& cause) {
  std::array<char, kHeaderSize> header{};
  std::memcpy(header.data(), kHeaderMagic, sizeof kHeaderMagic);
  Put64(header.data() + 8, generation);
  Put32(header.data() + 16, Crc32(std::string_view(header.data(), 16)));
  int err = WriteAll(fd_.Get(), header.data(), header.size(), 0);
  if (err == 0) err = SyncData(fd_.Get());
  if (err != 0) {
    cause = Errno("cannot start the page store's log again", err);
    return -1;
  }
  return 0;
}

int RecordLog::Open(const std::string& path, Contents& contents, std::string& cause) {
  contents = {};
  path_ = path;
  broken_ = false;
  fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd_.Valid()) {
    cause = Errno(("cannot open " + path).c_str(), errno);
    return -1;
  }
  const int64_t length = FileSize(path);
  if (length < 0) {
    cause = Errno(("cannot read " + path).c_str(), static_cast<int>(-length));
    return -1;
  }
  std::string bytes(static_cast<size_t>(length), '\0');
  if (length > 0 && ::pread(fd_.Get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(length)) {
    cause = Errno(("cannot read " + path).c_str(), errno ? errno : EIO);
    return -1;
  }
  contents.Created = length == 0;
  size_ = std::max<int64_t>(length, kDefaultSize);
  if (length < size_ && ZeroFill(length, size_, cause) != 0) return -1;
  if (contents.Created && SyncParentFolder(path) != 0) {
    cause = "cannot sync the folder of " + path;
    return -1;
  }

  const bool headerOk = length >= kFirstRecord && std::memcmp(bytes.data(), kHeaderMagic, sizeof kHeaderMagic) == 0 &&
                        Get32(bytes.data() + 16) == Crc32(std::string_view(bytes.data(), 16));
  tail_ = kFirstRecord;
  nextSeq_ = 1;
  if (!headerOk) {
    // A torn header can only come from a crash while the log was started again, when all it
    // held was already safe elsewhere; a foreign file is read as empty too. A generation no
    // earlier record can carry keeps whatever lies behind the header from being read.
    contents.HeaderUnreadable = !contents.Created;
    generation_ = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    return 0;
  }
  generation_ = Get64(bytes.data() + 8);
  while (tail_ + static_cast<int64_t>(kHeadSize) <= length) {
    const char* head = bytes.data() + tail_;
    const size_t n = Get32(head + 4);
    if (Get32(head) != kRecordMagic || n > static_cast<size_t>(length - tail_) - kHeadSize ||
        Get64(head + 8) != generation_ || Get64(head + 16) != nextSeq_) {
      break;
    }
    std::string check(head, kHeadSize + n);
    Put32(check.data() + 24, 0);
    if (Crc32(check) != Get32(head + 24)) break;  // torn: the crash came while it was written
    contents.Records.emplace_back(head + kHeadSize, n);
    tail_ += static_cast<int64_t>(Padded(n));
    ++nextSeq_;
  }
  return 0;
}

bool RecordLog::Fits(size_t payloadSize) const {
  return !broken_ && tail_ + Footprint(payloadSize) <= size_;
}

int RecordLog::Append(std::string_view payload, uint64_t& seq, std::string& cause) {
  if (broken_) {
    cause = "the page store's log could not be started again";
    return -1;
  }
  if (!Fits(payload.size())) {
    cause = "the page store's log is full";
    return -1;
  }
  const std::string bytes = RecordBytes(payload, generation_, nextSeq_);
  int err = WriteAll(fd_.Get(), bytes.data(), bytes.size(), tail_);
  if (err == 0) err = SyncData(fd_.Get());
  if (err != 0) {
    cause = Errno("cannot write the page store's log", err);
    // Best effort: a record whose sync failed may still reach the disk; a blank head keeps
    // a reader from taking it should nothing overwrite it.
    const std::array<char, kHeadSize> blank{};
    (void)WriteAll(fd_.Get(), blank.data(), blank.size(), tail_);
    return -1;
  }
  seq = nextSeq_++;
  tail_ += static_cast<int64_t>(Padded(payload.size()));
  return 0;
}

int RecordLog::Reset(std::string& cause) {
  if (WriteHeader(generation_ + 1, cause) != 0) {
    // Whether the new header reached the disk is unknown: appending to either generation
    // could be lost, so nothing more is appended.
    broken_ = true;
    return -1;
  }
  ++generation_;
  tail_ = kFirstRecord;
  nextSeq_ = 1;
  broken_ = false;
  return 0;
}

int RecordLog::Grow(size_t payloadSize, std::string& cause) {
  const int64_t need = kFirstRecord + Footprint(payloadSize);
  if (need <= size_) return 0;
  const int64_t target = (need + kGrowStep - 1) / kGrowStep * kGrowStep;
  if (ZeroFill(size_, target, cause) != 0) return -1;
  size_ = target;
  return 0;
}

}  // namespace platform
