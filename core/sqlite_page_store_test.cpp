// core/sqlite_page_store_test.cpp - the page store on disk: records and their changes,
// group commit under many callers, a full or read-only disk, damaged files, and the purge.
#include "core/sqlite_page_store.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "common/log.h"
#include "platform/state_file.h"
#include "tests/support/process.h"

namespace core {
namespace {

PageRecord Waiting(int32_t number, int32_t piece = 0, const std::string& text = "hello") {
  PageRecord r;
  r.Number = number;
  r.Piece = piece;
  r.State = PageState::kWaiting;
  r.Name = "Ann";
  r.PageId = "1001";
  r.System = "Metro";
  r.Text = text;
  r.Accepted = 1700000000;
  return r;
}

StoreBatch Add(std::vector<PageRecord> records) {
  StoreBatch b;
  b.Add = std::move(records);
  return b;
}

StoreBatch Change(int32_t number, int32_t piece, PageState state, const std::string& result = "",
                  int64_t finished = 0) {
  StoreBatch b;
  PageChange c;
  c.Number = number;
  c.Piece = piece;
  c.State = state;
  c.SetResult = !result.empty();
  c.Result = result;
  c.Finished = finished;
  b.Change.push_back(c);
  return b;
}

class PageStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetProgramName("CORVD32");
    common::SetLogFileName(dir_.File("log.txt"));
  }
  std::unique_ptr<SqlitePageStore> Open(const std::string& path, StoreOpenResult* result = nullptr) {
    std::unique_ptr<SqlitePageStore> store;
    StoreOpenResult r;
    std::string cause;
    EXPECT_EQ(SqlitePageStore::Open(path, store, r, cause), 0) << cause;
    if (result) *result = r;
    return store;
  }
  std::string Log() const { return dir_.Read("log.txt"); }
  testsupport::TempDir dir_;
};

TEST_F(PageStoreTest, RecordsChangeStateAndOnlyUnfinishedOnesComeBackInOrder) {
  StoreOpenResult opened;
  auto store = Open(dir_.File("pages.db"), &opened);
  ASSERT_TRUE(store);
  EXPECT_TRUE(opened.Created);
  std::string cause;
  PageRecord at = Waiting(1);
  at.State = PageState::kScheduled;
  at.AtRecord = std::string("\x05\x00\x01\x02\x03\x04\x05", 7);  // bytes kept as they are
  at.Due = 1800000000;
  ASSERT_EQ(store->Commit(Add({Waiting(3), Waiting(2, 0, std::string("caf\x82\0x", 6)), at}), cause), 0) << cause;
  ASSERT_EQ(store->Commit(Add({Waiting(4, 0), Waiting(4, 1, "second piece")}), cause), 0);

  StoreBatch sending = Change(2, 0, PageState::kSending);
  sending.Change[0].Attempts = 3;
  sending.Change[0].System = "Other";
  ASSERT_EQ(store->Commit(std::move(sending), cause), 0);
  ASSERT_EQ(store->Commit(Change(3, 0, PageState::kSent, "Message(#3) sent to Ann", 1700000100), cause), 0);

  std::vector<PageRecord> pending;
  ASSERT_EQ(store->LoadPending(pending, cause), 0);
  ASSERT_EQ(pending.size(), 4u);
  EXPECT_EQ(pending[0].Number, 1);
  EXPECT_EQ(pending[0].State, PageState::kScheduled);
  EXPECT_EQ(pending[0].AtRecord, at.AtRecord);
  EXPECT_EQ(pending[0].Due, 1800000000);
  EXPECT_EQ(pending[1].Number, 2);
  EXPECT_EQ(pending[1].State, PageState::kSending);
  EXPECT_EQ(pending[1].Attempts, 3);
  EXPECT_EQ(pending[1].System, "Other");
  EXPECT_EQ(pending[1].Text, std::string("caf\x82\0x", 6));  // 8-bit text with a NUL survives
  EXPECT_EQ(pending[2].Number, 4);
  EXPECT_EQ(pending[3].Piece, 1);
  EXPECT_EQ(pending[3].Text, "second piece");

  std::vector<PageRecord> sent;
  ASSERT_EQ(store->Lookup(3, sent, cause), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].State, PageState::kSent);
  EXPECT_EQ(sent[0].Result, "Message(#3) sent to Ann");
  EXPECT_EQ(sent[0].Finished, 1700000100);
  EXPECT_EQ(sent[0].System, "Metro");  // an empty System in a change keeps the stored one
  ASSERT_EQ(store->Lookup(99, sent, cause), 0);
  EXPECT_TRUE(sent.empty());

  // A due AT page: its scheduled record goes and its pieces come, in one batch.
  StoreBatch due;
  due.Remove.push_back(1);
  due.Add = {Waiting(1, 0, "a"), Waiting(1, 1, "b")};
  ASSERT_EQ(store->Commit(std::move(due), cause), 0);
  ASSERT_EQ(store->Lookup(1, sent, cause), 0);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].State, PageState::kWaiting);

  int32_t highest = 0;
  ASSERT_EQ(store->HighestNumber(highest, cause), 0);
  EXPECT_EQ(highest, 4);

  // Closed and opened again: everything is still there, and the file is not "created".
  store.reset();
  store = Open(dir_.File("pages.db"), &opened);
  EXPECT_FALSE(opened.Created);
  ASSERT_EQ(store->LoadPending(pending, cause), 0);
  EXPECT_EQ(pending.size(), 5u);
}

