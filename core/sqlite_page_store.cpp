// core/sqlite_page_store.cpp - the page store on SQLite, with one writer thread and group
// commit.
#include "core/sqlite_page_store.h"

#include <sqlite3.h>

#include <ctime>
#include <future>
#include <utility>

#include "common/log.h"
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

// A journal emptied by a checkpoint is kept (commits then overwrite it, which syncs faster
// than growing a file) but cut back to this size, so a burst does not hold its disk space.
constexpr const char* kJournalLimit = "PRAGMA journal_size_limit=16777216";

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
  void Text(int i, std::string_view v) {
    sqlite3_bind_blob(stmt_, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
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
  Statement Insert, Update, Remove, Pending, Lookup, Highest, Purge;
  // Prepared once: every batch runs inside a savepoint of its own.
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
  // Prepares every statement the store runs: SQLITE_OK or the first failure.
  int PrepareAll() {
    const std::string columns = kColumns;
    const int prepared[] = {
        Insert.Prepare(Handle, "INSERT INTO pages(" + columns +
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
  bool IsRead = false;
  StoreBatch Batch;
  std::function<int(Db&, std::string&)> ReadBody;
  bool Waited = true;
  int Result = 0;
  std::string Cause;
  std::promise<void> Done;
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
    if ((rc = db->Exec("PRAGMA journal_mode=WAL")) != SQLITE_OK ||
        (rc = db->Exec("PRAGMA synchronous=FULL")) != SQLITE_OK || (rc = db->Exec(kJournalLimit)) != SQLITE_OK) {
      (IsDamage(rc) ? damage : cause) = Words(db->Handle, rc);
      return rc;
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
    for (const char* suffix : {"-wal", "-shm"}) {
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
  // A new store's file and its journal must survive a power cut as entries of the folder.
  if (result.Created) (void)platform::SyncParentFolder(path);
  out.reset(new SqlitePageStore(path, std::move(db)));
  return 0;
}

SqlitePageStore::SqlitePageStore(std::string path, std::unique_ptr<Db> db)
    : path_(std::move(path)), db_(std::move(db)) {
  // The hook takes over from SQLite's own checkpoints, which would run inside a commit and
  // keep its callers waiting.
  sqlite3_wal_hook(db_->Handle, &SqlitePageStore::OnWalCommit, this);
  writer_ = std::jthread([this](std::stop_token stop) { WriterLoop(stop); });
}

int SqlitePageStore::OnWalCommit(void* self, sqlite3*, const char*, int pages) {
  static_cast<SqlitePageStore*>(self)->journalFrames_ = pages;  // on the writer thread
  return SQLITE_OK;
}

void SqlitePageStore::CheckpointIfDue() {
  constexpr int kCheckpointPages = 1000;  // SQLite's own default threshold
  if (journalFrames_ < kCheckpointPages) return;
  journalFrames_ = 0;
  // Run by the writer between groups: nothing is appended meanwhile, so the checkpoint
  // copies the whole journal and the next commit starts it again from its beginning. (One
  // run beside the writer never caught up under steady load, and the journal grew by every
  // page.)
  (void)sqlite3_wal_checkpoint_v2(db_->Handle, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

SqlitePageStore::~SqlitePageStore() {
  writer_.request_stop();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    wake_.notify_all();
  }
  if (writer_.joinable()) writer_.join();
}

std::shared_ptr<SqlitePageStore::Job> SqlitePageStore::Submit(std::shared_ptr<Job> job) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    jobs_.push_back(job);
  }
  wake_.notify_one();
  return job;
}

int SqlitePageStore::Commit(StoreBatch batch, std::string& cause) {
  if (batch.Empty()) return 0;
  auto job = std::make_shared<Job>();
  job->Batch = std::move(batch);
  std::future<void> done = job->Done.get_future();
  Submit(job);
  done.wait();
  cause = job->Cause;
  return job->Result;
}

void SqlitePageStore::CommitLater(StoreBatch batch) {
  if (batch.Empty()) return;
  auto job = std::make_shared<Job>();
  job->Batch = std::move(batch);
  job->Waited = false;
  Submit(job);
}

int SqlitePageStore::Read(std::function<int(Db&, std::string&)> body, std::string& cause) {
  auto job = std::make_shared<Job>();
  job->IsRead = true;
  job->ReadBody = std::move(body);
  std::future<void> done = job->Done.get_future();
  Submit(job);
  done.wait();
  cause = job->Cause;
  return job->Result;
}

void SqlitePageStore::Flush() {
  std::unique_lock<std::mutex> hold(mutex_);
  idle_.wait(hold, [this] { return jobs_.empty() && !busy_; });
}

int64_t SqlitePageStore::Transactions() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return transactions_;
}

void SqlitePageStore::WriterLoop(std::stop_token stop) {
  for (;;) {
    std::deque<std::shared_ptr<Job>> jobs;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      wake_.wait(hold, [&] { return !jobs_.empty() || stop.stop_requested(); });
      if (jobs_.empty()) return;  // stopped, and everything handed over is done
      jobs.swap(jobs_);
      busy_ = true;
    }
    // Batches that follow one another share a transaction; a read runs between them, in
    // order, so it sees every batch handed over before it.
    std::deque<std::shared_ptr<Job>> group;
    auto flushGroup = [&] {
      if (!group.empty()) RunBatches(group);
      for (auto& job : group) job->Done.set_value();
      group.clear();
    };
    for (auto& job : jobs) {
      if (!job->IsRead) {
        group.push_back(job);
        continue;
      }
      flushGroup();
      job->Result = job->ReadBody(*db_, job->Cause);
      job->Done.set_value();
    }
    flushGroup();
    CheckpointIfDue();  // after the callers were answered
    {
      std::lock_guard<std::mutex> hold(mutex_);
      busy_ = false;
    }
    idle_.notify_all();
  }
}

namespace {

int ApplyBatch(sqlite3* db, const StoreBatch& batch, const Statement& insert, const Statement& update,
               const Statement& remove, std::string& cause) {
  for (int32_t number : batch.Remove) {
    Use u(remove);
    u.Int(1, number);
    if (const int rc = u.Step(); rc != SQLITE_DONE) {
      cause = Words(db, rc);
      return rc;
    }
  }
  for (const PageRecord& r : batch.Add) {
    Use u(insert);
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
    if (const int rc = u.Step(); rc != SQLITE_DONE) {
      cause = Words(db, rc);
      return rc;
    }
  }
  for (const PageChange& c : batch.Change) {
    Use u(update);
    u.Int(1, c.Number);
    u.Int(2, c.Piece);
    u.Int(3, static_cast<int64_t>(c.State));
    u.Int(4, c.Attempts);
    u.Text(5, c.System);
    u.Int(6, c.SetResult ? 1 : 0);
    u.Text(7, c.Result);
    u.Int(8, IsFinished(c.State) ? c.Finished : 0);
    if (const int rc = u.Step(); rc != SQLITE_DONE) {
      cause = Words(db, rc);
      return rc;
    }
    if (sqlite3_changes(db) != 1) {
      cause = "no page #" + std::to_string(c.Number) + " piece " + std::to_string(c.Piece) + " in the store";
      return SQLITE_NOTFOUND;
    }
  }
  return SQLITE_OK;
}

}  // namespace

void SqlitePageStore::RunBatches(std::deque<std::shared_ptr<Job>>& group) {
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
  int rc = Db::Run(db_->Begin);
  if (rc != SQLITE_OK) {
    failAll(Words(db, rc), false);
    return;
  }
  for (auto& job : group) {
    (void)Db::Run(db_->Savepoint);
    std::string cause;
    rc = ApplyBatch(db, job->Batch, db_->Insert, db_->Update, db_->Remove, cause);
    if (rc == SQLITE_OK) {
      (void)Db::Run(db_->Release);
      continue;
    }
    if (sqlite3_get_autocommit(db)) {
      // SQLite rolled the whole transaction back (disk full, I/O error): every batch in it
      // is lost with it.
      failAll(cause, false);
      return;
    }
    (void)Db::Run(db_->RollbackTo);
    (void)Db::Run(db_->Release);
    job->Result = -1;
    job->Cause = cause;
    common::LogLine("%t %s: Error - The page store refused a change: %s\n", common::ProgramName(), cause);
  }
  rc = Db::Run(db_->Commit);
  if (rc != SQLITE_OK) {
    const std::string why = Words(db, rc);
    if (!sqlite3_get_autocommit(db)) db_->Exec("ROLLBACK");
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
  removed = 0;
  return Read(
      [&removed, finishedBefore](Db& db, std::string& why) {
        Use u(db.Purge);
        u.Int(1, finishedBefore);
        const int rc = u.Step();
        if (rc != SQLITE_DONE) {
          why = Words(db.Handle, rc);
          return -1;
        }
        removed = sqlite3_changes64(db.Handle);
        return 0;
      },
      cause);
}

}  // namespace core
