// directory/directory.cpp - the directory tables, their lookups and the add rules.
#include "directory/directory.h"

#include <cctype>

#include "common/log.h"

namespace directory {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y && std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

// A count that reaches its table's size goes back to size - 1: the last slot is written
// but never counted.
int Grow(int count, int slots) {
  ++count;
  return count >= slots ? slots - 1 : count;
}

std::string Cut(std::string_view text, size_t max) { return std::string(text.substr(0, max)); }

// What a system reached over IP cannot go without, or null. Without an address the system
// could only fail every page it is given, so it is refused where the mistake is made.
const char* MissingIpAddress(const SystemRecord& system) {
  switch (system.SystemType) {
    case SystemType::Wctp:
      if (system.WctpUrl.empty()) return "WctpUrl";
      if (system.WctpSenderID.empty()) return "WctpSenderID";
      return nullptr;
    case SystemType::Snpp:
      return system.SnppHost.empty() ? "SnppHost" : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

bool SplitHostPort(std::string_view text, std::string& host, uint16_t& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 >= text.size()) return false;
  const std::string_view digits = text.substr(colon + 1);
  if (digits.size() > 5) return false;
  unsigned value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  const std::string_view name = text.substr(0, colon);
  if (name.find_first_of(" \t\r\n") != std::string_view::npos) return false;
  host = std::string(name);
  port = static_cast<uint16_t>(value);
  return true;
}

bool IsIpSystem(const SystemRecord& system) {
  switch (system.SystemType) {
    case SystemType::Wctp:
    case SystemType::Snpp:
      return true;
    case SystemType::Tap:
    case SystemType::TapM:
      return !system.TapHost.empty();
    default:
      return false;  // a TapHost means nothing to UCP or a script: they are dialled
  }
}

std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> items;
  while (!list.empty()) {
    const size_t bar = list.find('|');
    const std::string_view item = list.substr(0, bar);
    if (!item.empty()) items.emplace_back(item);
    if (bar == std::string_view::npos) break;
    list.remove_prefix(bar + 1);
  }
  return items;
}

SystemRecord DefaultSystem() { return SystemRecord{}; }

Directory::Directory() : Systems(kSystemSlots), Persons(kPersonSlots), Groups(kGroupSlots) {}

int Directory::FindSystemByName(std::string_view name) const {
  for (int i = 0; i < SystemCount; ++i)
    if (SameText(Systems[i].SystemName, name)) return i;
  return -1;
}

int Directory::FindPersonByName(std::string_view name) const {
  for (int i = 0; i < PersonCount; ++i)
    if (SameText(Persons[i].Name, name)) return i;
  return -1;
}

int Directory::FindPersonByPageId(std::string_view id) const {
  for (int i = 0; i < PersonCount; ++i)
    if (SameText(Persons[i].PageID, id)) return i;
  return -1;
}

int Directory::FindGroup(std::string_view name) const {
  for (int i = 0; i < GroupCount; ++i)
    if (SameText(Groups[i].Name, name)) return i;
  return -1;
}

std::optional<std::string> Directory::PageIdOfPerson(std::string_view name) const {
  const int p = FindPersonByName(name);
  if (p < 0) return std::nullopt;
  return Persons[p].PageID;
}

int Directory::SystemForPerson(const PersonRecord& person) const {
  if (person.PagerType == PagerType::Numeric && person.SystemName.empty()) return FindSystemByName("Numeric");
  return FindSystemByName(person.SystemName);
}

int Directory::PieceLimitForName(std::string_view name) const {
  int p = FindPersonByName(name);
  if (p < 0) p = FindPersonByPageId(name);
  if (p < 0) return 0;
  const PersonRecord& person = Persons[p];
  const int s =
      person.PagerType == PagerType::Numeric ? FindSystemByName("Numeric") : FindSystemByName(person.SystemName);
  return s < 0 ? 0 : Systems[s].MaxMessageLength;
}

void Directory::ResetDirectory() {
  SystemCount = 0;
  PersonCount = 0;
  GroupCount = 0;
}

int Directory::AddSystem(const SystemRecord& system, const PortCallback& registerPort) {
  if (FindSystemByName(system.SystemName) >= 0) {
    common::LogLine("%t %s: System already in list[%s]\n", common::ProgramName(), system.SystemName);
    return -1;
  }
  if (const char* missing = MissingIpAddress(system)) {
    common::LogLine("%t %s: System(%s) needs %s, not stored\n", common::ProgramName(), system.SystemName, missing);
    return -1;
  }
  const int slot = SystemCount;
  SystemRecord& stored = Systems[slot];
  stored = system;
  stored.NextPort = 0;
  if (stored.PortCount < 0) stored.PortCount = 0;
  if (stored.PortCount > kMaxPorts) stored.PortCount = kMaxPorts;
  // The ports get their queues before the clamp, so a system beyond the table still has them.
  if (registerPort && !IsIpSystem(stored))
    for (int i = 0; i < stored.PortCount; ++i) registerPort(stored.Port[i]);
  SystemCount = Grow(SystemCount, kSystemSlots);
  return slot;
}

int Directory::AddPerson(const PersonRecord& person, std::string_view groupList) {
  if (FindPersonByName(person.Name) >= 0) {
    common::LogLine("%t %s: Name already in list[%s]\n", common::ProgramName(), person.Name);
    return -1;
  }
  if (CheckPersonSystems && person.PagerType == PagerType::Alphanumeric && FindSystemByName(person.SystemName) < 0) {
    common::LogLine("%t %s: System Name not valid for name(%s)\n", common::ProgramName(), person.Name);
    return -1;
  }
  for (const std::string& listed : SplitList(groupList)) {
    // Cut before the lookup too, so every person naming the same long group joins one group.
    const std::string groupName = Cut(listed, kGroupNameMax);
    const int g = FindGroup(groupName);
    if (g >= 0) {
      Groups[g].Members += person.Name;
      Groups[g].Members += '|';
      continue;
    }
    GroupRecord& created = Groups[GroupCount];
    created.Name = groupName;
    created.Members = person.Name + '|';
    GroupCount = Grow(GroupCount, kGroupSlots);
  }
  const int slot = PersonCount;
  Persons[slot] = person;
  PersonCount = Grow(PersonCount, kPersonSlots);
  return slot;
}

int Directory::AddGroup(std::string_view name, std::string_view members) {
  const int slot = GroupCount;
  Groups[slot].Name = Cut(name, kGroupNameMax);
  Groups[slot].Members = std::string(members);
  GroupCount = Grow(GroupCount, kGroupSlots);
  return slot;
}

}  // namespace directory
