// core/now_queue.cpp - pages into and out of the NOW queues, and the port contexts.
#include "core/now_queue.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/page_book.h"

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
  const int p = dir.FindPersonByName(entry.Name);
  if (p >= 0) return p;
  return dir.FindPersonByPageId(entry.PageID);
}

void RecordPagerType(ServerState& state, DialContext& dc, const QueueEntry& entry) {
  const auto dir = CurrentDirectory(state);
  const int p = FindRecipient(*dir, entry);
  dc.PagerType = p >= 0 ? static_cast<int32_t>(dir->Persons[static_cast<size_t>(p)].PagerType) : -1;
}

void ClearEntry(QueueEntry& entry) {
  entry.Name.clear();
  entry.Name.shrink_to_fit();
  entry.PageID.clear();
  entry.PageID.shrink_to_fit();
  entry.Message.clear();
  entry.Message.shrink_to_fit();  // a drained ring holds no texts
  entry.Attempts = 0;
}

int32_t NextIndex(int32_t index, int32_t capacity) { return index + 1 >= capacity ? 0 : index + 1; }

// Caller holds dc.Lock. Moves the backlog's first pages in while there is room.
void RefillFromBacklog(DialContext& dc) {
  const int32_t capacity = dc.Capacity.load(std::memory_order_relaxed);
  while (!dc.Backlog.empty() && !IsFull(dc) && capacity - 1 - QueuedCount(dc) > dc.Reserved) {
    const int32_t at = dc.WriteIndex.load(std::memory_order_relaxed);
    dc.Entries[static_cast<size_t>(at)] = std::move(dc.Backlog.front());
    dc.Backlog.pop_front();
    dc.WriteIndex.store(NextIndex(at, capacity), std::memory_order_release);
  }
}

// Caller holds dc.Lock and made sure there is room. Index stored.
int32_t PutAtTail(DialContext& dc, QueueEntry&& entry) {
  const int32_t at = dc.WriteIndex.load(std::memory_order_relaxed);
  dc.Entries[static_cast<size_t>(at)] = std::move(entry);
  dc.WriteIndex.store(NextIndex(at, dc.Capacity.load(std::memory_order_relaxed)), std::memory_order_release);
  return at;
}

// The pieces of one recipient's message, with the pager ID looked up once. False when the
// name is no person and no person's pager ID.
bool PiecesFor(const directory::Directory& dir, const char* name, const char* message, std::vector<QueueEntry>& out) {
  int limit = dir.PieceLimitForName(name);
  if (limit == 0) limit = kDefaultPieceLimit;
  limit = std::min(limit, kLargestPiece);
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
  while (piece) {
    common::DebugLine("\n%s:%s\n", name, std::string(*piece));
    QueueEntry entry;
    FillEntry(entry, name, pageId, *piece);
    out.push_back(std::move(entry));
    piece = SplitMessage(limit, rest);
  }
  return known;
}

std::string SystemOf(const directory::Directory& dir, std::string_view name, std::string_view pageId) {
  int p = dir.FindPersonByName(name);
  if (p < 0) p = dir.FindPersonByPageId(pageId);
  if (p < 0) return {};
  const int s = dir.SystemForPerson(dir.Persons[static_cast<size_t>(p)]);
  return s >= 0 ? dir.Systems[static_cast<size_t>(s)].SystemName : std::string();
}