TEST_F(PageStoreTest, ABadBatchFailsAloneAndChangesNothing) {
  auto store = Open(dir_.File("pages.db"));
  std::string cause;
  ASSERT_EQ(store->Commit(Add({Waiting(1)}), cause), 0);
  // Inserting a number and piece twice, or changing a record that is not there, fails the
  // whole batch: its other records are not stored.
  EXPECT_EQ(store->Commit(Add({Waiting(2), Waiting(1)}), cause), -1);
  EXPECT_NE(cause.find("UNIQUE"), std::string::npos) << cause;
  StoreBatch missing = Add({Waiting(3)});
  missing.Change = Change(77, 0, PageState::kSent).Change;
  EXPECT_EQ(store->Commit(std::move(missing), cause), -1);
  EXPECT_EQ(cause, "no page #77 piece 0 in the store");
  std::vector<PageRecord> pending;
  ASSERT_EQ(store->LoadPending(pending, cause), 0);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].Number, 1);
}

TEST_F(PageStoreTest, ConcurrentCallersShareCommitsAndEachLearnsItsOwnOutcome) {
  auto store = Open(dir_.File("pages.db"));
  constexpr int kCallers = 16;
  constexpr int kEach = 40;
  std::atomic<int> ok{0};
  std::atomic<int> refused{0};
  std::vector<std::jthread> callers;
  for (int c = 0; c < kCallers; ++c) {
    callers.emplace_back([&, c] {
      for (int i = 0; i < kEach; ++i) {
        std::string cause;
        const int32_t number = c * 1000 + i + 1;
        if (store->Commit(Add({Waiting(number)}), cause) == 0) ++ok;
        // Every tenth caller's batch is bad; it must fail alone inside a shared commit.
        if (i % 10 == 0 && store->Commit(Add({Waiting(number)}), cause) != 0) ++refused;
      }
    });
  }
  callers.clear();
  EXPECT_EQ(ok.load(), kCallers * kEach);
  EXPECT_EQ(refused.load(), kCallers * kEach / 10);
  std::vector<PageRecord> pending;
  std::string cause;
  ASSERT_EQ(store->LoadPending(pending, cause), 0);
  EXPECT_EQ(pending.size(), static_cast<size_t>(kCallers * kEach));
  // Group commit: far fewer transactions than batches (each transaction is one sync).
  EXPECT_LT(store->Transactions(), kCallers * kEach);
}

TEST_F(PageStoreTest, CommitLaterIsAppliedBeforeALaterReadAndBeforeTheStoreCloses) {
  auto store = Open(dir_.File("pages.db"));
  std::string cause;
  ASSERT_EQ(store->Commit(Add({Waiting(1), Waiting(2)}), cause), 0);
  store->CommitLater(Change(1, 0, PageState::kWaiting, "Error - Pager system rejected the message(#1)"));
  std::vector<PageRecord> rows;
  ASSERT_EQ(store->Lookup(1, rows, cause), 0);
  EXPECT_EQ(rows.at(0).Result, "Error - Pager system rejected the message(#1)");
  store->CommitLater(Change(2, 0, PageState::kGivenUp, "gone", 5));
  store.reset();
  store = Open(dir_.File("pages.db"));
  ASSERT_EQ(store->Lookup(2, rows, cause), 0);
  EXPECT_EQ(rows.at(0).State, PageState::kGivenUp);
}

// What a crash leaves of a live store: its files as they are now. With dropJournal, SQLite's
// journal is gone too, as after a power cut (its commits are not synced; the redo log's are).
void CrashCopy(SqlitePageStore& store, const std::string& to, bool dropJournal) {
  store.Flush();
  for (const char* suffix : {"", "-wal", "-log"}) {
    if (dropJournal && std::string(suffix) == "-wal") continue;
    const std::string from = store.Path() + suffix;
    if (platform::FileExists(from)) testsupport::WriteFile(to + suffix, testsupport::ReadFile(from));
  }
}

