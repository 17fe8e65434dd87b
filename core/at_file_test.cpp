// core/at_file_test.cpp - at.dat byte for byte: records written field by field, a save read
// back after a "restart", and the files a crash or a hand can leave behind.
#include "core/at_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/fixed_field.h"
#include "common/log.h"
#include "tests/support/process.h"

namespace core {
namespace {

// One record as the file layout gives it, built field by field at its offsets.
std::string Record(const std::string& name, const std::string& id, const std::string& text, int year) {
  std::string body(102 + text.size() + 1 + 64, '\0');
  auto put32 = [&body](size_t at, int32_t v) { std::memcpy(&body[at], &v, 4); };
  body[0] = 1;
  put32(6, 45);   // minute
  put32(10, 13);  // hour
  put32(14, 24);  // day
  put32(18, 12);  // month
  put32(22, year);
  std::memcpy(&body[38], name.data(), name.size());
  std::memcpy(&body[70], id.data(), id.size());
  std::memcpy(&body[102], text.data(), text.size());
  const uint16_t length = static_cast<uint16_t>(text.size() + 167);
  return std::string(reinterpret_cast<const char*>(&length), 2) + body;
}

class AtFile : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetProgramName(kServerProgramName);
    common::SetLogFileName(dir_.File("log.txt"));
    state_ = AllocateServerState();
    ASSERT_TRUE(state_);
  }
  std::unique_ptr<ServerState> Fresh() {
    auto state = AllocateServerState();
    EXPECT_TRUE(state);
    return state;
  }
  AtEntry& Slot(int i) { return state_->AtTable[static_cast<size_t>(i)]; }
  void Schedule(int i, const char* name, const char* id, const std::string& text, int year, int minute) {
    AtEntry& slot = Slot(i);
    slot.InUse = 1;
    slot.Year = year;
    slot.Minute = minute;
    common::CopyField(slot.Name, name);
    common::CopyField(slot.PageID, id);
    common::CopyField(slot.Message, text.substr(0, kAtMessageMax));
    state_->AtDirty = true;
  }
  static int InUse(const ServerState& state) {
    int n = 0;
    for (int i = 0; i < kAtSlots; ++i) n += state.AtTable[static_cast<size_t>(i)].InUse != 0;
    return n;
  }

  testsupport::TempDir dir_;
  std::unique_ptr<ServerState> state_;
};

TEST_F(AtFile, HandMadeFileLoadsAndIsNumberedAnew) {
  dir_.Write("at.dat", Record("Ann", "1001", "first", 2040) + Record("Bob", "1002", "second page", 2041));
  state_->MessageCounter = 7;
  state_->AtDirty = true;
  LoadAtFile(*state_, dir_.File("at.dat"));
  EXPECT_EQ(InUse(*state_), 2);
  EXPECT_STREQ(Slot(0).Name, "Ann");
  EXPECT_STREQ(Slot(0).Message, "first");
  EXPECT_EQ(+Slot(0).Hour, 13);
  EXPECT_EQ(+Slot(0).Minute, 45);
  EXPECT_EQ(+Slot(0).Day, 24);
  EXPECT_EQ(+Slot(0).Month, 12);
  EXPECT_EQ(+Slot(0).MessageNumber, 8);
  EXPECT_STREQ(Slot(1).PageID, "1002");
  EXPECT_EQ(+Slot(1).Year, 2041);
  EXPECT_EQ(+Slot(1).MessageNumber, 9);
  EXPECT_FALSE(state_->AtDirty);
}

TEST_F(AtFile, SaveWritesSlotsInUseInSlotOrderAndReadsBack) {
  Schedule(0, "Carl", "2001", "third", 2036, 7);
  Schedule(2, "Bob", "1002", "x", 2035, 0);  // slot 1 free: it is not written
  ASSERT_EQ(SaveAtFile(*state_, dir_.File("at.dat")), 0);
  const std::string bytes = dir_.Read("at.dat");
  ASSERT_EQ(bytes, EncodeAtRecords(std::span<const AtEntry>(state_->AtTable.get(), kAtSlots)));
  ASSERT_EQ(bytes.size(), 2u + 5 + 167 + 2 + 1 + 167);
  uint16_t length = 0;
  std::memcpy(&length, bytes.data(), 2);
  EXPECT_EQ(length, 5 + 167);
  const char* body = bytes.data() + 2;
  int32_t v = 0;
  std::memcpy(&v, body + 22, 4);
  EXPECT_EQ(v, 2036);
  std::memcpy(&v, body + 6, 4);
  EXPECT_EQ(v, 7);
  EXPECT_STREQ(body + 38, "Carl");
  EXPECT_STREQ(body + 70, "2001");
  EXPECT_STREQ(body + 102, "third");
  std::memcpy(&length, bytes.data() + 2 + 172, 2);
  EXPECT_EQ(length, 1 + 167);
  EXPECT_STREQ(bytes.data() + 2 + 172 + 2 + 38, "Bob");
  EXPECT_FALSE(testsupport::FileExists(dir_.File("at.dat.tmp")));

  // After a "restart" the pages fill the slots from 0 on, with new numbers.
  auto restarted = Fresh();
  LoadAtFile(*restarted, dir_.File("at.dat"));
  EXPECT_STREQ(restarted->AtTable[0].Name, "Carl");
  EXPECT_EQ(+restarted->AtTable[0].MessageNumber, 1);
  EXPECT_STREQ(restarted->AtTable[1].Name, "Bob");
  EXPECT_EQ(+restarted->AtTable[1].MessageNumber, 2);
  EXPECT_EQ(+restarted->AtTable[1].Year, 2035);
}

