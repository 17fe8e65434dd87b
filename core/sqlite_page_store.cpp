// core/sqlite_page_store.cpp - the page store on SQLite behind a redo log, with group
// commit.
#include "core/sqlite_page_store.h"

#include <sqlite3.h>

#include <ctime>
#include <set>
#include <utility>

#include "common/log.h"
#include "core/batch_codec.h"
#include "platform/clock.h"
#include "platform/state_file.h"

namespace core {

const char* PageStateName(PageState state) {
  switch (state) {
    case PageState::kWaiting:
      return "waiting";
    case PageState::kScheduled:
      return "scheduled";
    case PageState::kSending:
      return "sending";
    case PageState::kSent:
      return "sent";
    case PageState::kGivenUp:
      return "given up";
    case PageState::kDeleted:
      return "deleted";
  }
  return "unknown";
}

namespace {

// Texts are stored as blobs: they are the pagers' 8-bit code page, not UTF-8.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS pages("
    " number INTEGER NOT NULL, piece INTEGER NOT NULL, state INTEGER NOT NULL,"
    " name BLOB NOT NULL, pageid BLOB NOT NULL, system BLOB NOT NULL, text BLOB NOT NULL,"
    " attempts INTEGER NOT NULL, accepted INTEGER NOT NULL, due INTEGER NOT NULL,"
    " finished INTEGER NOT NULL, result BLOB NOT NULL, at_record BLOB,"
    " PRIMARY KEY(number, piece));"
    // Start-up reads only what is still to be worked on; with a long history this index
    // keeps that read as short as the work itself.
    "CREATE INDEX IF NOT EXISTS pages_pending ON pages(number, piece) WHERE state IN (0, 1, 2);"
    "CREATE INDEX IF NOT EXISTS pages_finished ON pages(finished) WHERE state >= 3;";

constexpr const char* kColumns =
    "number, piece, state, name, pageid, system, text, attempts, accepted, due, finished, result, at_record";

constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kPragmas[] = {
    // One server per folder holds the store alone: with the lock taken once, SQLite keeps
    // its journal's index in memory and spares every commit its file locks. (First: it
    // decides where that index lives.)
    "PRAGMA locking_mode=EXCLUSIVE",
    // For a new store: a commit writes its journal a page at a time, and with small pages
    // those writes, and what a checkpoint syncs, are a quarter of the size; the syncs of the
    // redo log, which share the disk with them, stay shorter. (An existing store keeps its
    // own size.)
    "PRAGMA page_size=1024",
    "PRAGMA journal_mode=WAL",
    // Commits are made durable by the redo log; SQLite syncs at its checkpoints only, before
    // the redo log starts again.
    "PRAGMA synchronous=NORMAL",
    // A journal emptied by a checkpoint is kept (commits then overwrite it) but cut back to
    // this size, so a burst does not hold its disk space.
    "PRAGMA journal_size_limit=16777216",
};

bool IsDamage(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

std::string Words(sqlite3* db, int rc) {
  if (db != nullptr) return sqlite3_errmsg(db);
  return sqlite3_errstr(rc);
}

// One prepared statement, reset and unbound whenever a Use of it ends.
class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }
  int Prepare(sqlite3* db, const std::string& sql) {
    return sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  sqlite3_stmt* Get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class Use {
 public:
  explicit Use(const Statement& s) : stmt_(s.Get()) {}
  ~Use() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  void Int(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  // The bytes are not copied: they must outlive the Use (a batch's fields do).
  void Text(int i, std::string_view v) {
    sqlite3_bind_blob(stmt_, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  }
  void Null(int i) { sqlite3_bind_null(stmt_, i); }
  int Step() { return sqlite3_step(stmt_); }
  int64_t ColumnInt(int i) const { return sqlite3_column_int64(stmt_, i); }
  std::string ColumnText(int i) const {
    const void* p = sqlite3_column_blob(stmt_, i);
    const int n = sqlite3_column_bytes(stmt_, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
  }
  PageRecord Row() const {
    PageRecord r;
    r.Number = static_cast<int32_t>(ColumnInt(0));
    r.Piece = static_cast<int32_t>(ColumnInt(1));
    r.State = static_cast<PageState>(ColumnInt(2));
    r.Name = ColumnText(3);
    r.PageId = ColumnText(4);
    r.System = ColumnText(5);
    r.Text = ColumnText(6);
    r.Attempts = static_cast<int32_t>(ColumnInt(7));
    r.Accepted = ColumnInt(8);
    r.Due = ColumnInt(9);
    r.Finished = ColumnInt(10);
    r.Result = ColumnText(11);
    r.AtRecord = ColumnText(12);
    return r;
  }

 private:
  sqlite3_stmt* stmt_;
};

// The statements a batch runs, for the function that applies it.
struct WriteStatements {
  sqlite3* Handle;
  const Statement *Insert, *Replace, *Update, *Remove, *Purge;
};

void SayCheckpointFailed(const std::string& path, const std::string& why) {
  common::LogLine("%t %s: Error - The page store could not copy its journal into %s: %s\n", common::ProgramName(), path,
                  why);
}

std::string DamagedName(const std::string& path) {
  const std::tm now = platform::LocalTime(platform::Now());
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &now);
  return path + ".damaged-" + stamp;
}

// PRAGMA quick_check: SQLITE_OK for a sound file; otherwise damage (a damaged file) or cause
// (anything else) gets the words and the code is returned.
int CheckIntegrity(sqlite3* handle, std::string& damage, std::string& cause) {
  sqlite3_stmt* check = nullptr;
  const int rc = sqlite3_prepare_v2(handle, "PRAGMA quick_check", -1, &check, nullptr);
  std::string verdict;
  while (rc == SQLITE_OK && sqlite3_step(check) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(check, 0);
    if (verdict.empty() && text) verdict = reinterpret_cast<const char*>(text);
  }
  const int stepRc = check ? sqlite3_errcode(handle) : rc;
  sqlite3_finalize(check);
  if (rc != SQLITE_OK || (stepRc != SQLITE_OK && stepRc != SQLITE_DONE && stepRc != SQLITE_ROW)) {
    const int code = rc != SQLITE_OK ? rc : stepRc;
    (IsDamage(code) ? damage : cause) = Words(handle, code);
    return code;
  }
  if (verdict != "ok") {
    damage = "integrity check: " + verdict;
    return SQLITE_CORRUPT;
  }
  return SQLITE_OK;
}

}  // namespace

struct SqlitePageStore::Db {
  sqlite3* Handle = nullptr;
  Statement Insert, Replace, Update, Remove, Pending, Lookup, Highest, Purge;
  // Prepared once. A batch runs inside a savepoint of its own when its group is applied
  // guarded (see ApplyGroup).
  Statement Begin, Savepoint, Release, RollbackTo, Commit;
  Db() = default;
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  // close_v2 leaves the connection open until the statements, finalized after this body
  // ran, are gone.
  ~Db() {
    if (Handle) sqlite3_close_v2(Handle);
  }
  int Exec(const char* sql) { return sqlite3_exec(Handle, sql, nullptr, nullptr, nullptr); }
  WriteStatements Writes() const { return {Handle, &Insert, &Replace, &Update, &Remove, &Purge}; }
  // Prepares every statement the store runs: SQLITE_OK or the first failure.
  int PrepareAll() {
    const std::string columns = kColumns;
    const int prepared[] = {
        Insert.Prepare(Handle, "INSERT INTO pages(" + columns +
                                   ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"),
        // What the redo log brings back may be stored already: the last word is the log's.
        Replace.Prepare(Handle, "INSERT OR REPLACE INTO pages(" + columns +
                                    ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"),
        Update.Prepare(Handle,
                       "UPDATE pages SET state = ?3,"
                       " attempts = CASE WHEN ?4 < 0 THEN attempts ELSE ?4 END,"
                       " system = CASE WHEN length(?5) = 0 THEN system ELSE ?5 END,"
                       " result = CASE WHEN ?6 THEN ?7 ELSE result END,"
                       " finished = ?8 WHERE number = ?1 AND piece = ?2"),
        Remove.Prepare(Handle, "DELETE FROM pages WHERE number = ?1"),
        Pending.Prepare(Handle, "SELECT " + columns + " FROM pages WHERE state IN (0, 1, 2) ORDER BY number, piece"),
        Lookup.Prepare(Handle, "SELECT " + columns + " FROM pages WHERE number = ?1 ORDER BY piece"),
        Highest.Prepare(Handle, "SELECT max(number) FROM pages"),
        Purge.Prepare(Handle, "DELETE FROM pages WHERE state >= 3 AND finished < ?1"),
        Begin.Prepare(Handle, "BEGIN IMMEDIATE"),
        Savepoint.Prepare(Handle, "SAVEPOINT batch"),
        Release.Prepare(Handle, "RELEASE batch"),
        RollbackTo.Prepare(Handle, "ROLLBACK TO batch"),
        Commit.Prepare(Handle, "COMMIT"),
    };
    for (int p : prepared) {
      if (p != SQLITE_OK) return p;
    }
    return SQLITE_OK;
  }
  // Runs a prepared statement that returns no rows: SQLITE_OK or the failure.
  static int Run(const Statement& s) {
    Use u(s);
    const int rc = u.Step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }
};

struct SqlitePageStore::Job {
  enum class Kind { kWrite, kRead };
  Kind What = Kind::kWrite;
  LoggedBatch Batch;
  std::function<int(Db&, std::string&)> ReadBody;
  int Result = 0;
  std::string Cause;
  int64_t Removed = 0;  // a purge: how many records went
  bool Done = false;    // under the store's mutex
  bool Waited = false;  // its caller waits for it (not CommitLater)
  std::condition_variable Wake;  // its caller's: done, or its turn to lead
};

int SqlitePageStore::Open(const std::string& path, std::unique_ptr<SqlitePageStore>& out, StoreOpenResult& result,
                          std::string& cause) {
  result = {};
  const bool existed = platform::FileExists(path) && platform::FileSize(path) > 0;
  result.Created = !existed;

  // One attempt at a usable store at path: 0, or the SQLite result with damage or cause set.
  auto attempt = [&](std::unique_ptr<Db>& db, bool checkIt, std::string& damage) -> int {
    db = std::make_unique<Db>();
    int rc = sqlite3_open_v2(path.c_str(), &db->Handle,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      cause = Words(db->Handle, rc);
      return rc;
    }
    sqlite3_busy_timeout(db->Handle, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db->Handle, 1);
    for (const char* pragma : kPragmas) {
      if ((rc = db->Exec(pragma)) != SQLITE_OK) {
        (IsDamage(rc) ? damage : cause) = Words(db->Handle, rc);
        return rc;
      }
    }
    if (checkIt && (rc = CheckIntegrity(db->Handle, damage, cause)) != SQLITE_OK) return rc;
    if ((rc = db->Exec(kSchema)) != SQLITE_OK) {
      (IsDamage(rc) ? damage : cause) = Words(db->Handle, rc);
      return rc;
    }
    if ((rc = db->PrepareAll()) != SQLITE_OK) {
      (IsDamage(rc) ? damage : cause) = Words(db->Handle, rc);
      return rc;
    }
    return SQLITE_OK;
  };

  std::unique_ptr<Db> db;
  std::string damage;
  cause.clear();
  int rc = attempt(db, existed, damage);
  if (rc != SQLITE_OK && !damage.empty()) {
    db.reset();  // closed before it is moved
    const std::string aside = DamagedName(path);
    if (platform::RenameFile(path, aside) != 0) {
      cause = "the damaged store could not be moved aside: " + damage;
      return -1;
    }
    for (const char* suffix : {"-wal", "-shm", "-log"}) {
      if (platform::FileExists(path + suffix)) (void)platform::RenameFile(path + suffix, aside + suffix);
    }
    (void)platform::SyncParentFolder(path);
    common::LogLine("%t %s: Error - The page store %s is damaged (%s); moved aside to %s, a fresh one is started\n",
                    common::ProgramName(), path, damage, aside);
    result.MovedAsideTo = aside;
    result.Damage = damage;
    result.Created = true;
    damage.clear();
    rc = attempt(db, false, damage);
    if (!damage.empty()) cause = damage;
  }
  if (rc != SQLITE_OK) {
    if (cause.empty()) cause = sqlite3_errstr(rc);
    return -1;
  }
  const std::string logPath = path + "-log";
  if (result.Created && result.MovedAsideTo.empty() && platform::FileExists(logPath)) {
    // The changes of a store that is gone: applied to a new one they would bring back its
    // pages beside those that at.dat brings, some of them twice.
    const std::string aside = DamagedName(logPath);
    if (platform::RenameFile(logPath, aside) != 0) {
      cause = "the log of a page store that is gone could not be moved aside: " + logPath;
      return -1;
    }
    common::LogLine("%t %s: Error - The page store's log %s belongs to no page store; moved aside to %s\n",
                    common::ProgramName(), logPath, aside);
  }
  // A new store's file and its journal must survive a power cut as entries of the folder.
  if (result.Created) (void)platform::SyncParentFolder(path);
  std::unique_ptr<SqlitePageStore> store(new SqlitePageStore(path, std::move(db)));
  if (store->Recover(cause) != 0) return -1;
  out = std::move(store);
  return 0;
}

SqlitePageStore::SqlitePageStore(std::string path, std::unique_ptr<Db> db)
    : path_(std::move(path)), db_(std::move(db)) {
  // The hook takes over from SQLite's own checkpoints, which would run inside a commit and
  // keep its callers waiting; the writer runs them between groups instead.
  sqlite3_wal_hook(db_->Handle, &SqlitePageStore::OnWalCommit, this);
}

int SqlitePageStore::OnWalCommit(void* self, sqlite3*, const char*, int pages) {
  static_cast<SqlitePageStore*>(self)->journalFrames_ = pages;  // by whoever leads
  return SQLITE_OK;
}

// Copies SQLite's journal into the database file, synced (synchronous=NORMAL syncs at
// checkpoints), and then starts the redo log again: what it held is now safe in the file.
int SqlitePageStore::Checkpoint(std::string& cause) {
  int logged = 0;
  int copied = 0;
  const int rc = sqlite3_wal_checkpoint_v2(db_->Handle, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logged, &copied);
  if (rc != SQLITE_OK) {
    cause = Words(db_->Handle, rc);
    return -1;
  }
  if (logged != copied) {
    cause = "the journal was not copied in full";
    return -1;
  }
  journalFrames_ = 0;
  return log_.Reset(cause);
}

// Room in the redo log for a record of payloadSize bytes: a checkpoint empties it, and a
// record larger than the whole log grows it.
int SqlitePageStore::MakeRoom(size_t payloadSize, std::string& cause) {
  if (log_.Fits(payloadSize)) return 0;
  if (Checkpoint(cause) != 0) return -1;
  return log_.Grow(payloadSize, cause);
}

namespace {

// Applies one batch; with replay set it is one that the redo log brings back, which the
// database may hold already in part: records are replaced, and changes of records that a
// later batch removed are passed over. SQLITE_OK or the failure with cause.
int ApplyBatch(const WriteStatements& s, const LoggedBatch& logged, bool replay, int64_t& removed,
               std::string& cause) {
  sqlite3* db = s.Handle;
  auto fail = [&](int rc) {
    cause = Words(db, rc);
    return rc;
  };
  const StoreBatch& batch = logged.Batch;
  if (logged.PurgeBefore > 0) {
    Use u(*s.Purge);
    u.Int(1, logged.PurgeBefore);
    if (const int rc = u.Step(); rc != SQLITE_DONE) return fail(rc);
    removed = sqlite3_changes64(db);
  }
  for (int32_t number : batch.Remove) {
    Use u(*s.Remove);
    u.Int(1, number);
    if (const int rc = u.Step(); rc != SQLITE_DONE) return fail(rc);
  }
  for (const PageRecord& r : batch.Add) {
    Use u(replay ? *s.Replace : *s.Insert);
    u.Int(1, r.Number);
    u.Int(2, r.Piece);
    u.Int(3, static_cast<int64_t>(r.State));
    u.Text(4, r.Name);
    u.Text(5, r.PageId);
    u.Text(6, r.System);
    u.Text(7, r.Text);
    u.Int(8, r.Attempts);
    u.Int(9, r.Accepted);
    u.Int(10, r.Due);
    u.Int(11, r.Finished);
    u.Text(12, r.Result);
    if (r.AtRecord.empty())
      u.Null(13);
    else
      u.Text(13, r.AtRecord);
    if (const int rc = u.Step(); rc != SQLITE_DONE) return fail(rc);
  }
  for (const PageChange& c : batch.Change) {
    Use u(*s.Update);
    u.Int(1, c.Number);
    u.Int(2, c.Piece);
    u.Int(3, static_cast<int64_t>(c.State));
    u.Int(4, c.Attempts);
    u.Text(5, c.System);
    u.Int(6, c.SetResult ? 1 : 0);
    u.Text(7, c.Result);
    u.Int(8, IsFinished(c.State) ? c.Finished : 0);
    if (const int rc = u.Step(); rc != SQLITE_DONE) return fail(rc);
    if (sqlite3_changes(db) != 1 && !replay) {
      cause = "no page #" + std::to_string(c.Number) + " piece " + std::to_string(c.Piece) + " in the store";
      return SQLITE_NOTFOUND;
    }
  }
  return SQLITE_OK;
}

}  // namespace

// Applies what the redo log holds (its records but those a later one cancels), makes it
// durable with a checkpoint, and starts the log again; then the writer starts.
int SqlitePageStore::Recover(std::string& cause) {
  platform::RecordLog::Contents contents;
  if (log_.Open(path_ + "-log", contents, cause) != 0) return -1;
  if (contents.HeaderUnreadable) {
    common::LogLine("%t %s: Error - The page store's log %s-log could not be read; it is started anew\n",
                    common::ProgramName(), path_);
  }
  std::vector<LogEntry> entries;
  std::set<uint64_t> cancelled;
  for (size_t i = 0; i < contents.Records.size(); ++i) {
    LogEntry entry;
    if (!DecodeLogEntry(contents.Records[i], entry)) {
      common::LogLine("%t %s: Error - Record %d of the page store's log cannot be read; the %d after it are left out\n",
                      common::ProgramName(), static_cast<int>(i + 1),
                      static_cast<int>(contents.Records.size() - i - 1));
      break;
    }
    if (entry.Cancels > 0) cancelled.insert(entry.Cancels);
    entries.push_back(std::move(entry));
  }
  int applied = 0;
  if (!entries.empty()) {
    int rc = db_->Exec("BEGIN IMMEDIATE");
    int64_t removed = 0;
    for (size_t i = 0; rc == SQLITE_OK && i < entries.size(); ++i) {
      if (cancelled.count(i + 1) != 0) continue;  // sequence numbers count from 1
      for (const LoggedBatch& b : entries[i].Batches) {
        if ((rc = ApplyBatch(db_->Writes(), b, true, removed, cause)) != SQLITE_OK) break;
        ++applied;
      }
    }
    if (rc == SQLITE_OK) rc = db_->Exec("COMMIT");
    if (rc != SQLITE_OK) {
      if (cause.empty()) cause = Words(db_->Handle, rc);
      cause = "the page store's log cannot be applied: " + cause;
      if (!sqlite3_get_autocommit(db_->Handle)) db_->Exec("ROLLBACK");
      return -1;
    }
  }
  std::string why;
  if (Checkpoint(why) != 0) {
    // Not a reason to refuse the start (a full disk, say): the log keeps its records, which
    // are applied once more at the next start, and the next checkpoint is tried later. A log
    // without a header of its own yet must have one before anything is appended to it.
    if ((contents.Created || contents.HeaderUnreadable) && log_.Reset(cause) != 0) return -1;
    SayCheckpointFailed(path_, why);
  }
  if (applied > 0) {
    common::LogLine("%t %s: %d change(s) kept in the page store's log were applied\n", common::ProgramName(),
                    applied);
  }
  writer_ = std::jthread([this](std::stop_token stop) { WriterLoop(stop); });
  return 0;
}

SqlitePageStore::~SqlitePageStore() {
  if (writer_.joinable()) {
    writer_.request_stop();
    {
      std::lock_guard<std::mutex> hold(mutex_);
      writerWake_.notify_all();
    }
    writer_.join();
    // Everything handed over is done; a last checkpoint leaves the next start nothing to
    // apply again.
    std::string cause;
    (void)Checkpoint(cause);
  }
}

int SqlitePageStore::Run(std::shared_ptr<Job> job, std::string& cause) {
  std::unique_lock<std::mutex> hold(mutex_);
  job->Waited = true;
  jobs_.push_back(job);
  while (!job->Done) {
    if (!busy_) {
      Lead(hold);
      continue;
    }
    job->Wake.wait(hold);
  }
  cause = job->Cause;
  return job->Result;
}

int SqlitePageStore::Commit(StoreBatch batch, std::string& cause) {
  if (batch.Empty()) return 0;
  auto job = std::make_shared<Job>();
  job->Batch.Batch = std::move(batch);
  return Run(std::move(job), cause);
}

void SqlitePageStore::CommitLater(StoreBatch batch) {
  if (batch.Empty()) return;
  auto job = std::make_shared<Job>();
  job->Batch.Batch = std::move(batch);
  std::lock_guard<std::mutex> hold(mutex_);
  jobs_.push_back(std::move(job));
  writerWake_.notify_one();
}

int SqlitePageStore::Read(std::function<int(Db&, std::string&)> body, std::string& cause) {
  auto job = std::make_shared<Job>();
  job->What = Job::Kind::kRead;
  job->ReadBody = std::move(body);
  return Run(std::move(job), cause);
}

void SqlitePageStore::Flush() {
  std::unique_lock<std::mutex> hold(mutex_);
  done_.wait(hold, [this] { return jobs_.empty() && !busy_; });
}

int64_t SqlitePageStore::Transactions() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return transactions_;
}

// Called with hold locked and no one leading: takes every job waiting and does them.
void SqlitePageStore::Lead(std::unique_lock<std::mutex>& hold) {
  busy_ = true;
  Jobs jobs;
  jobs.swap(jobs_);
  hold.unlock();
  Process(jobs);
  hold.lock();
  busy_ = false;
  for (auto& job : jobs) job->Done = true;
  constexpr int kCheckpointPages = 1000;  // SQLite's own default threshold
  if (journalFrames_ >= kCheckpointPages || log_.Used() > log_.Size() / 2) checkpointDue_ = true;
  // Whatever came in meanwhile is the writer's: awake, it goes from group to group without
  // a hand-over, where a caller would lead only after being woken in turn.
  const bool writerWanted = !jobs_.empty() || checkpointDue_;
  // Each caller is woken alone, and after the lock is let go: woken under it, each would
  // only wait for it again. (jobs keeps every job, and so its Wake, alive meanwhile.)
  hold.unlock();
  for (auto& job : jobs) job->Wake.notify_one();
  if (writerWanted) writerWake_.notify_one();
  done_.notify_all();  // Flush
  hold.lock();
}

void SqlitePageStore::WriterLoop(std::stop_token stop) {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    writerWake_.wait(hold, [&] { return !busy_ && (!jobs_.empty() || checkpointDue_ || stop.stop_requested()); });
    if (checkpointDue_ && !stop.stop_requested()) {
      busy_ = true;
      checkpointDue_ = false;
      hold.unlock();
      std::string cause;
      if (Checkpoint(cause) != 0) {
        SayCheckpointFailed(path_, cause);
      }
      hold.lock();
      busy_ = false;
      done_.notify_all();
      continue;
    }
    if (!jobs_.empty()) {
      Lead(hold);
      continue;
    }
    return;  // stopped, and everything handed over is done (the closing checkpoint is the destructor's)
  }
}

// Writes that follow one another share a transaction; a read runs between them, in order,
// so it sees every batch handed over before it.
void SqlitePageStore::Process(Jobs& jobs) {
  Jobs group;
  auto flushGroup = [&] {
    if (!group.empty()) RunBatches(group);
    group.clear();
  };
  for (auto& job : jobs) {
    if (job->What == Job::Kind::kWrite) {
      group.push_back(job);
      continue;
    }
    flushGroup();
    job->Result = job->ReadBody(*db_, job->Cause);
  }
  flushGroup();
}

// Opens the group's transaction and applies each batch inside a savepoint of its own, so a
// bad batch fails alone (its job gets the cause). The number of batches applied, or -1 with
// cause when the transaction could not begin or SQLite rolled all of it back (disk full, I/O
// error).
int SqlitePageStore::ApplyGroup(Jobs& group, std::string& cause) {
  sqlite3* db = db_->Handle;
  // First without savepoints, which cost two statements a batch: only a fault of its sender
  // gets a batch refused, and then the group is applied again with each batch guarded.
  for (const bool guarded : {false, true}) {
    if (const int rc = Db::Run(db_->Begin); rc != SQLITE_OK) {
      cause = Words(db, rc);
      return -1;
    }
    int applied = 0;
    bool again = false;
    for (auto& job : group) {
      if (guarded) (void)Db::Run(db_->Savepoint);
      std::string why;
      if (ApplyBatch(db_->Writes(), job->Batch, false, job->Removed, why) == SQLITE_OK) {
        if (guarded) (void)Db::Run(db_->Release);
        ++applied;
        continue;
      }
      if (sqlite3_get_autocommit(db)) {
        cause = why;
        return -1;
      }
      if (!guarded) {
        db_->Exec("ROLLBACK");
        again = true;
        break;
      }
      (void)Db::Run(db_->RollbackTo);
      (void)Db::Run(db_->Release);
      job->Result = -1;
      job->Cause = why;
      common::LogLine("%t %s: Error - The page store refused a change: %s\n", common::ProgramName(), why);
    }
    if (!again) return applied;
  }
  return -1;  // not reached: the guarded round never goes again
}

void SqlitePageStore::RunBatches(Jobs& group) {
  sqlite3* db = db_->Handle;
  auto failAll = [&](const std::string& why, bool onlyThoseThatWorked) {
    int n = 0;
    for (auto& job : group) {
      if (onlyThoseThatWorked && job->Result != 0) continue;
      job->Result = -1;
      job->Cause = why;
      ++n;
    }
    common::LogLine("%t %s: Error - The page store could not record %d change(s): %s\n", common::ProgramName(), n, why);
  };
  std::vector<std::string> encoded(group.size());
  size_t total = 16;
  for (size_t i = 0; i < group.size(); ++i) {
    EncodeBatch(group[i]->Batch, encoded[i]);
    total += encoded[i].size();
  }
  constexpr size_t kCancelRoom = 64;  // a cancel record behind it, should the commit fail
  std::string why;
  if (MakeRoom(total + kCancelRoom, why) != 0) {
    failAll(why, false);
    return;
  }
  const int applied = ApplyGroup(group, why);
  if (applied < 0) {
    failAll(why, false);
    return;
  }
  // The redo log's sync is the one that makes the group durable; SQLite's commit then only
  // writes its journal.
  uint64_t seq = 0;
  if (applied > 0) {
    std::string payload;
    EncodeGroupStart(static_cast<uint32_t>(applied), payload);
    for (size_t i = 0; i < group.size(); ++i) {
      if (group[i]->Result == 0) payload += encoded[i];
    }
    if (log_.Append(payload, seq, why) != 0) {
      db_->Exec("ROLLBACK");
      failAll(why, true);
      return;
    }
  }
  if (const int rc = Db::Run(db_->Commit); rc != SQLITE_OK) {
    why = Words(db, rc);
    if (!sqlite3_get_autocommit(db)) db_->Exec("ROLLBACK");
    std::string cancelWhy;
    uint64_t cancelSeq = 0;
    if (seq > 0 && log_.Append(EncodeCancel(seq), cancelSeq, cancelWhy) != 0) {
      common::LogLine("%t %s: Error - The page store could not void its log record %ld (%s): its changes may be "
                      "applied at the next start\n",
                      common::ProgramName(), static_cast<long>(seq), cancelWhy);
    }
    failAll(why, true);
    return;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  ++transactions_;
}

int SqlitePageStore::LoadPending(std::vector<PageRecord>& out, std::string& cause) {
  out.clear();
  return Read(
      [&out](Db& db, std::string& why) {
        Use u(db.Pending);
        int rc;
        while ((rc = u.Step()) == SQLITE_ROW) out.push_back(u.Row());
        if (rc != SQLITE_DONE) {
          why = Words(db.Handle, rc);
          return -1;
        }
        return 0;
      },
      cause);
}

int SqlitePageStore::Lookup(int32_t number, std::vector<PageRecord>& out, std::string& cause) {
  out.clear();
  return Read(
      [&out, number](Db& db, std::string& why) {
        Use u(db.Lookup);
        u.Int(1, number);
        int rc;
        while ((rc = u.Step()) == SQLITE_ROW) out.push_back(u.Row());
        if (rc != SQLITE_DONE) {
          why = Words(db.Handle, rc);
          return -1;
        }
        return 0;
      },
      cause);
}

int SqlitePageStore::HighestNumber(int32_t& out, std::string& cause) {
  out = 0;
  return Read(
      [&out](Db& db, std::string& why) {
        Use u(db.Highest);
        const int rc = u.Step();
        if (rc != SQLITE_ROW) {
          why = Words(db.Handle, rc);
          return -1;
        }
        out = static_cast<int32_t>(u.ColumnInt(0));
        return 0;
      },
      cause);
}

int SqlitePageStore::Purge(int64_t finishedBefore, int64_t& removed, std::string& cause) {
  // A write like any other: it goes into the redo log, so that a restart does not bring
  // back records it removed.
  auto job = std::make_shared<Job>();
  job->Batch.PurgeBefore = finishedBefore;
  const int rc = Run(job, cause);
  removed = rc == 0 ? job->Removed : 0;
  return rc;
}

}  // namespace core
