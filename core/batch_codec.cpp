// core/batch_codec.cpp - little-endian, length-prefixed fields; every read is bounded by
// the record's length.
#include "core/batch_codec.h"

namespace core {
namespace {

constexpr char kGroup = 'G';
constexpr char kCancel = 'C';
// Far beyond any real batch (the AT table, a long page's pieces); a count above it is a
// damaged record.
constexpr uint32_t kMaxCount = 1u << 20;
// The fewest bytes each item can take.
constexpr size_t kBatchBytes = 8 + 3 * 4;
constexpr size_t kRemoveBytes = 4;
constexpr size_t kRecordBytes = 3 * 4 + 4 * 4 + 4 + 3 * 8 + 2 * 4;
constexpr size_t kChangeBytes = 4 * 4 + 4 + 1 + 4 + 8;

void PutInt(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutText(std::string& out, std::string_view text) {
  PutInt(out, text.size(), 4);
  out.append(text);
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Int(uint64_t& v, int bytes) {
    if (bytes_.size() - at_ < static_cast<size_t>(bytes)) return false;
    v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    at_ += static_cast<size_t>(bytes);
    return true;
  }
  bool I32(int32_t& v) {
    uint64_t u = 0;
    if (!Int(u, 4)) return false;
    v = static_cast<int32_t>(static_cast<uint32_t>(u));
    return true;
  }
  bool I64(int64_t& v) {
    uint64_t u = 0;
    if (!Int(u, 8)) return false;
    v = static_cast<int64_t>(u);
    return true;
  }
  // A count of items that take at least itemBytes each: no more than the bytes left can
  // hold, so a damaged count cannot have the reader reserve memory for nothing.
  bool Count(uint32_t& n, size_t itemBytes) {
    uint64_t u = 0;
    if (!Int(u, 4) || u > kMaxCount || u * itemBytes > bytes_.size() - at_) return false;
    n = static_cast<uint32_t>(u);
    return true;
  }
  bool Text(std::string& s) {
    uint64_t n = 0;
    if (!Int(n, 4) || bytes_.size() - at_ < n) return false;
    s.assign(bytes_.substr(at_, n));
    at_ += n;
    return true;
  }
  bool Done() const { return at_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

bool ReadState(Reader& r, PageState& state) {
  int32_t s = 0;
  if (!r.I32(s) || s < 0 || s > static_cast<int32_t>(PageState::kDeleted)) return false;
  state = static_cast<PageState>(s);
  return true;
}

bool ReadRecord(Reader& r, PageRecord& p) {
  return r.I32(p.Number) && r.I32(p.Piece) && ReadState(r, p.State) && r.Text(p.Name) && r.Text(p.PageId) &&
         r.Text(p.System) && r.Text(p.Text) && r.I32(p.Attempts) && r.I64(p.Accepted) && r.I64(p.Due) &&
         r.I64(p.Finished) && r.Text(p.Result) && r.Text(p.AtRecord);
}

bool ReadChange(Reader& r, PageChange& c) {
  uint64_t setResult = 0;
  if (!(r.I32(c.Number) && r.I32(c.Piece) && ReadState(r, c.State) && r.I32(c.Attempts) && r.Text(c.System) &&
        r.Int(setResult, 1) && setResult <= 1 && r.Text(c.Result) && r.I64(c.Finished))) {
    return false;
  }
  c.SetResult = setResult != 0;
  return true;
}

bool ReadBatch(Reader& r, LoggedBatch& b) {
  uint32_t n = 0;
  if (!r.I64(b.PurgeBefore) || !r.Count(n, kRemoveBytes)) return false;
  b.Batch.Remove.resize(n);
  for (int32_t& number : b.Batch.Remove) {
    if (!r.I32(number)) return false;
  }
  if (!r.Count(n, kRecordBytes)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    PageRecord p;
    if (!ReadRecord(r, p)) return false;
    b.Batch.Add.push_back(std::move(p));
  }
  if (!r.Count(n, kChangeBytes)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    PageChange c;
    if (!ReadChange(r, c)) return false;
    b.Batch.Change.push_back(std::move(c));
  }
  return true;
}

}  // namespace

void EncodeGroupStart(uint32_t batches, std::string& out) {
  out.push_back(kGroup);
  PutInt(out, batches, 4);
}

void EncodeBatch(const LoggedBatch& batch, std::string& out) {
  const StoreBatch& b = batch.Batch;
  PutInt(out, static_cast<uint64_t>(batch.PurgeBefore), 8);
  PutInt(out, b.Remove.size(), 4);
  for (int32_t number : b.Remove) PutInt(out, static_cast<uint32_t>(number), 4);
  PutInt(out, b.Add.size(), 4);
  for (const PageRecord& p : b.Add) {
    PutInt(out, static_cast<uint32_t>(p.Number), 4);
    PutInt(out, static_cast<uint32_t>(p.Piece), 4);
    PutInt(out, static_cast<uint32_t>(p.State), 4);
    PutText(out, p.Name);
    PutText(out, p.PageId);
    PutText(out, p.System);
    PutText(out, p.Text);
    PutInt(out, static_cast<uint32_t>(p.Attempts), 4);
    PutInt(out, static_cast<uint64_t>(p.Accepted), 8);
    PutInt(out, static_cast<uint64_t>(p.Due), 8);
    PutInt(out, static_cast<uint64_t>(p.Finished), 8);
    PutText(out, p.Result);
    PutText(out, p.AtRecord);
  }
  PutInt(out, b.Change.size(), 4);
  for (const PageChange& c : b.Change) {
    PutInt(out, static_cast<uint32_t>(c.Number), 4);
    PutInt(out, static_cast<uint32_t>(c.Piece), 4);
    PutInt(out, static_cast<uint32_t>(c.State), 4);
    PutInt(out, static_cast<uint32_t>(c.Attempts), 4);
    PutText(out, c.System);
    out.push_back(c.SetResult ? 1 : 0);
    PutText(out, c.Result);
    PutInt(out, static_cast<uint64_t>(c.Finished), 8);
  }
}

std::string EncodeCancel(uint64_t seq) {
  std::string out(1, kCancel);
  PutInt(out, seq, 8);
  return out;
}

bool DecodeLogEntry(std::string_view bytes, LogEntry& entry) {
  entry = {};
  if (bytes.empty()) return false;
  Reader r(bytes.substr(1));
  if (bytes[0] == kCancel) return r.Int(entry.Cancels, 8) && entry.Cancels > 0 && r.Done();
  if (bytes[0] != kGroup) return false;
  uint32_t n = 0;
  if (!r.Count(n, kBatchBytes)) return false;
  entry.Batches.resize(n);
  for (LoggedBatch& b : entry.Batches) {
    if (!ReadBatch(r, b)) return false;
  }
  return r.Done();
}

}  // namespace core
