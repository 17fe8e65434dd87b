// delivery/delivery.h - what every delivery routine promises: it runs on the dial thread that
// owns the port's queue, takes pages only from the head of that queue, logs every page it
// gives up on, closes the port it opened before it returns, and says in its own header at
// which step a page leaves the queue.
//
// DialWork is the dial thread's work area for its deliveries: the server record, the port's
// queue, the directory snapshot the round runs on, the system being called, the current
// page, the open port, and the thread's stops: Stop ends a round between pages (an orderly
// stop lets the page on the line finish and its outcome be recorded), Abort also ends the
// waits of a call at once.
#pragma once

#include <memory>
#include <stop_token>
#include <string>
#include <utility>

#include "core/dial_context.h"
#include "core/server_state.h"
#include "delivery/com_port.h"
#include "directory/directory.h"

namespace delivery {

class WctpWatch;  // delivery/wctp_watch.h

struct DialWork {
  DialWork(core::ServerState& state, core::DialContext& queue, std::stop_token stop = {})
      : State(state), Queue(queue), Stop(stop), Abort(std::move(stop)) {}
  DialWork(core::ServerState& state, core::DialContext& queue, std::stop_token stop, std::stop_token abort)
      : State(state), Queue(queue), Stop(std::move(stop)), Abort(std::move(abort)) {}

  core::ServerState& State;
  core::DialContext& Queue;                         // the port's NOW queue; PortName names the port
  std::shared_ptr<const directory::Directory> Dir;  // snapshot for this delivery (never null in a round)
  int SystemIndex = -1;                             // system being called, index into Dir->Systems
  core::QueueEntry Current{};                       // current page: PageID, Name, Message, MessageNumber
  ComPort Port;                                     // open during a call only
  std::stop_token Stop;                             // the dial thread's; ends rounds between pages
  std::stop_token Abort;                            // ends the call's waits (Stop itself in tests)
  WctpWatch* Watch = nullptr;                       // an IP worker's pages awaiting carrier status

  // The paging system being called, by name, for the page records (empty when none).
  std::string SystemName() const { return SystemIndex >= 0 && Dir ? System().SystemName : std::string(); }

  // The system being called; valid while SystemIndex >= 0 and Dir is held.
  const directory::SystemRecord& System() const { return Dir->Systems[static_cast<size_t>(SystemIndex)]; }
  std::string PortName() const;
};

// Protocol results shared by the drivers.
constexpr int kDeliverOk = 0;
constexpr int kDeliverFailed = 1;        // port, logon or prompt failure
constexpr int kDeliverDisconnected = 2;  // the terminal ended the session during a block

// TAP (delivery/tap.h). Sends the pages queued for the head page's system. 0 when the call
// ended normally, 1 when the port or the logon failed, 2 when the terminal ended the session
// during a block, otherwise the modem result that prevented the connection.
[[nodiscard]] int DeliverTap(DialWork& work);

// The other protocols: DeliverTapManual (delivery/tap_manual.h), DeliverUcp (delivery/ucp.h),
// DeliverNumeric (delivery/numeric.h) and DeliverScript (delivery/script.h), same contract.

// The system index in work.Dir for the head page's recipient (the person whose Name is the
// entry's Name, else whose PageID is its PageID), or -1 (also for an empty queue).
int HeadSystem(const DialWork& work);

// True when the head page's recipient is a Numeric person: numeric paging serves it, so a
// TAP call for the same system must not send it as a block.
bool HeadIsNumeric(const DialWork& work);

// Delivers the head page of the queue (delivery/deliver.cpp): finds the recipient and its
// system, and hands the page to the driver of the person's PagerType or the system's
// SystemType. The driver's result, or 1 when the recipient or its system is unknown (the
// page is dropped with a line in the log file).
[[nodiscard]] int DeliverHead(DialWork& work);

// Works the queue from its head until it is empty (0) or a delivery fails (its result).
[[nodiscard]] int DeliverQueue(DialWork& work);

}  // namespace delivery
