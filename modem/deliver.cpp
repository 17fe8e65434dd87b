// modem/deliver.cpp - page delivery dispatch: which driver serves the head page.
#include <string_view>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "modem/delivery.h"
#include "modem/numeric.h"
#include "modem/script.h"
#include "modem/tap.h"
#include "modem/ucp.h"
#if __has_include("modem/tap_manual.h")
#include "modem/tap_manual.h"
#endif

namespace modem {
namespace {

using DriverFn = int (*)(DialWork&);

struct DeliveryDriver {
  directory::SystemType SystemType;
  std::string_view Protocol;  // named in the log when the driver is not built
  DriverFn Deliver;           // null: the protocol's driver is not part of this build
};

#ifdef MODEM_HAS_DELIVER_TAPMANUAL
constexpr DriverFn kTapManual = DeliverTapManual;
#else
constexpr DriverFn kTapManual = nullptr;
#endif
#ifdef MODEM_HAS_DELIVER_UCP
constexpr DriverFn kUcp = DeliverUcp;
#else
constexpr DriverFn kUcp = nullptr;
#endif
#ifdef MODEM_HAS_DELIVER_SCRIPT
constexpr DriverFn kScript = DeliverScript;
#else
constexpr DriverFn kScript = nullptr;
#endif
#ifdef MODEM_HAS_DELIVER_NUMERIC
constexpr DriverFn kNumeric = DeliverNumeric;
#else
constexpr DriverFn kNumeric = nullptr;
#endif

constexpr DeliveryDriver kDrivers[] = {
    {directory::SystemType::Tap, "TAP", DeliverTap},
    {directory::SystemType::TapM, "TAP manual mode", kTapManual},
    {directory::SystemType::UCP, "UCP", kUcp},
    {directory::SystemType::Script, "Script", kScript},
};
// Numeric persons are served by numeric paging whatever their system's SystemType.
constexpr DeliveryDriver kNumericDriver = {directory::SystemType::Tap, "Numeric", kNumeric};

int FindPerson(const directory::Directory& dir, const core::QueueEntry& entry) {
  const int byName = dir.FindPersonByName(common::FieldText(entry.Name));
  return byName >= 0 ? byName : dir.FindPersonByPageId(common::FieldText(entry.PageID));
}

// Takes the head page off the queue and drops it.
void DropUnknown(DialWork& work) { static_cast<void>(core::PopHead(work.State, work.Queue, &work.Current)); }

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
    common::LogFileLine("%t %s: Error - Person not found in list\n", program);
    DropUnknown(work);
    return 1;
  }
  const directory::PersonRecord& record = work.Dir->Persons[static_cast<size_t>(person)];
  work.SystemIndex = work.Dir->SystemForPerson(record);
  if (work.SystemIndex < 0) {
    common::LogFileLine("%t %s: Error - System name not found in list\n", program);
    DropUnknown(work);
    return 1;
  }
  const DeliveryDriver* driver = &kNumericDriver;
  if (record.PagerType != directory::PagerType::Numeric) {
    driver = nullptr;
    for (const DeliveryDriver& d : kDrivers) {
      if (d.SystemType == work.System().SystemType) driver = &d;
    }
  }
  if (driver == nullptr || driver->Deliver == nullptr) {
    // No routine pretends to deliver: the page waits for a server that has the protocol,
    // and the failed round lets the dial thread's retry policy decide.
    common::LogLine("%t %s: Error - The %s protocol is not available - message(#%ld) for %s stays queued\n", program,
                    driver ? driver->Protocol : std::string_view("requested"), head->MessageNumber,
                    common::FieldText(head->Name));
    return 1;
  }
  return driver->Deliver(work);
}

int DeliverQueue(DialWork& work) {
  while (core::HasPages(work.Queue)) {
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

}  // namespace modem
