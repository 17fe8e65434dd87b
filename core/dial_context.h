// core/dial_context.h - the NOW queues: one ring of QueueEntry per DialContext, with its lock.
//
// There is one Main context (every request and every due AT page goes there) and one
// context per serial port (the router fills it, the port's dial thread empties it). A ring
// is empty when ReadIndex == WriteIndex and full when (WriteIndex + 1) % Capacity ==
// ReadIndex, so it holds at most Capacity - 1 pages. Producers change a ring only under
// its Lock; the ring's single consumer may read and advance ReadIndex without it, which is
// why the indexes are atomics: an entry is written completely before WriteIndex moves past
// it, and cleared before ReadIndex moves past it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace core {

constexpr int kMainQueueEntries = 100;   // 99 pages unless page.ini sets QueueSize
constexpr int kPortQueueEntries = 15;    // 14 pages per port, always
constexpr int kMaxQueueEntries = 30000;  // QueueSize must lie strictly between 100 and this
constexpr int kMaxPorts = 20;            // port contexts
constexpr int kPortNameWidth = 30;       // port names compare over their first 29 characters
constexpr int kEntryNameWidth = 32;
constexpr int kEntryPageIdWidth = 32;
constexpr int kEntryMessageWidth = 4000;

// One queued page (or piece of a page). Entries own their texts, which FillEntry cuts to
// the widths the queue has always had (31, 31 and 3999 characters), so an entry costs what
// its page costs rather than a fixed 4000 bytes.
struct QueueEntry {
  std::string Name;           // recipient as given: a person's name or a pager ID
  std::string PageID;         // the pager ID to send to
  std::string Message;        // one piece, at most MaxMessageLength characters
  int32_t Attempts = 0;       // delivery attempts so far; 0 when stored
  int32_t MessageNumber = 0;  // the number shown in the log lines "#%ld"
  int32_t Piece = 0;          // which piece of that number (the page store's key with it)
};

// Sets the entry's texts, each cut to its width (terminator counted, as in a fixed field).
void FillEntry(QueueEntry& entry, std::string_view name, std::string_view pageId, std::string_view message);

// A NOW queue and what its dial thread keeps between rounds. Delivery work buffers live
// with the delivery code in delivery/, not here. Made once, never freed or moved.
struct DialContext {
  char PortName[kPortNameWidth] = {};  // empty for the Main context

  // The ring. Entries and Capacity change only under Lock while the ring is empty (the
  // QueueSize resize of the Main queue).
  std::unique_ptr<QueueEntry[]> Entries;
  std::atomic<int32_t> Capacity{0};
  std::atomic<int32_t> WriteIndex{0};
  std::atomic<int32_t> ReadIndex{0};
  // Under Lock: places promised to pages being recorded in the page store (they count as
  // taken until the pages move in or the recording fails), and, for the Main queue only,
  // pages already accepted that did not fit (after a restart, due AT pages). The backlog
  // moves in ahead of new requests as room frees.
  int32_t Reserved = 0;
  std::deque<QueueEntry> Backlog;

  std::atomic<int32_t> ErrorCount{0};          // failed delivery rounds in a row (dial thread)
  std::atomic<int32_t> PagerType{1};           // head recipient's PagerType (0 Numeric, 1 Alphanumeric,
                                               // -1 unknown), set by PopHead/PeekHead
  std::atomic<bool> DialThreadRunning{false};  // a dial thread serves this port (claimed once)
  std::atomic<bool> DialThreadEnded{false};    // its body returned (an orderly stop waits for it)
  // Ends the port's waits in the middle of a call; the thread's own stop only ends its
  // rounds between pages, so an orderly stop lets the page on the line finish.
  std::stop_source Abort;

  std::mutex Lock;                  // the queue's binary semaphore
  std::condition_variable Changed;  // notified after every insert and every removal

  // The port's dial thread, owned here because it lives exactly as long as the port's
  // queue; declared last so it is stopped and joined before anything it uses goes. Set
  // only by whoever claimed DialThreadRunning.
  std::jthread DialThread;
};

// Makes a context with a zero-filled ring of `entries` entries. Null when out of memory.
std::unique_ptr<DialContext> MakeDialContext(const char* portName, int entries);

// Ring state. Lock-free reads, meant for the ring's single consumer (and for reports).
bool HasPages(const DialContext& dc);
bool IsFull(const DialContext& dc);
int QueuedCount(const DialContext& dc);  // pages waiting, 0..Capacity-1

// Places left for new pages: Capacity - 1 less the pages queued, the places reserved and
// the backlog. Caller holds dc.Lock.
int RoomLeft(const DialContext& dc);

// Sets ReadIndex to WriteIndex: every waiting page is dropped.
void DiscardAll(DialContext& dc);

// Waits up to timeoutMs of program time (platform/clock.h scaling; negative: no bound)
// until the ring holds a page, or stop is requested. True when it holds one. Lets consumers
// sleep instead of polling.
bool WaitForPages(DialContext& dc, int64_t timeoutMs, std::stop_token stop = {});

// Resizes the ring to `entries` entries under its lock, but only while it is empty (pages
// waiting keep the old size until a later load). 0 resized, 1 not now (pages waiting),
// -1 out of memory ("Calloc error" printed; the old ring stays, so the queue keeps working).
[[nodiscard]] int ResizeQueue(DialContext& dc, int entries);

}  // namespace core
