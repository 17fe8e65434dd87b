// core/now_queue.cpp - pages into and out of the NOW queues, and the port contexts.
#include "core/now_queue.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "common/fixed_field.h"
#include "common/log.h"

namespace core {
namespace {

constexpr int kDefaultPieceLimit = 230;
// A piece must fit QueueEntry::Message with its terminator, so a 4000 limit cuts at 3999.
constexpr int kLargestPiece = kEntryMessageWidth - 1;

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Port names are kept and compared over their first kPortNameWidth - 1 characters.
std::string_view PortKey(std::string_view name) { return name.substr(0, kPortNameWidth - 1); }

std::string_view FieldView(const char* field, size_t width) { return std::string_view(field, strnlen(field, width)); }

int FindRecipient(const directory::Directory& dir, const QueueEntry& entry) {
  const int p = dir.FindPersonByName(FieldView(entry.Name, sizeof entry.Name));
  if (p >= 0) return p;
  return dir.FindPersonByPageId(FieldView(entry.PageID, sizeof entry.PageID));
}

void RecordPagerType(ServerState& state, DialContext& dc, const QueueEntry& entry) {
  const auto dir = CurrentDirectory(state);
  const int p = FindRecipient(*dir, entry);
  dc.PagerType = p >= 0 ? static_cast<int32_t>(dir->Persons[static_cast<size_t>(p)].PagerType) : -1;
}

void ClearEntry(QueueEntry& entry) {
  std::memset(entry.Name, 0, sizeof entry.Name);
  std::memset(entry.PageID, 0, sizeof entry.PageID);
  std::memset(entry.Message, 0, sizeof entry.Message);
  entry.Attempts = 0;
}

int32_t NextIndex(int32_t index, int32_t capacity) { return index + 1 >= capacity ? 0 : index + 1; }

int InsertPiecesWith(ServerState& state, const directory::Directory& dir, DialContext& dc, const char* name,
                     const char* message, bool numbered, int32_t presetNumber) {
  if (!name || !message) return -1;
  common::DebugLine("\n%s:%s\n", name, message);
  int limit = dir.PieceLimitForName(name);
  if (limit == 0) limit = kDefaultPieceLimit;
  limit = std::min(limit, kLargestPiece);

  // The pager ID is the same for every piece, so it is looked up once, here. A full queue
  // is still reported before an unknown name (the loop below tests in that order), so a
  // full queue says so whatever the name.
  std::string pageId;
  bool known = true;
  if (auto id = dir.PageIdOfPerson(name)) {
    pageId = *id;
  } else if (dir.FindPersonByPageId(name) >= 0) {
    pageId = name;
  } else {
    known = false;
  }

  std::string_view rest(message);
  std::optional<std::string_view> piece =
      rest.empty() ? std::optional<std::string_view>(rest) : SplitMessage(limit, rest);
  int stored = -1;
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    const int32_t capacity = dc.Capacity.load(std::memory_order_relaxed);
    while (piece) {
      if (IsFull(dc)) {
        common::LogLine("%t %s: Error - The NOW queue is full\n", common::ProgramName());
        ++state.NowQueueFullCount;
        break;
      }
      if (!known) {
        ++state.UnknownNameCount;
        stored = -1;
        break;
      }
      common::DebugLine("\n%s:%s\n", name, std::string(*piece));
      const int32_t at = dc.WriteIndex.load(std::memory_order_relaxed);
      QueueEntry& entry = dc.Entries[static_cast<size_t>(at)];
      common::CopyField(entry.PageID, pageId);
      common::CopyField(entry.Name, name);
      common::CopyField(entry.Message, *piece);
      entry.Attempts = 0;
      if (numbered) {
        entry.MessageNumber = ++state.MessageCounter;
        common::LogLine("%t %s: Page Queued(#%ld), Will page %s now\n", common::ProgramName(),
                        static_cast<long>(entry.MessageNumber), common::Outside(name));
      } else {
        entry.MessageNumber = presetNumber;
      }
      dc.WriteIndex.store(NextIndex(at, capacity), std::memory_order_release);
      stored = at;
      piece = SplitMessage(limit, rest);
    }
    if (piece) stored = -1;  // refused part-way: pieces already stored stay queued
  }
  dc.Changed.notify_all();
  return stored;
}

}  // namespace

std::optional<std::string_view> SplitMessage(int limit, std::string_view& rest) {
  if (rest.empty()) return std::nullopt;
  limit = std::clamp(limit, 60, 4000);
  const size_t max = static_cast<size_t>(limit);
  if (rest.size() <= max) {
    const std::string_view piece = rest;
    rest = {};
    return piece;
  }
  const size_t lower = limit >= 80 ? max - 20 : 60;
  size_t cut = max - 1;
  while (cut > lower && rest[cut] != ' ') --cut;
  const std::string_view piece = rest.substr(0, cut);
  rest = rest.substr(cut + 1);  // the character at the cut is dropped
  return piece;
}

int InsertPieces(ServerState& state, DialContext& dc, const char* name, const char* message, bool numbered,
                 int32_t presetNumber) {
  const auto dir = CurrentDirectory(state);
  return InsertPiecesWith(state, *dir, dc, name, message, numbered, presetNumber);
}