int InsertPiecesWith(ServerState& state, const directory::Directory& dir, DialContext& dc, const char* name,
                     const char* message, bool numbered, int32_t presetNumber, std::string* cause,
                     std::vector<int32_t>* given = nullptr) {
  if (!name || !message) return -1;
  common::DebugLine("\n%s:%s\n", name, message);
  std::vector<QueueEntry> pieces;
  const bool known = PiecesFor(dir, name, message, pieces);
  const int n = static_cast<int>(pieces.size());
  {
    // A full queue is reported before an unknown name, so a full queue says so whatever
    // the name. Every piece finds room or none is taken.
    std::lock_guard<std::mutex> hold(dc.Lock);
    if (RoomLeft(dc) < n) {
      common::LogLine("%t %s: Error - The NOW queue is full\n", common::ProgramName());
      ++state.NowQueueFullCount;
      return -1;
    }
    if (!known) {
      ++state.UnknownNameCount;
      return -1;
    }
    dc.Reserved += n;
    for (int i = 0; i < n; ++i) {
      QueueEntry& entry = pieces[static_cast<size_t>(i)];
      entry.MessageNumber = numbered ? ++state.MessageCounter : presetNumber;
      entry.Piece = numbered ? 0 : i;
    }
  }
  if (numbered) {
    std::vector<std::string> systems(pieces.size(), SystemOf(dir, name, pieces.front().PageID));
    std::string why;
    if (RecordNewPages(state, pieces, systems, why) != 0) {
      ReleaseRoom(dc, n);
      common::LogLine("%t %s: Error - Page for %s not accepted, the page store failed: %s\n", common::ProgramName(),
                      common::Outside(name), why);
      if (cause) *cause = why;
      return kNotRecorded;
    }
  }
  std::vector<int32_t> numbers;
  for (const QueueEntry& entry : pieces) numbers.push_back(entry.MessageNumber);
  const int stored = MoveIn(dc, std::move(pieces), n);
  if (numbered) {
    if (given) given->insert(given->end(), numbers.begin(), numbers.end());
    for (int32_t number : numbers) {
      common::LogLine("%t %s: Page Queued(#%ld), Will page %s now\n", common::ProgramName(), static_cast<long>(number),
                      common::Outside(name));
    }
  }
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
                 int32_t presetNumber, std::string* cause) {
  const auto dir = CurrentDirectory(state);
  return InsertPiecesWith(state, *dir, dc, name, message, numbered, presetNumber, cause);
}

int InsertNow(ServerState& state, DialContext& dc, const char* name, const char* message, bool numbered,
              int32_t presetNumber, std::string* cause, std::vector<int32_t>* numbers) {
  if (!name || !message) return -1;
  const auto dir = CurrentDirectory(state);
  if (dir->FindPersonByName(name) >= 0) {
    return InsertPiecesWith(state, *dir, dc, name, message, numbered, presetNumber, cause, numbers);
  }
  const int g = dir->FindGroup(name);
  if (g >= 0) {
    // A private copy of the member list: the snapshot keeps the group alive anyway, but the
    // list is split into names of their own.
    int result = -1;
    for (const std::string& member : directory::GroupMembers(dir->Groups[static_cast<size_t>(g)])) {
      result = InsertPiecesWith(state, *dir, dc, member.c_str(), message, numbered, presetNumber, cause, numbers);
    }
    return result;
  }
  if (dir->FindPersonByPageId(name) >= 0) {
    return InsertPiecesWith(state, *dir, dc, name, message, numbered, presetNumber, cause, numbers);
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
    *out = std::move(head);
    ClearEntry(head);
    dc.ReadIndex.store(NextIndex(at, dc.Capacity.load(std::memory_order_relaxed)), std::memory_order_release);
    RefillFromBacklog(dc);
  }
  dc.Changed.notify_all();
  RecordPagerType(state, dc, *out);
  return 0;
}

namespace {
bool HasControls(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}
}  // namespace

void BlankControls(std::string& text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
}

QueueEntry* PeekHead(ServerState& state, DialContext& dc) {
  if (!HasPages(dc)) return nullptr;
  QueueEntry* head = &dc.Entries[static_cast<size_t>(dc.ReadIndex.load(std::memory_order_acquire))];
  // Every driver takes its page here. On the line a CR in the text starts a new pager ID in
  // TAP manual mode and an ETX ends a TAP block early, so no control character of the sender's
  // may reach a protocol. Only this thread writes the head; the lock keeps a status report
  // from reading it half changed.
  if (dc.PortName[0] != '\0' && (HasControls(head->Message) || HasControls(head->PageID))) {
    std::lock_guard<std::mutex> hold(dc.Lock);
    BlankControls(head->Message);
    BlankControls(head->PageID);
  }
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
    RefillFromBacklog(dc);
  }
  dc.Changed.notify_all();
  return 0;
}

