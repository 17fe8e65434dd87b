// delivery/deliver.cpp - page delivery dispatch: which driver serves the head page.
#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "delivery/delivery.h"
#include "delivery/ip_delivery.h"
#include "delivery/modem_control.h"
#include "delivery/numeric.h"
#include "delivery/script.h"
#include "delivery/tap.h"
#include "delivery/tap_manual.h"
#include "delivery/ucp.h"

namespace delivery {

// Each driver's call: how it is traced, which failures it logs with which text, whether the
// modem is probed, how it dials, and the pauses that end it. Their drivers are in the
// table below (numeric paging serves Numeric persons, whatever their system's type).
const CallSetup kTapCall = {
    .TraceTitle = "\nTAP Page - Real Tap\n",
    .LogOpenFailure = true,
    .SetModemLine = true,
    .ModemLineFailure = "%t %s: Error - Unable to set up com port for modem init string(%d)\n",
    .AutoInit = true,
    .SystemLineFirst = false,
    .TraceSystemLine = true,
    .SystemLineFailure = "%t %s: Error - Unable to set up com port(%d,%ld,%c,%d,%d)\n",
    .Dial = Dialling::kReadResult,
    .DrainAtEnd = true,
    .HangUpPauseMs = 0,
    .AfterCloseMs = 1500,
};
const CallSetup kTapManualCall = {
    .TraceTitle = "TAP Page - Manual mode\n",
    .LogOpenFailure = true,
    .SetModemLine = true,
    .ModemLineFailure = "%t %s: Error - Unable to set up com port\n",
    .AutoInit = true,
    .SystemLineFirst = false,
    .TraceSystemLine = false,
    .SystemLineFailure = "%t %s: Error - Unable to set up com port\n",
    .Dial = Dialling::kReadResult,
    .DrainAtEnd = true,
    .HangUpPauseMs = 0,
    .AfterCloseMs = 1500,
};
const CallSetup kUcpCall = {
    .TraceTitle = "DoUCPPage\n",
    .LogOpenFailure = false,
    .SetModemLine = true,
    .ModemLineFailure = "%t %s: Error - Unable to set up com port\n",
    .AutoInit = false,
    .SystemLineFirst = false,
    .TraceSystemLine = false,
    .SystemLineFailure = "%t %s: Error - Unable to set up com port\n",
    .Dial = Dialling::kWaitConnect,
    .DrainAtEnd = false,
    .HangUpPauseMs = 0,
    .AfterCloseMs = 1500,
};
const CallSetup kScriptCall = {
    .TraceTitle = "\nDoScr\n",
    .LogOpenFailure = true,
    .SetModemLine = true,
    .ModemLineFailure = "%t %s: Error - Unable to set up com port\n",
    .AutoInit = true,
    .SystemLineFirst = false,
    .TraceSystemLine = false,
    .SystemLineFailure = "%t %s: Error - Can not set up com port\n",
    .Dial = Dialling::kByDriver,
    .DrainAtEnd = false,
    .HangUpPauseMs = 0,
    .AfterCloseMs = 1500,
};
// The modem dials and plays the tones itself; a CR and 500 ms make it abandon the call.
const CallSetup kNumericCall = {
    .TraceTitle = "DoNumeric\n",
    .LogOpenFailure = false,
    .SetModemLine = false,
    .ModemLineFailure = "",
    .AutoInit = false,
    .SystemLineFirst = true,
    .TraceSystemLine = false,
    .SystemLineFailure = "%t %s: Error - Unable to set up com port\n",
    .Dial = Dialling::kByDriver,
    .DrainAtEnd = false,
    .HangUpPauseMs = 500,
    .AfterCloseMs = 0,
};

namespace {

using DriverFn = int (*)(DialWork&);

struct DeliveryDriver {
  directory::SystemType SystemType;
  bool OverIp;       // the system is reached over IP (directory::IsIpSystem)
  DriverFn Deliver;  // a modem driver calls PlaceCall and EndCall with its CallSetup above
};

constexpr DeliveryDriver kDrivers[] = {
    {directory::SystemType::Tap, false, DeliverTap},      {directory::SystemType::TapM, false, DeliverTapManual},
    {directory::SystemType::UCP, false, DeliverUcp},      {directory::SystemType::Script, false, DeliverScript},
    {directory::SystemType::Tap, true, DeliverTapOverIp}, {directory::SystemType::TapM, true, DeliverTapManualOverIp},
    {directory::SystemType::Wctp, true, DeliverWctp},     {directory::SystemType::Snpp, true, DeliverSnpp},
};

int FindPerson(const directory::Directory& dir, const core::QueueEntry& entry) {
  const int byName = dir.FindPersonByName(common::FieldText(entry.Name));
  return byName >= 0 ? byName : dir.FindPersonByPageId(common::FieldText(entry.PageID));
}

// Gives the head page up: logged to the file only, recorded, then taken off the queue.
void DropUnknown(DialWork& work, const std::string& words) {
  common::LogFileLine("%t %s: %s\n", common::ProgramName(), words);
  if (const core::QueueEntry* head = core::PeekHead(work.State, work.Queue))
    core::RecordOutcome(work.State, *head, core::PageState::kGivenUp, words);
  static_cast<void>(core::PopHead(work.State, work.Queue, &work.Current));
}

}  // namespace

int HeadSystem(const DialWork& work) {
  if (!work.Dir || !core::HasPages(work.Queue)) return -1;
  const core::QueueEntry& head = work.Queue.Entries[static_cast<size_t>(work.Queue.ReadIndex.load())];
  const int person = FindPerson(*work.Dir, head);
  return person < 0 ? -1 : work.Dir->SystemForPerson(work.Dir->Persons[static_cast<size_t>(person)]);
}

bool HeadIsNumeric(const DialWork& work) {
  if (!work.Dir || !core::HasPages(work.Queue)) return false;
  const core::QueueEntry& head = work.Queue.Entries[static_cast<size_t>(work.Queue.ReadIndex.load())];
  const int person = FindPerson(*work.Dir, head);
  return person >= 0 && work.Dir->Persons[static_cast<size_t>(person)].PagerType == directory::PagerType::Numeric;
}

int DeliverHead(DialWork& work) {
  work.Dir = core::CurrentDirectory(work.State);
  work.SystemIndex = -1;
  const core::QueueEntry* head = core::PeekHead(work.State, work.Queue);
  if (head == nullptr || !work.Dir) return 0;
  const std::string program = common::ProgramName();
  const int person = FindPerson(*work.Dir, *head);
  if (person < 0) {
    DropUnknown(work, "Error - Person not found in list");
    return 1;
  }
  const directory::PersonRecord& record = work.Dir->Persons[static_cast<size_t>(person)];
  work.SystemIndex = work.Dir->SystemForPerson(record);
  if (work.SystemIndex < 0) {
    DropUnknown(work, "Error - System name not found in list");
    return 1;
  }
  // Numeric persons are served by numeric paging whatever their system's SystemType, when
  // that system has a modem; a carrier on the network takes their digits as text.
  const bool overIp = directory::IsIpSystem(work.System());
  DriverFn driver = record.PagerType == directory::PagerType::Numeric && !overIp ? DeliverNumeric : nullptr;
  for (const DeliveryDriver& d : kDrivers) {
    if (driver == nullptr && d.SystemType == work.System().SystemType && d.OverIp == overIp) driver = d.Deliver;
  }
  if (driver == nullptr) {
    // No routine pretends to deliver: the page stays queued and the failed round lets the
    // dial thread's retry policy decide.
    common::LogLine("%t %s: Error - No delivery protocol for system type %d - message(#%ld) for %s stays queued\n",
                    program, static_cast<int>(work.System().SystemType), head->MessageNumber,
                    common::Outside(common::FieldText(head->Name)));
    return 1;
  }
  return driver(work);
}

int DeliverQueue(DialWork& work) {
  while (core::HasPages(work.Queue) && !work.Stop.stop_requested()) {
    const int32_t readIndex = work.Queue.ReadIndex.load();
    const std::optional<int32_t> number = core::HeadMessageNumber(work.Queue);
    const int result = DeliverHead(work);
    if (result != 0) return result;
    // A call that ended normally without taking any page off the queue (a block refused or
    // unanswered in single-message mode, a dial answered OK) has failed: counting it lets
    // the dial thread's retry policy wait and give up, instead of calling again at once.
    if (core::HasPages(work.Queue) && work.Queue.ReadIndex.load() == readIndex &&
        core::HeadMessageNumber(work.Queue) == number)
      return 1;
  }
  return 0;
}

}  // namespace delivery