int InsertNow(ServerState& state, DialContext& dc, const char* name, const char* message, bool numbered,
              int32_t presetNumber) {
  if (!name || !message) return -1;
  const auto dir = CurrentDirectory(state);
  if (dir->FindPersonByName(name) >= 0) {
    return InsertPiecesWith(state, *dir, dc, name, message, numbered, presetNumber);
  }
  const int g = dir->FindGroup(name);
  if (g >= 0) {
    // A private copy of the member list: the snapshot keeps the group alive anyway, but the
    // list is split into names of their own.
    int result = -1;
    for (const std::string& member : directory::GroupMembers(dir->Groups[static_cast<size_t>(g)])) {
      result = InsertPiecesWith(state, *dir, dc, member.c_str(), message, numbered, presetNumber);
    }
    return result;
  }
  if (dir->FindPersonByPageId(name) >= 0) {
    return InsertPiecesWith(state, *dir, dc, name, message, numbered, presetNumber);
  }
  common::LogLine("%t %s: Error - %s not found in paging list\n", common::ProgramName(), common::Outside(name));
  return -1;
}

int PopHead(ServerState& state, DialContext& dc, QueueEntry* out) {
  if (!out) return 1;
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    if (!HasPages(dc)) return 1;
    const int32_t at = dc.ReadIndex.load(std::memory_order_relaxed);
    QueueEntry& head = dc.Entries[static_cast<size_t>(at)];
    *out = head;
    ClearEntry(head);
    dc.ReadIndex.store(NextIndex(at, dc.Capacity.load(std::memory_order_relaxed)), std::memory_order_release);
  }
  dc.Changed.notify_all();
  RecordPagerType(state, dc, *out);
  return 0;
}

QueueEntry* PeekHead(ServerState& state, DialContext& dc) {
  if (!HasPages(dc)) return nullptr;
  QueueEntry* head = &dc.Entries[static_cast<size_t>(dc.ReadIndex.load(std::memory_order_acquire))];
  RecordPagerType(state, dc, *head);
  return head;
}

int DropHead(DialContext& dc) {
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    if (!HasPages(dc)) return 1;
    const int32_t at = dc.ReadIndex.load(std::memory_order_relaxed);
    ClearEntry(dc.Entries[static_cast<size_t>(at)]);
    dc.ReadIndex.store(NextIndex(at, dc.Capacity.load(std::memory_order_relaxed)), std::memory_order_release);
  }
  dc.Changed.notify_all();
  return 0;
}

std::optional<int32_t> HeadMessageNumber(const DialContext& dc) {
  if (!HasPages(dc)) return std::nullopt;
  return dc.Entries[static_cast<size_t>(dc.ReadIndex.load(std::memory_order_acquire))].MessageNumber;
}

int ResolveHeadSystem(ServerState& state, const DialContext& dc) {
  if (!HasPages(dc)) return -1;
  const QueueEntry& head = dc.Entries[static_cast<size_t>(dc.ReadIndex.load(std::memory_order_acquire))];
  const auto dir = CurrentDirectory(state);
  const int p = FindRecipient(*dir, head);
  if (p < 0) return -1;
  return dir->SystemForPerson(dir->Persons[static_cast<size_t>(p)]);
}

DialContext* ChoosePort(ServerState& state, int s) {
  if (s < 0 || s >= kMaxSystems) return nullptr;
  const auto dir = CurrentDirectory(state);
  if (s >= static_cast<int>(dir->Systems.size())) return nullptr;
  const directory::SystemRecord& system = dir->Systems[static_cast<size_t>(s)];
  const int portCount = std::clamp(system.PortCount, 0, directory::kMaxPorts);
  if (portCount == 0) return nullptr;
  int i = state.NextPort[static_cast<size_t>(s)].load(std::memory_order_relaxed);
  if (i < 0 || i >= portCount) i = 0;
  state.NextPort[static_cast<size_t>(s)].store(i + 1 >= portCount ? 0 : i + 1, std::memory_order_relaxed);
  DialContext* port = FindPort(state, system.Port[static_cast<size_t>(i)]);
  if (port && !IsFull(*port)) return port;
  return nullptr;
}

DialContext* FindPort(ServerState& state, std::string_view portName) {
  const std::string_view key = PortKey(portName);
  const int count = state.PortCount.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    DialContext* dc = state.Ports[static_cast<size_t>(i)].get();
    if (dc && SameText(FieldView(dc->PortName, sizeof dc->PortName), key)) return dc;
  }
  return nullptr;
}

int RegisterPort(ServerState& state, std::string_view portName) {
  std::lock_guard<std::mutex> hold(state.PortsLock);
  if (FindPort(state, portName)) return 0;
  const int count = state.PortCount.load(std::memory_order_relaxed);
  const std::string name(PortKey(portName));
  if (count >= kMaxPorts) {
    common::LogLine("%t %s: Error - Too many ports, port %s not added (at most %d)\n", common::ProgramName(), name,
                    kMaxPorts);
    return 1;
  }
  common::DebugLine("new port = %s\n", name);
  auto dc = MakeDialContext(name.c_str(), kPortQueueEntries);
  if (!dc) {
    common::WriteConsole("Calloc error\n");
    return 1;
  }
  state.Ports[static_cast<size_t>(count)] = std::move(dc);
  state.PortCount.store(count + 1, std::memory_order_release);
  return 0;
}

}  // namespace core