TEST_F(AtFile, SaveWithoutChangeWritesNothingAndAnEmptyTableAnEmptyFile) {
  Schedule(0, "Ann", "1001", "x", 2035, 0);
  ASSERT_EQ(SaveAtFile(*state_, dir_.File("at.dat")), 0);
  std::remove(dir_.File("at.dat").c_str());
  EXPECT_EQ(SaveAtFile(*state_, dir_.File("at.dat")), 1);
  EXPECT_FALSE(testsupport::FileExists(dir_.File("at.dat")));
  std::memset(&Slot(0), 0, sizeof(AtEntry));
  state_->AtDirty = true;
  ASSERT_EQ(SaveAtFile(*state_, dir_.File("at.dat")), 0);
  EXPECT_TRUE(testsupport::FileExists(dir_.File("at.dat")));
  EXPECT_EQ(dir_.Read("at.dat"), "");
}

TEST_F(AtFile, FailedSaveKeepsTheChangeSoTheNextSaveWritesIt) {
  Schedule(0, "Ann", "1001", "x", 2035, 0);
  EXPECT_EQ(SaveAtFile(*state_, dir_.File("missing-folder/at.dat")), -1);
  EXPECT_TRUE(state_->AtDirty);
  EXPECT_FALSE(testsupport::FileExists(dir_.File("missing-folder/at.dat.tmp")));
  ASSERT_EQ(SaveAtFile(*state_, dir_.File("at.dat")), 0);
  EXPECT_FALSE(state_->AtDirty);
  EXPECT_FALSE(testsupport::FileExists(dir_.File("at.dat.tmp")));
  EXPECT_NE(dir_.Read("at.dat").find("Ann"), std::string::npos);
}

TEST_F(AtFile, LongestMessageRoundTripsAndOverlongOrCutRecordsStopTheLoad) {
  Schedule(0, "Ann", "1001", std::string(4500, 'm'), 2035, 0);
  ASSERT_EQ(SaveAtFile(*state_, dir_.File("at.dat")), 0);
  EXPECT_EQ(dir_.Read("at.dat").size(), 2u + kAtMaxRecordLength - 1);  // the record ends inside the slot
  auto reloaded = Fresh();
  LoadAtFile(*reloaded, dir_.File("at.dat"));
  EXPECT_EQ(strlen(reloaded->AtTable[0].Message), static_cast<size_t>(kAtMessageMax));

  // A length above a whole slot stops the load there, and says so.
  std::string bad = Record("Ann", "1", "kept", 2040);
  const uint16_t tooLong = 4107;
  bad.append(reinterpret_cast<const char*>(&tooLong), 2).append(4107, 'A');
  dir_.Write("bad.dat", bad);
  auto third = Fresh();
  LoadAtFile(*third, dir_.File("bad.dat"));
  EXPECT_EQ(InUse(*third), 1);
  EXPECT_NE(dir_.Read("log.txt").find("CORVD32: Error - Record 2 of " + dir_.File("bad.dat") +
                                      " is 4107 bytes long; the rest of the file is ignored\n"),
            std::string::npos);

  // A last record cut off by the file's end loads as far as it goes, its texts ended.
  dir_.Write("cut.dat", dir_.Read("at.dat").substr(0, 2 + 110));
  auto fourth = Fresh();
  LoadAtFile(*fourth, dir_.File("cut.dat"));
  EXPECT_EQ(+fourth->AtTable[0].InUse, 1);
  EXPECT_EQ(strlen(fourth->AtTable[0].Message), 8u);
  EXPECT_EQ(fourth->MessageCounter.load(), 1);
}

TEST(AtRecords, DecodeFillsOnlyTheSlotsItIsGivenAndClearsEachFirst) {
  const std::string bytes = Record("A", "1", "one", 2040) + Record("B", "2", "two", 2040) + Record("C", "3", "x", 2040);
  std::vector<AtEntry> slots(2);
  slots[1].MessageNumber = 99;
  std::memset(slots[1].Message, 'z', sizeof slots[1].Message);
  const AtDecodeResult result = DecodeAtRecords(bytes, slots);
  EXPECT_EQ(result.Filled, 2);
  EXPECT_FALSE(result.LastCutShort);
  EXPECT_EQ(result.OverlongRecord, 0);
  EXPECT_STREQ(slots[1].Message, "two");
  EXPECT_EQ(slots[1].Message[5], '\0');  // nothing of what the slot held before survives
  EXPECT_EQ(+slots[1].MessageNumber, 0);
  // A hand-made record whose texts run to the end of their fields is ended inside them.
  std::string unended = Record("", "", "m", 2040);
  std::memset(&unended[2 + 38], 'n', 64);
  const AtDecodeResult one = DecodeAtRecords(unended, slots);
  EXPECT_EQ(one.Filled, 1);
  EXPECT_EQ(strlen(slots[0].Name), 31u);
  EXPECT_EQ(strlen(slots[0].PageID), 31u);
  EXPECT_EQ(DecodeAtRecords(std::string("\x05", 1), slots).Filled, 0);  // half a length
}

}  // namespace
}  // namespace core