// number:piece:state:attempts:system:result of every record, in order.
std::string Summary(SqlitePageStore& store, int32_t upTo) {
  std::string out;
  std::string cause;
  for (int32_t n = 1; n <= upTo; ++n) {
    std::vector<PageRecord> rows;
    EXPECT_EQ(store.Lookup(n, rows, cause), 0) << cause;
    for (const PageRecord& r : rows) {
      out += std::to_string(r.Number) + ":" + std::to_string(r.Piece) + ":" + PageStateName(r.State) + ":" +
             std::to_string(r.Attempts) + ":" + r.System + ":" + r.Result + " ";
    }
  }
  return out;
}

// Every commit is answered after one sync of the redo log; SQLite's own commits are not
// synced. A crash, or a power cut that takes SQLite's journal with it, must leave every
// change that was answered, and applying the log over changes SQLite kept must not undo or
// repeat any of them.
TEST_F(PageStoreTest, EveryAnsweredChangeSurvivesACrashAndAPowerCutThatTakesSqlitesJournal) {
  auto store = Open(dir_.File("pages.db"));
  std::string cause;
  ASSERT_EQ(store->Commit(Add({Waiting(1), Waiting(2), Waiting(3), Waiting(4, 0), Waiting(4, 1)}), cause), 0);
  ASSERT_EQ(store->Commit(Change(1, 0, PageState::kSent, "Page Sent", 1000), cause), 0);
  StoreBatch sending = Change(2, 0, PageState::kSending);
  sending.Change[0].Attempts = 3;
  sending.Change[0].System = "Other";
  ASSERT_EQ(store->Commit(std::move(sending), cause), 0);
  ASSERT_EQ(store->Commit(Change(2, 0, PageState::kWaiting, "Busy"), cause), 0);  // attempts stay 3
  StoreBatch due;  // the AT page 4 falls due: its record goes, its pieces come back anew
  due.Remove.push_back(4);
  due.Add = {Waiting(4, 0, "a")};
  ASSERT_EQ(store->Commit(std::move(due), cause), 0);
  ASSERT_EQ(store->Commit(Change(3, 0, PageState::kGivenUp, "Give up", 1500), cause), 0);
  int64_t removed = 0;
  ASSERT_EQ(store->Purge(1200, removed, cause), 0);  // page 1 goes, page 3 stays
  EXPECT_EQ(removed, 1);
  store->CommitLater(Change(4, 0, PageState::kSending));
  const std::string expected = Summary(*store, 4);
  EXPECT_EQ(expected, "2:0:waiting:3:Other:Busy 3:0:given up:0:Metro:Give up 4:0:sending:0:Metro: ");

  CrashCopy(*store, dir_.File("crash.db"), false);
  CrashCopy(*store, dir_.File("power.db"), true);
  for (const char* copy : {"crash.db", "power.db"}) {
    auto again = Open(dir_.File(copy));
    ASSERT_TRUE(again);
    EXPECT_EQ(Summary(*again, 4), expected) << copy;
    int32_t highest = 0;
    ASSERT_EQ(again->HighestNumber(highest, cause), 0);
    EXPECT_EQ(highest, 4) << copy;
  }
  EXPECT_NE(Log().find("change(s) kept in the page store's log were applied"), std::string::npos) << Log();

  // A log without its store (the database removed by hand) is not applied to a new one.
  testsupport::WriteFile(dir_.File("orphan.db-log"), testsupport::ReadFile(dir_.File("pages.db-log")));
  StoreOpenResult opened;
  auto fresh = Open(dir_.File("orphan.db"), &opened);
  EXPECT_TRUE(opened.Created);
  EXPECT_EQ(Summary(*fresh, 4), "");
  EXPECT_NE(Log().find("The page store's log " + dir_.File("orphan.db-log") + " belongs to no page store; moved aside to " +
                       dir_.File("orphan.db-log.damaged-")),
            std::string::npos)
      << Log();
}

