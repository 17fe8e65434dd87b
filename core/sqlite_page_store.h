// core/sqlite_page_store.h - the page store on SQLite: one file (pages.db), WAL journal,
// synchronous=FULL, so a commit that returned is on disk.
//
// One writer thread owns the connection. Callers hand it their batch and wait; the writer
// takes every batch waiting, applies them in one transaction (each inside a savepoint of
// its own, so a bad batch fails alone), commits once (one sync for all of them) and wakes
// every caller with its outcome. Durability then costs little throughput: concurrent
// requests share their sync. A commit that fails fails every batch in it with SQLite's
// words for the cause, logged once. Reads go through the same thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/page_store.h"

struct sqlite3;

namespace core {

constexpr const char* kPageStoreName = "pages.db";

// What Open found.
struct StoreOpenResult {
  bool Created = false;      // there was no store: a fresh one was made
  std::string MovedAsideTo;  // a damaged store was moved here and a fresh one made
  std::string Damage;        // why it was judged damaged
};

class SqlitePageStore : public PageStore {
 public:
  // Opens the store at path, making it when missing. A file that is not a database, or one
  // that fails its check, is moved aside to path + ".damaged-YYYYMMDD-HHMMSS" (with its
  // journal files) and logged, and a fresh store is made in its place. 0, or -1 with cause
  // when no store can be had at path at all (the folder is not writable, ...).
  [[nodiscard]] static int Open(const std::string& path, std::unique_ptr<SqlitePageStore>& out, StoreOpenResult& result,
                                std::string& cause);

  ~SqlitePageStore() override;  // finishes every batch handed over, then closes
  SqlitePageStore(const SqlitePageStore&) = delete;
  SqlitePageStore& operator=(const SqlitePageStore&) = delete;

  [[nodiscard]] int Commit(StoreBatch batch, std::string& cause) override;
  void CommitLater(StoreBatch batch) override;
  [[nodiscard]] int LoadPending(std::vector<PageRecord>& out, std::string& cause) override;
  [[nodiscard]] int Lookup(int32_t number, std::vector<PageRecord>& out, std::string& cause) override;
  [[nodiscard]] int HighestNumber(int32_t& out, std::string& cause) override;
  [[nodiscard]] int Purge(int64_t finishedBefore, int64_t& removed, std::string& cause) override;

  // Waits until every batch handed over so far is applied (or failed).
  void Flush();

  // Number of transactions committed so far (each may carry many batches); for the tests
  // and benchmarks of group commit.
  int64_t Transactions() const;

  const std::string& Path() const { return path_; }

 private:
  struct Job;
  struct Db;
  SqlitePageStore(std::string path, std::unique_ptr<Db> db);
  void WriterLoop(std::stop_token stop);
  void CheckpointIfDue();
  static int OnWalCommit(void* self, sqlite3* db, const char* name, int pages);
  void RunBatches(std::deque<std::shared_ptr<Job>>& jobs);
  std::shared_ptr<Job> Submit(std::shared_ptr<Job> job);
  int Read(std::function<int(Db&, std::string&)> body, std::string& cause);

  std::string path_;
  std::unique_ptr<Db> db_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::shared_ptr<Job>> jobs_;
  bool busy_ = false;
  int64_t transactions_ = 0;
  int journalFrames_ = 0;  // in the journal after the last commit (writer thread only)
  std::jthread writer_;    // last: stopped and joined before anything it uses goes
};

}  // namespace core
