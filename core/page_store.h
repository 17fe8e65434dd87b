// core/page_store.h - the page store: every page from its acceptance to its end, on disk.
//
// A page is recorded before its sender hears "OK", and every change of its state is
// recorded when it happens, so a crash loses nothing that was accepted and a restart finds
// every page that still has to go out. Records are keyed by message number and piece: a
// page request's pieces each have a number of their own (piece 0), a due AT page's pieces
// share the AT page's number (pieces 0, 1, ...).
//
// This is the server's own small interface; SqlitePageStore (core/sqlite_page_store.h) is
// the embedded implementation, and a server database could stand behind it later.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

enum class PageState : int32_t {
  kWaiting = 0,    // in a NOW queue (or waiting for room in the Main queue)
  kScheduled = 1,  // in the AT queue
  kSending = 2,    // its bytes are going to a paging terminal
  kSent = 3,
  kGivenUp = 4,
  kDeleted = 5,  // an AT page deleted by a request
};

// "waiting", "scheduled", "sending", "sent", "given up", "deleted".
const char* PageStateName(PageState state);

// A state that ends the page's life (sent, given up, deleted): its record is history.
constexpr bool IsFinished(PageState state) { return static_cast<int32_t>(state) >= 3; }

struct PageRecord {
  int32_t Number = 0;
  int32_t Piece = 0;
  PageState State = PageState::kWaiting;
  std::string Name;    // recipient as given
  std::string PageId;  // the pager ID to send to
  std::string System;  // the paging system, once known
  std::string Text;    // the piece's text (an AT page: the whole message)
  int32_t Attempts = 0;
  int64_t Accepted = 0;  // seconds since the epoch; 0 = none
  int64_t Due = 0;       // an AT page's time
  int64_t Finished = 0;  // when it was sent, given up or deleted
  std::string Result;    // the last result, in the words of its log line
  std::string AtRecord;  // an AT page: its slot as at.dat holds it; empty otherwise
};

// A change of one record's state. Attempts < 0 and an empty System keep what is stored;
// Result is stored as given (empty clears it only when SetResult).
struct PageChange {
  int32_t Number = 0;
  int32_t Piece = 0;
  PageState State = PageState::kWaiting;
  int32_t Attempts = -1;
  std::string System;
  bool SetResult = false;
  std::string Result;
  int64_t Finished = 0;  // stored when State is finished
};

// What is applied together, all of it or nothing: first the records of the numbers in
// Remove go, then Add is inserted (a number and piece already stored fails the batch), then
// Change is applied (a record that is not there fails the batch).
struct StoreBatch {
  std::vector<int32_t> Remove;
  std::vector<PageRecord> Add;
  std::vector<PageChange> Change;
  bool Empty() const { return Remove.empty() && Add.empty() && Change.empty(); }
};

class PageStore {
 public:
  virtual ~PageStore() = default;

  // Applies batch and waits until it is on disk (synced). 0, or -1 with cause set to the
  // reason in words (disk full, I/O error, read-only ...). A failed batch changed nothing.
  [[nodiscard]] virtual int Commit(StoreBatch batch, std::string& cause) = 0;

  // Applies batch without waiting for it; a failure is logged by the store. For changes
  // whose loss in a crash costs nothing but a resend.
  virtual void CommitLater(StoreBatch batch) = 0;

  // Every record still to be worked on (waiting, sending, scheduled), by number and piece.
  [[nodiscard]] virtual int LoadPending(std::vector<PageRecord>& out, std::string& cause) = 0;

  // The records of one number, by piece (none: out empty, result 0).
  [[nodiscard]] virtual int Lookup(int32_t number, std::vector<PageRecord>& out, std::string& cause) = 0;

  // The highest number stored, 0 when none.
  [[nodiscard]] virtual int HighestNumber(int32_t& out, std::string& cause) = 0;

  // Removes finished records that finished before the given time; removed gets their count.
  [[nodiscard]] virtual int Purge(int64_t finishedBefore, int64_t& removed, std::string& cause) = 0;
};

}  // namespace core
