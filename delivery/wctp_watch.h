// delivery/wctp_watch.h - asking a WCTP carrier what became of the pages it took, and
// recording its answer (QUEUED, DELIVERED, READ) with the page.
//
// A system with WctpStatus = ClientQuery asks about each page it sent (wctp-ClientQuery with
// the carrier's tracking number); one with PollForMessages asks once for every report the
// carrier holds (wctp-PollForMessages, acknowledging the reports it read last time). Each
// delivery worker keeps its own watch; a page is asked about until the carrier says READ or
// kWctpWatchPolls polls have passed, and the watch holds at most kWctpWatchMax pages (the
// oldest goes first), so a carrier that never answers costs a bounded amount.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "core/server_state.h"
#include "delivery/wctp.h"
#include "directory/directory.h"

namespace delivery {

constexpr int64_t kWctpPollMs = 30000;  // between two status polls (program time)
constexpr int kWctpWatchPolls = 40;     // a page is asked about for about 20 minutes
constexpr size_t kWctpWatchMax = 200;

struct WctpWatchedPage {
  int32_t Number = 0;
  int32_t Piece = 0;
  std::string Name;
  std::string PageId;
  std::string MessageId;
  std::string Tracking;  // the carrier's tracking number; the messageID when it gave none
  std::string Words;     // the result recorded when the page was sent
  int64_t SentAt = 0;    // when it was sent (its record keeps that time)
  WctpPageStatus Status = WctpPageStatus::Unknown;
  int Polls = 0;
};

class WctpWatch {
 public:
  // Starts watching a page the carrier took (the oldest is let go when full).
  void Add(WctpWatchedPage page);
  bool Empty() const { return pages_.empty(); }
  size_t Size() const { return pages_.size(); }

  // One poll of the system's carrier as its WctpStatus says. A page whose status changed
  // is logged ("Message(#n) for NAME: carrier reports DELIVERED") and its record's result
  // gets "; carrier status DELIVERED" after the words it was sent with. Nothing for a
  // system whose WctpStatus is None.
  void Poll(core::ServerState& state, const directory::SystemRecord& system, std::stop_token stop);

 private:
  // Applies a status the carrier reported for page; true when it should be let go.
  bool Apply(core::ServerState& state, WctpWatchedPage& page, WctpPageStatus status);

  std::vector<WctpWatchedPage> pages_;
  std::vector<int64_t> acknowledge_;  // sequence numbers read by the last poll
};

}  // namespace delivery