bool PlanPage(ServerState& state, const char* name, const char* message, std::vector<QueueEntry>& pieces,
              std::vector<std::string>& systems, std::vector<std::string>& unknown) {
  pieces.clear();
  systems.clear();
  if (!name || !message) return false;
  const auto dir = CurrentDirectory(state);
  auto add = [&](const char* recipient) {
    const size_t before = pieces.size();
    if (!PiecesFor(*dir, recipient, message, pieces)) {
      pieces.resize(before);
      unknown.emplace_back(recipient);
      return;
    }
    const std::string system = SystemOf(*dir, recipient, pieces[before].PageID);
    systems.resize(pieces.size(), system);
  };
  const int group = dir->FindPersonByName(name) >= 0 ? -1 : dir->FindGroup(name);
  if (group >= 0) {
    for (const std::string& member : directory::GroupMembers(dir->Groups[static_cast<size_t>(group)]))
      add(member.c_str());
  } else if (dir->FindPersonByName(name) >= 0 || dir->FindPersonByPageId(name) >= 0) {
    add(name);
  } else {
    unknown.emplace_back(name);
  }
  return unknown.empty() && !pieces.empty();
}

std::string SystemNameFor(ServerState& state, std::string_view name, std::string_view pageId) {
  const auto dir = CurrentDirectory(state);
  return SystemOf(*dir, name, pageId);
}

int ReserveRoom(DialContext& dc, int n) {
  std::lock_guard<std::mutex> hold(dc.Lock);
  if (RoomLeft(dc) < n) return 1;
  dc.Reserved += n;
  return 0;
}

void ReleaseRoom(DialContext& dc, int n) {
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    dc.Reserved -= n;
    RefillFromBacklog(dc);
  }
  dc.Changed.notify_all();
}

int MoveIn(DialContext& dc, std::vector<QueueEntry>&& pages, int reserved) {
  int32_t last = -1;
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    dc.Reserved -= reserved;
    for (QueueEntry& page : pages) last = PutAtTail(dc, std::move(page));
  }
  dc.Changed.notify_all();
  return last;
}

void AddToBacklog(DialContext& dc, std::vector<QueueEntry>&& pages) {
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    for (QueueEntry& page : pages) dc.Backlog.push_back(std::move(page));
    RefillFromBacklog(dc);
  }
  dc.Changed.notify_all();
}

int AppendEntry(DialContext& dc, QueueEntry&& entry) {
  int32_t at = -1;
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    if (RoomLeft(dc) < 1) return -1;
    at = PutAtTail(dc, std::move(entry));
  }
  dc.Changed.notify_all();
  return at;
}

std::optional<int32_t> HeadMessageNumber(const DialContext& dc) {
  if (!HasPages(dc)) return std::nullopt;
  return dc.Entries[static_cast<size_t>(dc.ReadIndex.load(std::memory_order_acquire))].MessageNumber;
}

int ResolveHeadSystem(ServerState& state, const DialContext& dc) { return ResolveSystemAt(state, dc, 0); }

int ResolveSystemAt(ServerState& state, const DialContext& dc, int offset) {
  if (offset < 0 || offset >= QueuedCount(dc)) return -1;
  const int32_t capacity = dc.Capacity.load(std::memory_order_relaxed);
  const int32_t at = (dc.ReadIndex.load(std::memory_order_acquire) + offset) % capacity;
  const QueueEntry& entry = dc.Entries[static_cast<size_t>(at)];
  const auto dir = CurrentDirectory(state);
  const int p = FindRecipient(*dir, entry);
  if (p < 0) return -1;
  return dir->SystemForPerson(dir->Persons[static_cast<size_t>(p)]);
}

int TakeEntryAt(DialContext& dc, int offset, QueueEntry* out) {
  if (!out) return 1;
  {
    std::lock_guard<std::mutex> hold(dc.Lock);
    if (offset < 0 || offset >= QueuedCount(dc)) return 1;
    const int32_t capacity = dc.Capacity.load(std::memory_order_relaxed);
    const int32_t head = dc.ReadIndex.load(std::memory_order_relaxed);
    int32_t at = (head + offset) % capacity;
    *out = std::move(dc.Entries[static_cast<size_t>(at)]);
    // The pages before it move up one place: the gap ends at the head, which is then
    // cleared and passed, so the others keep their order.
    while (at != head) {
      const int32_t before = at == 0 ? capacity - 1 : at - 1;
      dc.Entries[static_cast<size_t>(at)] = std::move(dc.Entries[static_cast<size_t>(before)]);
      at = before;
    }
    ClearEntry(dc.Entries[static_cast<size_t>(head)]);
    dc.ReadIndex.store(NextIndex(head, capacity), std::memory_order_release);
    RefillFromBacklog(dc);
  }
  dc.Changed.notify_all();
  return 0;
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
