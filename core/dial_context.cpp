// core/dial_context.cpp - ring bookkeeping shared by every NOW queue.
#include "core/dial_context.h"

#include <chrono>
#include <new>

#include "common/fixed_field.h"
#include "common/log.h"
#include "platform/clock.h"

namespace core {

std::unique_ptr<DialContext> MakeDialContext(const char* portName, int entries) {
  auto dc = std::unique_ptr<DialContext>(new (std::nothrow) DialContext);
  if (!dc) return nullptr;
  dc->Entries.reset(new (std::nothrow) QueueEntry[entries]());
  if (!dc->Entries) return nullptr;
  dc->Capacity = entries;
  common::CopyField(dc->PortName, portName ? portName : "");
  return dc;
}

void FillEntry(QueueEntry& entry, std::string_view name, std::string_view pageId, std::string_view message) {
  entry.Name.assign(name.substr(0, kEntryNameWidth - 1));
  entry.PageID.assign(pageId.substr(0, kEntryPageIdWidth - 1));
  entry.Message.assign(message.substr(0, kEntryMessageWidth - 1));
}

bool HasPages(const DialContext& dc) {
  return dc.ReadIndex.load(std::memory_order_acquire) != dc.WriteIndex.load(std::memory_order_acquire);
}

bool IsFull(const DialContext& dc) {
  const int32_t capacity = dc.Capacity.load(std::memory_order_acquire);
  if (capacity <= 1) return true;
  return (dc.WriteIndex.load(std::memory_order_acquire) + 1) % capacity == dc.ReadIndex.load(std::memory_order_acquire);
}

int QueuedCount(const DialContext& dc) {
  const int32_t capacity = dc.Capacity.load(std::memory_order_acquire);
  if (capacity <= 0) return 0;
  const int32_t n = dc.WriteIndex.load(std::memory_order_acquire) - dc.ReadIndex.load(std::memory_order_acquire);
  return n >= 0 ? n : n + capacity;
}

void DiscardAll(DialContext& dc) {
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    dc.ReadIndex.store(dc.WriteIndex.load(std::memory_order_acquire), std::memory_order_release);
  }
  dc.Changed.notify_all();
}

int RoomLeft(const DialContext& dc) {
  const int32_t capacity = dc.Capacity.load(std::memory_order_relaxed);
  return capacity - 1 - QueuedCount(dc) - dc.Reserved - static_cast<int>(dc.Backlog.size());
}

bool WaitForPages(DialContext& dc, int64_t timeoutMs, std::stop_token stop) {
  // A stop wakes the wait at once instead of after its bound.
  std::stop_callback wake(stop, [&dc] {
    std::lock_guard<std::mutex> hold(dc.Lock);
    dc.Changed.notify_all();
  });
  std::unique_lock<std::mutex> hold(dc.Lock);
  const auto ready = [&] { return HasPages(dc) || stop.stop_requested(); };
  if (timeoutMs < 0)
    dc.Changed.wait(hold, ready);
  else
    dc.Changed.wait_for(hold, std::chrono::milliseconds(platform::ScaledMs(timeoutMs)), ready);
  return HasPages(dc);
}

int ResizeQueue(DialContext& dc, int entries) {
  std::lock_guard<std::mutex> hold(dc.Lock);
  if (HasPages(dc) || dc.Reserved > 0 || !dc.Backlog.empty()) return 1;
  std::unique_ptr<QueueEntry[]> fresh(new (std::nothrow) QueueEntry[entries]());
  if (!fresh) {
    common::WriteConsole("Calloc error\n");
    return -1;
  }
  // Empty ring: nothing to carry over, so start both indexes at 0.
  dc.Entries = std::move(fresh);
  dc.ReadIndex.store(0, std::memory_order_release);
  dc.WriteIndex.store(0, std::memory_order_release);
  dc.Capacity.store(entries, std::memory_order_release);
  return 0;
}

}  // namespace core
