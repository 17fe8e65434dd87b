// core/page_book_test.cpp - what a restart brings back from the page store, the first start
// that imports at.dat, acceptance all-or-nothing, and the page record line.
#include "core/page_book.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/fixed_field.h"
#include "core/at_file.h"
#include "core/now_queue.h"
#include "core/sqlite_page_store.h"
#include "tests/support/process.h"
#include "tests/support/test_state.h"

namespace core {
namespace {

class PageBook : public ::testing::Test {
 protected:
  std::unique_ptr<ServerState> Load() { return StateFromIni(kTwoPortIni, dir_.File("log.txt")); }
  std::string Log() const { return dir_.Read("log.txt"); }
  testsupport::TempDir dir_;
};

AtEntry Slot(const char* name, int year, int32_t number) {
  AtEntry slot{};
  slot.InUse = 1;
  slot.Year = year;
  slot.Month = 3;
  slot.Day = 9;
  slot.Hour = 8;
  slot.Minute = 5;
  slot.MessageNumber = number;
  common::CopyField(slot.Name, name);
  common::CopyField(slot.PageID, "1001");
  common::CopyField(slot.Message, "later");
  return slot;
}

TEST_F(PageBook, RestartBringsBackPagesInNumberOrderBehindAFullMainQueueAndAtPagesWithTheirNumbers) {
  {
    auto first = Load();
    ASSERT_EQ(OpenPageStore(*first, dir_.File("pages.db"), dir_.File("at.dat")), 0);
    StoreBatch batch;
    for (int n = 150; n >= 1; --n) {  // stored out of order on purpose
      PageRecord r;
      r.Number = n;
      r.Name = "Ann";
      r.PageId = "1001";
      r.Text = "page " + std::to_string(n);
      r.State = n == 7 ? PageState::kSending : PageState::kWaiting;
      r.Attempts = n == 7 ? 2 : 0;
      batch.Add.push_back(r);
    }
    batch.Add.push_back(ScheduledRecord(Slot("Bob", 2031, 200), 1700000000));
    PageRecord done;
    done.Number = 300;
    done.State = PageState::kSent;
    batch.Add.push_back(done);
    std::string cause;
    ASSERT_EQ(first->Store->Commit(std::move(batch), cause), 0) << cause;
  }
  auto state = Load();
  ASSERT_EQ(OpenPageStore(*state, dir_.File("pages.db"), dir_.File("at.dat")), 0);
  EXPECT_EQ(state->MessageCounter.load(), 300);  // numbering goes on after the highest stored
  EXPECT_EQ(QueuedCount(*state->Main), 99);
  EXPECT_EQ(state->Main->Backlog.size(), 51u);
  EXPECT_NE(Log().find("CORVD32: Page(#7) for Ann resent after a restart\n"), std::string::npos) << Log();
  {
    std::lock_guard<std::mutex> hold(state->AtLock);
    EXPECT_EQ(int{state->AtTable[0].InUse}, 1);
    EXPECT_EQ(int{state->AtTable[0].MessageNumber}, 200);
    EXPECT_EQ(int{state->AtTable[0].Year}, 2031);
    EXPECT_STREQ(state->AtTable[0].Name, "Bob");
    EXPECT_EQ(state->AtAccepted[0], 1700000000);
  }
  // A new request finds the queue full while the backlog waits: it is refused.
  EXPECT_EQ(InsertNow(*state, *state->Main, "Ann", "new", true), -1);
  // The backlog moves in ahead of anything new, in number order, attempts kept.
  for (int n = 1; n <= 150; ++n) {
    QueueEntry entry;
    ASSERT_EQ(PopHead(*state, *state->Main, &entry), 0) << n;
    EXPECT_EQ(entry.MessageNumber, n);
    EXPECT_EQ(entry.Message, "page " + std::to_string(n));
    if (n == 7) {
      EXPECT_EQ(entry.Attempts, 2);
    }
  }
  EXPECT_FALSE(HasPages(*state->Main));
  // The page that was sending is waiting again in its record until its next attempt.
  state->Store.reset();
  std::unique_ptr<SqlitePageStore> store;
  StoreOpenResult opened;
  std::string cause;
  ASSERT_EQ(SqlitePageStore::Open(dir_.File("pages.db"), store, opened, cause), 0);
  std::vector<PageRecord> rows;
  ASSERT_EQ(store->Lookup(7, rows, cause), 0);
  EXPECT_EQ(rows.at(0).State, PageState::kWaiting);
  EXPECT_EQ(rows.at(0).Result, "resent after a restart");
}

TEST_F(PageBook, FirstStartImportsAtDatAndADamagedStoreDoesTooWithNewNumbers) {
  const AtEntry slots[] = {Slot("Ann", 2030, 0), Slot("Bob", 2031, 0)};
  testsupport::WriteFile(dir_.File("at.dat"), EncodeAtRecords(slots));
  {
    auto state = Load();
    ASSERT_EQ(OpenPageStore(*state, dir_.File("pages.db"), dir_.File("at.dat")), 0);
    EXPECT_TRUE(state->AtDirty.load());  // at.dat is written again from the table
    EXPECT_EQ(int{state->AtTable[1].MessageNumber}, 2);
    EXPECT_NE(Log().find("2 AT page(s) of " + dir_.File("at.dat") + " imported into the page store"),
              std::string::npos);
  }
  // The next start takes the AT pages from the store (with their numbers), not at.dat.
  testsupport::WriteFile(dir_.File("at.dat"), "");
  {
    auto state = Load();
    ASSERT_EQ(OpenPageStore(*state, dir_.File("pages.db"), dir_.File("at.dat")), 0);
    EXPECT_EQ(int{state->AtTable[0].MessageNumber}, 1);
    EXPECT_STREQ(state->AtTable[1].Name, "Bob");
    EXPECT_EQ(state->MessageCounter.load(), 2);
  }
  // A damaged store is moved aside and at.dat's pages are imported into the fresh one.
  testsupport::WriteFile(dir_.File("at.dat"), EncodeAtRecords(std::span<const AtEntry>(slots, 1)));
  testsupport::WriteFile(dir_.File("pages.db"), "garbage that is no database, not even close to one....");
  auto state = Load();
  ASSERT_EQ(OpenPageStore(*state, dir_.File("pages.db"), dir_.File("at.dat")), 0);
  EXPECT_EQ(int{state->AtTable[0].InUse}, 1);
  EXPECT_EQ(int{state->AtTable[1].InUse}, 0);
  EXPECT_NE(Log().find("moved aside to " + dir_.File("pages.db.damaged-")), std::string::npos);
}

TEST_F(PageBook, AcceptedPagesAreRecordedAllOrNothingAndARefusedOneLeavesNoRecord) {
  auto state = Load();
  ASSERT_EQ(OpenPageStore(*state, dir_.File("pages.db"), dir_.File("at.dat")), 0);
  // 98 places taken: a three-piece page does not fit and nothing of it is queued or stored.
  for (int i = 0; i < 97; ++i) ASSERT_GE(InsertNow(*state, *state->Main, "Ann", "x", true), 0);
  const std::string threePieces = std::string(220, 'a') + " " + std::string(220, 'b') + " " + std::string(100, 'c');
  EXPECT_EQ(InsertNow(*state, *state->Main, "Bob", threePieces.c_str(), true), -1);
  EXPECT_EQ(QueuedCount(*state->Main), 97);
  std::vector<PageRecord> rows;
  std::string cause;
  ASSERT_EQ(state->Store->LoadPending(rows, cause), 0);
  EXPECT_EQ(rows.size(), 97u);
  EXPECT_EQ(rows.back().System, "Metro");
  EXPECT_EQ(rows.back().State, PageState::kWaiting);
  EXPECT_GT(rows.back().Accepted, 0);
  // Two pieces still fit.
  EXPECT_GE(InsertNow(*state, *state->Main, "Bob", (std::string(220, 'a') + " " + std::string(60, 't')).c_str(), true),
            0);
  EXPECT_TRUE(IsFull(*state->Main));
  EXPECT_EQ(PageRecordReply(*state, 99).rfind("OK\nnumber=99\tstate=waiting\tname=Bob\tpageid=1002\t", 0), 0u);
}

TEST(PageRecordLine, FieldsInOrderEscapedAndPiecesShownByTheOneFurthestFromDone) {
  PageRecord a;
  a.Number = 12;
  a.State = PageState::kSent;
  a.Name = "Ann\tB";
  a.PageId = "1001";
  a.System = "Metro";
  a.Attempts = 1;
  a.Result = "Message(#12) sent to Ann\\x\n";
  EXPECT_EQ(FormatPageRecord({a}),
            "number=12\tstate=sent\tname=Ann\\tB\tpageid=1001\tsystem=Metro\tattempts=1\taccepted=\tdue=\t"
            "finished=\tresult=Message(#12) sent to Ann\\\\x\\n");
  EXPECT_EQ(EscapeRecordValue(std::string("a\x01\x7F\r", 4)), "a\\x01\\x7F\\r");

  PageRecord b = a;
  b.Piece = 1;
  b.State = PageState::kSending;
  b.Attempts = 3;
  b.Result = "";
  const std::string line = FormatPageRecord({a, b});
  EXPECT_NE(line.find("state=sending"), std::string::npos) << line;
  EXPECT_NE(line.find("attempts=3"), std::string::npos);
  EXPECT_NE(line.find("\tfinished=\t"), std::string::npos);
  EXPECT_EQ(line.substr(line.size() - 9), "\tpieces=2");

  PageRecord c = b;
  c.State = PageState::kGivenUp;
  c.Result = "Error - Paging System rejected message(#12)";
  a.Finished = 1000;
  c.Finished = 2000;
  const std::string ended = FormatPageRecord({a, c});
  EXPECT_NE(ended.find("state=given up"), std::string::npos) << ended;
  EXPECT_NE(ended.find("result=Error - Paging System rejected message(#12)"), std::string::npos);
  EXPECT_EQ(ended.find("finished=\t"), std::string::npos);  // every piece ended: a time is shown
}

}  // namespace
}  // namespace core
