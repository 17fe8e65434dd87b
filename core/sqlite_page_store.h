// core/sqlite_page_store.h - the page store on SQLite: one file (pages.db) with its WAL
// journal, and in front of it a redo log of our own (pages.db-log), so a commit that
// returned is on disk.
//
// A commit costs one sync of the redo log, whose blocks were written beforehand; SQLite
// commits without syncing and is made durable only by its checkpoints, after which the
// redo log starts again. At start-up whatever the redo log holds is applied to the
// database once more (every change is stated in full, so applying one twice does no harm).
//
// Group commit: a caller whose batch finds no one at work leads. It takes every batch
// waiting, applies them in one transaction (a bad batch fails alone), writes the ones that
// applied to the redo log with one sync, commits, and wakes every caller with its outcome.
// Callers arriving meanwhile wait and share the next sync; under load the writer thread
// leads them, group after group. A failure fails every batch of its transaction with the
// words of its cause, logged once. Reads take the same path, so they see every batch handed
// over before them. The writer also takes batches no caller waits for, and runs the
// checkpoints, so no caller waits for one.
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
#include "platform/record_log.h"

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
  // Opens the store at path, making it when missing, and applies what its redo log holds. A
  // file that is not a database, or one that fails its check, is moved aside to path +
  // ".damaged-YYYYMMDD-HHMMSS" (with its journal files and redo log) and logged, and a fresh
  // store is made in its place. 0, or -1 with cause
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

  // Waits until every batch handed over so far is applied (or failed), and any checkpoint
  // under way has ended.
  void Flush();

  // Number of transactions committed so far (each may carry many batches); for the tests
  // and benchmarks of group commit.
  int64_t Transactions() const;

  const std::string& Path() const { return path_; }

 private:
  struct Job;
  struct Db;
  using Jobs = std::deque<std::shared_ptr<Job>>;
  SqlitePageStore(std::string path, std::unique_ptr<Db> db);
  int Recover(std::string& cause);
  void WriterLoop(std::stop_token stop);
  void Lead(std::unique_lock<std::mutex>& hold);
  void Process(Jobs& jobs);
  void RunBatches(Jobs& group);
  int ApplyGroup(Jobs& group, std::string& cause);
  int MakeRoom(size_t payloadSize, std::string& cause);
  int Checkpoint(std::string& cause);
  static int OnWalCommit(void* self, sqlite3* db, const char* name, int pages);
  int Run(std::shared_ptr<Job> job, std::string& cause);
  int Read(std::function<int(Db&, std::string&)> body, std::string& cause);

  std::string path_;
  std::unique_ptr<Db> db_;        // used only by whoever leads (busy_), or the writer
  platform::RecordLog log_;       // likewise
  int journalFrames_ = 0;         // in SQLite's journal after the last commit; likewise
  mutable std::mutex mutex_;
  std::condition_variable done_;  // a group or checkpoint ended (for Flush)
  std::condition_variable writerWake_;
  Jobs jobs_;
  bool busy_ = false;  // someone leads, or a checkpoint runs
  bool checkpointDue_ = false;
  int64_t transactions_ = 0;
  std::jthread writer_;  // last: stopped and joined before anything it uses goes
};

}  // namespace core
