// The redo log's file: what was appended comes back in order and whole, a reset drops it
// for good though its bytes stay in the file, and a torn record or header ends what is read
// instead of bringing back anything stale.
#include "platform/record_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class RecordLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/corvel-log-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    folder_ = folder;
    path_ = folder_ + "/pages.db-log";
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::vector<std::string> Reopen(platform::RecordLog::Contents* contents = nullptr) {
    platform::RecordLog log;
    platform::RecordLog::Contents c;
    std::string cause;
    EXPECT_EQ(log.Open(path_, c, cause), 0) << cause;
    if (contents) *contents = c;
    return c.Records;
  }
  // Opens the log, starts it again when startAgain (a new log needs that for a header of its
  // own), and appends records; the last one's sequence number.
  uint64_t Write(std::initializer_list<std::string> records, bool startAgain) {
    platform::RecordLog log;
    platform::RecordLog::Contents contents;
    std::string cause;
    EXPECT_EQ(log.Open(path_, contents, cause), 0) << cause;
    if (startAgain) {
      EXPECT_EQ(log.Reset(cause), 0) << cause;
    }
    uint64_t seq = 0;
    for (const std::string& r : records) EXPECT_EQ(log.Append(r, seq, cause), 0) << cause;
    return seq;
  }
  // Overwrites bytes of the file at offset, as a torn write or a bad block would.
  void Spoil(int64_t offset, const std::string& bytes) {
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::string folder_;
  std::string path_;
};

TEST_F(RecordLogTest, AppendedRecordsComeBackInOrderAndAResetDropsThemForGood) {
  EXPECT_EQ(platform::Crc32("123456789"), 0xCBF43926u);  // the standard check value
  {
    platform::RecordLog log;
    platform::RecordLog::Contents contents;
    std::string cause;
    ASSERT_EQ(log.Open(path_, contents, cause), 0) << cause;
    EXPECT_TRUE(contents.Created);
    EXPECT_TRUE(contents.Records.empty());
    // Its blocks are written before the first append, so appends never grow the file.
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(path_)), platform::RecordLog::kDefaultSize);
    ASSERT_EQ(log.Reset(cause), 0) << cause;
    uint64_t seq = 0;
    for (const std::string& r : {std::string("first"), std::string(), std::string(1000, '\xE9')}) {
      ASSERT_EQ(log.Append(r, seq, cause), 0) << cause;
    }
    EXPECT_EQ(seq, 3u);
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(path_)), platform::RecordLog::kDefaultSize);
  }
  EXPECT_EQ(Reopen(), (std::vector<std::string>{"first", "", std::string(1000, '\xE9')}));

  EXPECT_EQ(Write({"after"}, true), 1u);
  // The old records' bytes still lie behind the new one, whole, but belong to a generation
  // that is over.
  EXPECT_EQ(Reopen(), std::vector<std::string>{"after"});
}

TEST_F(RecordLogTest, ATornRecordEndsTheLogAndTheNextAppendTakesItsPlace) {
  Write({"one", "two", "three"}, true);
  Spoil(4096 + 48 + 32, "X");  // the second record's payload: its CRC no longer matches
  EXPECT_EQ(Reopen(), std::vector<std::string>{"one"});  // "three" is whole but follows it

  EXPECT_EQ(Write({"two again"}, false), 2u);
  EXPECT_EQ(Reopen(), (std::vector<std::string>{"one", "two again"}));
}

TEST_F(RecordLogTest, AnUnreadableHeaderReadsAsEmptyAndItsOldRecordsStayUnread) {
  Write({"old"}, true);
  Spoil(3, "torn");
  platform::RecordLog::Contents contents;
  EXPECT_TRUE(Reopen(&contents).empty());
  EXPECT_TRUE(contents.HeaderUnreadable);
  EXPECT_FALSE(contents.Created);
  Write({"new"}, true);
  EXPECT_EQ(Reopen(), std::vector<std::string>{"new"});
}

TEST_F(RecordLogTest, AFullLogRefusesAnAppendAndGrowsForARecordLargerThanItself) {
  platform::RecordLog log;
  platform::RecordLog::Contents contents;
  std::string cause;
  ASSERT_EQ(log.Open(path_, contents, cause), 0);
  ASSERT_EQ(log.Reset(cause), 0);
  const std::string big(300 * 1024, 'b');
  EXPECT_FALSE(log.Fits(big.size()));
  uint64_t seq = 0;
  EXPECT_EQ(log.Append(big, seq, cause), -1);
  EXPECT_NE(cause.find("full"), std::string::npos) << cause;
  ASSERT_EQ(log.Grow(big.size(), cause), 0) << cause;
  EXPECT_TRUE(log.Fits(big.size()));
  ASSERT_EQ(log.Append(big, seq, cause), 0) << cause;
  EXPECT_EQ(seq, 1u);  // the refused append took no number
  EXPECT_EQ(Reopen(), std::vector<std::string>{big});
}

}  // namespace