// The redo log starts again after each checkpoint; what came before is then in the synced
// database file, and what came after is in the new generation of the log.
TEST_F(PageStoreTest, APowerCutAfterCheckpointsLosesNothingFromBeforeOrAfterThem) {
  auto store = Open(dir_.File("pages.db"));
  std::string cause;
  constexpr int kPages = 1500;  // past both the journal's and the log's checkpoint marks
  for (int i = 1; i <= kPages; ++i) ASSERT_EQ(store->Commit(Add({Waiting(i, 0, std::string(150, 't'))}), cause), 0);
  ASSERT_EQ(store->Commit(Change(kPages, 0, PageState::kSent, "last", 9), cause), 0);
  CrashCopy(*store, dir_.File("power.db"), true);
  EXPECT_GT(platform::FileSize(dir_.File("power.db")), 64 * 1024) << "no checkpoint ran";
  auto again = Open(dir_.File("power.db"));
  std::vector<PageRecord> pending;
  ASSERT_EQ(again->LoadPending(pending, cause), 0);
  EXPECT_EQ(pending.size(), static_cast<size_t>(kPages - 1));
  std::vector<PageRecord> rows;
  ASSERT_EQ(again->Lookup(kPages, rows, cause), 0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Result, "last");
}

// Every commit appends to the journal; unless checkpoints copy it into the database file
// and let it start again, the journal grows by every page for as long as the server runs.
TEST_F(PageStoreTest, TheJournalIsCheckpointedIntoTheDatabaseAndStaysBounded) {
  const std::string path = dir_.File("pages.db");
  auto store = Open(path);
  std::string cause;
  // Each commit writes at least two pages of 4 KB (the row and its index): 1200 commits
  // give the journal over twice the 1000 pages at which a checkpoint is due.
  constexpr int kCommits = 1200;
  for (int i = 1; i <= kCommits; ++i) ASSERT_EQ(store->Commit(Add({Waiting(i)}), cause), 0) << cause;
  store->Flush();
  EXPECT_GT(platform::FileSize(path), 64 * 1024) << "nothing was copied into the database file";
  EXPECT_LT(platform::FileSize(path + "-wal"), 1500 * 4096) << "the journal was never started again";
  std::vector<PageRecord> pending;
  ASSERT_EQ(store->LoadPending(pending, cause), 0);
  EXPECT_EQ(pending.size(), static_cast<size_t>(kCommits));
}

TEST_F(PageStoreTest, PurgeRemovesOnlyFinishedRecordsOlderThanTheCut) {
  auto store = Open(dir_.File("pages.db"));
  std::string cause;
  ASSERT_EQ(store->Commit(Add({Waiting(1), Waiting(2), Waiting(3), Waiting(4)}), cause), 0);
  ASSERT_EQ(store->Commit(Change(1, 0, PageState::kSent, "old", 1000), cause), 0);
  ASSERT_EQ(store->Commit(Change(2, 0, PageState::kDeleted, "new", 5000), cause), 0);
  ASSERT_EQ(store->Commit(Change(3, 0, PageState::kGivenUp, "old", 999), cause), 0);
  int64_t removed = 0;
  ASSERT_EQ(store->Purge(2000, removed, cause), 0);
  EXPECT_EQ(removed, 2);
  std::vector<PageRecord> rows;
  ASSERT_EQ(store->Lookup(1, rows, cause), 0);
  EXPECT_TRUE(rows.empty());
  ASSERT_EQ(store->Lookup(2, rows, cause), 0);
  EXPECT_EQ(rows.size(), 1u);
  ASSERT_EQ(store->Lookup(4, rows, cause), 0);
  EXPECT_EQ(rows.size(), 1u);  // still waiting: never purged, however old
}

TEST_F(PageStoreTest, GarbageAndTruncatedFilesAreMovedAsideWithATimeStampAndAFreshStoreStarts) {
  // Not a database at all.
  testsupport::WriteFile(dir_.File("garbage.db"), std::string(8192, 'x'));
  StoreOpenResult opened;
  auto store = Open(dir_.File("garbage.db"), &opened);
  ASSERT_TRUE(store);
  EXPECT_TRUE(opened.Created);
  EXPECT_EQ(opened.MovedAsideTo.rfind(dir_.File("garbage.db.damaged-"), 0), 0u) << opened.MovedAsideTo;
  EXPECT_EQ(testsupport::ReadFile(opened.MovedAsideTo), std::string(8192, 'x'));  // kept for a look
  EXPECT_NE(Log().find("is damaged (file is not a database); moved aside to"), std::string::npos) << Log();
  std::string cause;
  EXPECT_EQ(store->Commit(Add({Waiting(1)}), cause), 0);
  store.reset();

  // A store with many records, cut to half its length.
  {
    auto full = Open(dir_.File("cut.db"));
    std::vector<PageRecord> many;
    for (int i = 1; i <= 2000; ++i) many.push_back(Waiting(i, 0, std::string(200, 'm')));
    ASSERT_EQ(full->Commit(Add(std::move(many)), cause), 0);
  }
  const std::string bytes = testsupport::ReadFile(dir_.File("cut.db"));
  ASSERT_GT(bytes.size(), 100000u);
  testsupport::WriteFile(dir_.File("cut.db"), bytes.substr(0, bytes.size() / 2));
  store = Open(dir_.File("cut.db"), &opened);
  ASSERT_TRUE(store);
  EXPECT_TRUE(opened.Created);
  EXPECT_FALSE(opened.MovedAsideTo.empty());
  EXPECT_FALSE(opened.Damage.empty());
  std::vector<PageRecord> pending;
  ASSERT_EQ(store->LoadPending(pending, cause), 0);
  EXPECT_TRUE(pending.empty());
}

