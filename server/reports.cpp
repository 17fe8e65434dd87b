// server/reports.cpp - status and log reports, exactly as the front ends show them.
#include "server/reports.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <span>
#include <utility>
#include <vector>

#include "common/fixed_field.h"
#include "common/format_text.h"
#include "common/hex_dump.h"
#include "common/version.h"
#include "platform/clock.h"
#include "server/ip_worker.h"
#include "server/threads.h"

namespace server {
namespace {

constexpr size_t kHexDumpCapacity = 208;  // two dump lines per queued message

void CutToReply(std::string& reply) {
  if (reply.size() > kReplyCapacity - 1) reply.resize(kReplyCapacity - 1);
}

}  // namespace

namespace {

// Appends the recipients of one queue to the listing (flag > 0) and returns its page count.
int ListQueue(core::ServerState& state, core::DialContext& dc, int flag, std::string& reply) {
  int count = 0;
  std::lock_guard<std::mutex> hold(dc.Lock);
  const int32_t capacity = dc.Capacity.load();
  int32_t i = dc.ReadIndex.load();
  const int32_t end = dc.WriteIndex.load();
  while (i != end && capacity > 0) {
    const core::QueueEntry& entry = dc.Entries[static_cast<size_t>(i)];
    ++count;
    // Stop building once the reply is past its buffer; the count still covers every page.
    if (flag > 0 && reply.size() < kReplyCapacity) {
      reply += common::FormatText("    %s\n", common::FieldText(entry.Name));
      if (state.Debug) {
        reply +=
            common::HexDump(std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(entry.Message.data()),
                                                           entry.Message.size()),
                            kHexDumpCapacity);
      }
    }
    i = i + 1 >= capacity ? 0 : i + 1;
  }
  // Pages accepted but waiting for room behind the Main queue (after a restart, or due AT
  // pages) are part of it for whoever asks what is queued.
  for (const core::QueueEntry& entry : dc.Backlog) {
    ++count;
    if (flag > 0 && reply.size() < kReplyCapacity) reply += common::FormatText("    %s\n", entry.Name);
  }
  return count;
}

// One block of the report for the pages of several queues under one label.
int QueuesReport(core::ServerState& state, const std::vector<core::DialContext*>& queues, int flag,
                 const std::string& label, std::string& reply) {
  if (flag > 0) reply += common::FormatText("\n  Queue: %s\n  -------------------\n", label);
  int count = 0;
  for (core::DialContext* dc : queues) count += ListQueue(state, *dc, flag, reply);
  if (flag > 0 && count == 0) reply += "    Queue is Empty\n";
  if (flag == 0) reply += common::FormatText("Total Pages in %s Queue: %d\n", label, count);
  return count;
}

// Each system reached over IP with its queue and its workers' lanes: a page waiting for a
// carrier is as queued as one waiting for a port.
std::vector<std::pair<std::string, std::vector<core::DialContext*>>> IpQueues(core::ServerState& state) {
  std::vector<std::pair<std::string, std::vector<core::DialContext*>>> systems;
  core::IpDelivery* ip = state.Ip.get();
  if (ip == nullptr) return systems;
  std::lock_guard<std::mutex> hold(ip->Lock);  // the lists grow on a reload; the queues stay
  for (const auto& system : ip->Systems) {
    std::vector<core::DialContext*> queues{system->Queue.get()};
    for (const auto& lane : system->Lanes) queues.push_back(lane->Queue.get());
    systems.emplace_back(system->SystemName, std::move(queues));
  }
  return systems;
}

}  // namespace

int QueueReport(core::ServerState& state, core::DialContext& dc, int flag, const std::string& label,
                std::string& reply) {
  return QueuesReport(state, {&dc}, flag, label, reply);
}

std::string StatusReport(core::ServerState& state, int flag) {
  const std::tm now = platform::LocalTime(platform::Now());
  const std::string title = common::FormatText("Corvel.  Version %s\n\n", common::kVersion);
  std::string reply = title;
  reply.reserve(4096);
  if (flag > 0) reply += "NOW Queue List\n--------------\n";
  int total = QueueReport(state, *state.Main, flag, "Main", reply);
  const int ports = state.PortCount.load();
  for (int p = 0; p < ports; ++p) {
    core::DialContext& dc = *state.Ports[static_cast<size_t>(p)];
    total += QueueReport(state, dc, flag, common::FieldText(dc.PortName), reply);
  }
  for (const auto& [system, queues] : IpQueues(state)) total += QueuesReport(state, queues, flag, system, reply);
  if (flag > 0 && total == 0) {
    reply = title + "NOW Queue is Empty\n\n";
  } else if (flag == 0) {
    reply += common::FormatText("Total pages in All NOW Queues: %d\n\n", total);
  } else {
    reply += common::FormatText("  -------------------\n  Total Pages: %d\n\n", total);
  }

  int atCount = 0;
  std::string atLines;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    for (int i = 0; i < core::kAtSlots; ++i) {
      const core::AtEntry& slot = state.AtTable[static_cast<size_t>(i)];
      if (slot.InUse != 1) continue;
      ++atCount;
      if (flag > 0 && reply.size() + atLines.size() < kReplyCapacity) {
        // The slot is a packed record: its fields are copied, never referred to.
        atLines += common::FormatText("  %d-%d-%d %d:%02d   %s\n", int{slot.Year}, int{slot.Month}, int{slot.Day},
                                      int{slot.Hour}, int{slot.Minute}, common::FieldText(slot.Name));
      }
    }
  }
  if (flag > 0 && atCount > 0) {
    reply += "AT Queue List\n-------------\n  Date   Time    ID\n  ---------------------------------\n";
    reply += atLines;
  }
  if (flag > 0 && atCount == 0) {
    reply += "AT Queue is Empty\n";
  } else if (flag == 0) {
    reply += common::FormatText("Total pages in AT Queue: %d\n", atCount);
  } else {
    reply += common::FormatText("  ---------------------------------\n  Total: %d\n", atCount);
  }
  char clock[101];
  const size_t n = std::strftime(clock, sizeof clock, "\nCurrent time is: %Y-%m-%d %H:%M:%S\n", &now);
  reply.append(clock, n);
  CutToReply(reply);
  return reply;
}

std::string LogReport(core::ServerState& state, int page, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) {
    ++state.LogViewFailures;
    return "No log file\n";
  }
  std::string text;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    long start = size - (static_cast<long>(page) + 1) * static_cast<long>(kLogPageBytes);
    if (start < 0) start = 0;
    if (size >= 0 && std::fseek(f, start, SEEK_SET) == 0) {
      text.resize(kLogPageBytes);
      text.resize(std::fread(text.data(), 1, kLogPageBytes, f));
    }
  }
  std::fclose(f);
  if (text.empty()) return "No data in log file\n";
  return text;
}

}  // namespace server
