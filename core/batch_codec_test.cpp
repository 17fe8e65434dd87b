// The page store's batches as redo-log bytes: everything a batch says comes back, and bytes
// that stop short or run on are refused rather than read as a smaller batch.
#include "core/batch_codec.h"

#include <gtest/gtest.h>

namespace core {
namespace {

LoggedBatch Sample() {
  LoggedBatch b;
  b.PurgeBefore = 1700000123;
  b.Batch.Remove = {7, -1};
  PageRecord r;
  r.Number = 2147483647;
  r.Piece = 3;
  r.State = PageState::kScheduled;
  r.Name = "M\x81ller";  // the pagers' 8-bit code page, not UTF-8
  r.PageId = "1001";
  r.System = "Metro";
  r.Text = std::string("with\0nul", 8);
  r.Attempts = 4;
  r.Accepted = 1700000000;
  r.Due = 1800000000;
  r.Finished = 0;
  r.Result = "Page Sent";
  r.AtRecord = std::string(93, '\x01');
  b.Batch.Add.push_back(r);
  PageChange c;
  c.Number = 9;
  c.Piece = 1;
  c.State = PageState::kGivenUp;
  c.Attempts = -1;  // keep what is stored
  c.SetResult = true;
  c.Result = "Busy";
  c.Finished = 1700000999;
  b.Batch.Change.push_back(c);
  return b;
}

std::string Encoded(const std::vector<LoggedBatch>& batches) {
  std::string out;
  EncodeGroupStart(static_cast<uint32_t>(batches.size()), out);
  for (const LoggedBatch& b : batches) EncodeBatch(b, out);
  return out;
}

TEST(BatchCodec, AGroupAndACancelComeBackAsTheyWere) {
  LoggedBatch empty;
  const std::string bytes = Encoded({Sample(), empty});
  LogEntry entry;
  ASSERT_TRUE(DecodeLogEntry(bytes, entry));
  EXPECT_EQ(entry.Cancels, 0u);
  ASSERT_EQ(entry.Batches.size(), 2u);
  const LoggedBatch& got = entry.Batches[0];
  const LoggedBatch want = Sample();
  EXPECT_EQ(got.PurgeBefore, want.PurgeBefore);
  EXPECT_EQ(got.Batch.Remove, want.Batch.Remove);
  ASSERT_EQ(got.Batch.Add.size(), 1u);
  const PageRecord& r = got.Batch.Add[0];
  const PageRecord& w = want.Batch.Add[0];
  EXPECT_EQ(std::tie(r.Number, r.Piece, r.State, r.Name, r.PageId, r.System, r.Text, r.Attempts),
            std::tie(w.Number, w.Piece, w.State, w.Name, w.PageId, w.System, w.Text, w.Attempts));
  EXPECT_EQ(std::tie(r.Accepted, r.Due, r.Finished, r.Result, r.AtRecord),
            std::tie(w.Accepted, w.Due, w.Finished, w.Result, w.AtRecord));
  ASSERT_EQ(got.Batch.Change.size(), 1u);
  const PageChange& c = got.Batch.Change[0];
  const PageChange& v = want.Batch.Change[0];
  EXPECT_EQ(std::tie(c.Number, c.Piece, c.State, c.Attempts, c.System, c.SetResult, c.Result, c.Finished),
            std::tie(v.Number, v.Piece, v.State, v.Attempts, v.System, v.SetResult, v.Result, v.Finished));
  EXPECT_TRUE(entry.Batches[1].Batch.Empty());

  ASSERT_TRUE(DecodeLogEntry(EncodeCancel(42), entry));
  EXPECT_EQ(entry.Cancels, 42u);
  EXPECT_TRUE(entry.Batches.empty());
}

TEST(BatchCodec, BytesThatStopShortRunOnOrSayTooMuchAreRefused) {
  const std::string bytes = Encoded({Sample(), Sample()});
  LogEntry entry;
  for (size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(DecodeLogEntry(bytes.substr(0, n), entry)) << "cut to " << n << " bytes";
  }
  EXPECT_FALSE(DecodeLogEntry(bytes + '\0', entry));
  EXPECT_FALSE(DecodeLogEntry(EncodeCancel(0), entry));  // numbers count from 1
  // A count far beyond any batch, and a state no page has.
  std::string huge = bytes;
  huge[1] = '\xFF';
  huge[2] = '\xFF';
  huge[3] = '\xFF';
  EXPECT_FALSE(DecodeLogEntry(huge, entry));
  std::string state = Encoded({Sample()});
  state[5 + 8 + 4 + 8 + 4 + 4 + 4] = 9;  // the Add's state
  EXPECT_FALSE(DecodeLogEntry(state, entry));
}

}  // namespace
}  // namespace core
