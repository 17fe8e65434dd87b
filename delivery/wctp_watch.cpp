// delivery/wctp_watch.cpp - status polls of a WCTP carrier.
#include "delivery/wctp_watch.h"

#include <algorithm>

#include "common/log.h"
#include "core/page_store.h"
#include "delivery/wctp_http.h"

namespace delivery {
namespace {

// The sent page's record gets the carrier's word after the words it was sent with; its
// state and time stay those of the sending.
void RecordStatus(core::ServerState& state, const WctpWatchedPage& page) {
  if (!state.Store) return;
  core::StoreBatch batch;
  core::PageChange change;
  change.Number = page.Number;
  change.Piece = page.Piece;
  change.State = core::PageState::kSent;
  change.SetResult = true;
  change.Result = page.Words + "; carrier status " + WctpStatusName(page.Status);
  change.Finished = page.SentAt;
  batch.Change.push_back(std::move(change));
  state.Store->CommitLater(std::move(batch));
}

WctpEndpoint EndpointOf(const directory::SystemRecord& system, std::stop_token stop) {
  WctpEndpoint endpoint;
  endpoint.Url = system.WctpUrl;
  endpoint.CaFile = system.WctpCaFile;
  endpoint.Stop = std::move(stop);
  return endpoint;
}

}  // namespace

void WctpWatch::Add(WctpWatchedPage page) {
  if (pages_.size() >= kWctpWatchMax) pages_.erase(pages_.begin());
  pages_.push_back(std::move(page));
}

bool WctpWatch::Apply(core::ServerState& state, WctpWatchedPage& page, WctpPageStatus status) {
  // A later report never takes a page back (READ stays READ whatever an old report says).
  if (status != WctpPageStatus::Unknown && static_cast<int>(status) > static_cast<int>(page.Status)) {
    page.Status = status;
    common::LogLine("%t %s: Message(#%ld) for %s: carrier reports %s\n", common::ProgramName(),
                    static_cast<long>(page.Number), common::Outside(page.Name), WctpStatusName(status));
    RecordStatus(state, page);
  }
  return page.Status == WctpPageStatus::Read;
}

void WctpWatch::Poll(core::ServerState& state, const directory::SystemRecord& system, std::stop_token stop) {
  if (pages_.empty() || system.WctpStatus == directory::WctpStatus::None) return;
  const WctpEndpoint endpoint = EndpointOf(system, stop);
  std::vector<bool> done(pages_.size(), false);
  if (system.WctpStatus == directory::WctpStatus::ClientQuery) {
    for (size_t i = 0; i < pages_.size() && !stop.stop_requested(); ++i) {
      WctpWatchedPage& page = pages_[i];
      std::string xml;
      if (BuildWctpClientQuery(system.WctpSenderID, page.PageId, page.Tracking, xml) != 0) continue;
      WctpReply reply;
      std::string failure;
      if (QueryWctp(endpoint, xml, reply, failure) != 0) {
        common::DebugLine("WCTP status query for message(#%ld) failed: %s\n", static_cast<long>(page.Number), failure);
        continue;
      }
      done[i] = Apply(state, page, reply.Status);
    }
  } else {
    std::string xml;
    if (BuildWctpPollForMessages(system.WctpSenderID, system.WctpSecurityCode, acknowledge_, xml) != 0) return;
    WctpReply reply;
    std::string failure;
    if (QueryWctp(endpoint, xml, reply, failure) != 0) {
      common::DebugLine("WCTP poll failed: %s\n", failure);
    } else {
      // Read now: acknowledged with the next poll, so the carrier may forget them.
      acknowledge_.clear();
      for (const WctpStatusReport& report : reply.Reports) {
        if (report.SequenceNo != 0) acknowledge_.push_back(report.SequenceNo);
        for (size_t i = 0; i < pages_.size(); ++i) {
          const WctpWatchedPage& page = pages_[i];
          const bool ours = (!report.MessageID.empty() && report.MessageID == page.MessageId) ||
                            (!report.TrackingNumber.empty() && report.TrackingNumber == page.Tracking);
          if (ours) done[i] = Apply(state, pages_[i], report.Status);
        }
      }
    }
  }
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (++pages_[i].Polls >= kWctpWatchPolls) done[i] = true;
  }
  size_t kept = 0;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (done[i]) continue;
    if (kept != i) pages_[kept] = std::move(pages_[i]);  // never onto itself: that empties it
    ++kept;
  }
  pages_.resize(kept);
}

}  // namespace delivery