// A small file system of our own: a tmpfs mounted for the test (root), else a file-size
// limit on this process, which fails the store's writes the same way.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& folder) : folder_(folder) {
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

TEST_F(PageStoreTest, FullDiskFailsTheBatchWithItsCauseAndPagingGoesOnWhenSpaceReturns) {
  const std::string folder = dir_.File("disk");
  ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
  SmallDisk disk(folder);
  struct rlimit before {};
  ::getrlimit(RLIMIT_FSIZE, &before);
  if (!disk.Mounted()) {
    // No mount here: a file-size limit stands in for the full disk.
    std::printf("no tmpfs could be mounted; the disk is made full by RLIMIT_FSIZE instead\n");
    std::signal(SIGXFSZ, SIG_IGN);
  }
  auto store = Open(folder + "/pages.db");
  ASSERT_TRUE(store);
  std::string cause;
  ASSERT_EQ(store->Commit(Add({Waiting(1)}), cause), 0);
  if (disk.Mounted()) {
    // Fill the file system with a file we can take away again.
    std::ofstream filler(folder + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  } else {
    struct rlimit small = before;
    small.rlim_cur = static_cast<rlim_t>(platform::FileSize(folder + "/pages.db-wal") + 8192);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  }
  int refused = 0;
  int32_t number = 2;
  for (; number < 400 && refused == 0; ++number) {
    if (store->Commit(Add({Waiting(number, 0, std::string(3000, 'z'))}), cause) != 0) ++refused;
  }
  const int32_t failed = number - 1;
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(cause.find("full") != std::string::npos || cause.find("I/O") != std::string::npos) << cause;
  EXPECT_NE(Log().find("Error - The page store could not record 1 change(s): "), std::string::npos);
  // The refused batch may have reached the redo log before SQLite refused it; a crash now
  // must not bring it back.
  CrashCopy(*store, dir_.File("crash.db"), false);
  {
    auto copy = Open(dir_.File("crash.db"));
    std::vector<PageRecord> rows;
    ASSERT_EQ(copy->Lookup(failed, rows, cause), 0);
    EXPECT_TRUE(rows.empty());
    ASSERT_EQ(copy->Lookup(failed - 1, rows, cause), 0);
    EXPECT_EQ(rows.size(), 1u);
  }

  // Space comes back: the next batch is recorded, and the refused one is not there.
  if (disk.Mounted()) {
    std::remove((folder + "/filler").c_str());
  } else {
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
  }
  ASSERT_EQ(store->Commit(Add({Waiting(1000)}), cause), 0) << cause;
  std::vector<PageRecord> rows;
  ASSERT_EQ(store->Lookup(failed, rows, cause), 0);
  EXPECT_TRUE(rows.empty());
  ASSERT_EQ(store->Lookup(1000, rows, cause), 0);
  EXPECT_EQ(rows.size(), 1u);

  store.reset();
  if (disk.Mounted()) {
    // The file system turned read-only: the store cannot be had, which is said in words and
    // is no damage (nothing is moved aside).
    ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    StoreOpenResult opened;
    EXPECT_EQ(SqlitePageStore::Open(folder + "/pages.db", store, opened, cause), -1);
    EXPECT_FALSE(cause.empty());
    EXPECT_TRUE(opened.MovedAsideTo.empty());
    EXPECT_TRUE(platform::FileExists(folder + "/pages.db"));
  }
}

TEST_F(PageStoreTest, AStoreThatCannotBeMadeIsAnErrorNotADamage) {
  std::unique_ptr<SqlitePageStore> store;
  StoreOpenResult opened;
  std::string cause;
  EXPECT_EQ(SqlitePageStore::Open(dir_.File("no-such-folder/pages.db"), store, opened, cause), -1);
  EXPECT_FALSE(cause.empty());
  EXPECT_FALSE(store);
  EXPECT_TRUE(opened.MovedAsideTo.empty());
}

}  // namespace
}  // namespace core
