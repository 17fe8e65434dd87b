// directory/directory.h - whom the paging server can reach and how: the paging systems,
// the persons with their pager IDs and the groups, as fixed tables with a count each.
//
// A Directory is a plain value: page.ini is loaded into a fresh one and the caller swaps it
// in, so nothing here is global. Lookups compare without regard to letter case over the
// whole text and return the index of the first match in page.ini order, or -1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace directory {

// Table sizes: a count that reaches its table's size is set back to size - 1, so the last
// slot is written but never counted (49 systems, 499 persons, 199 groups are usable).
constexpr int kSystemSlots = 50;
constexpr int kPersonSlots = 500;
constexpr int kGroupSlots = 200;
constexpr int kMaxPorts = 20;  // serial ports per system

// Longest texts the fields hold (the records' field widths less their terminator). Longer
// texts are cut to these lengths wherever they are stored.
constexpr size_t kModemInitStringMax = 69;
constexpr size_t kPortNameMax = 29;
constexpr size_t kSystemNameMax = 29;
constexpr size_t kSystemPhoneNumberMax = 21;
constexpr size_t kScriptFileNameMax = 99;
constexpr size_t kTapPassWordMax = 20;
constexpr size_t kOverrideHostNameMax = 79;
constexpr size_t kOverrideLanServerNameMax = 79;
constexpr size_t kPersonNameMax = 31;
constexpr size_t kPageIdMax = 21;
constexpr size_t kGroupNameMax = 49;
// The fields of the systems reached over IP (WCTP, SNPP, TAP over TCP).
constexpr size_t kWctpUrlMax = 199;
constexpr size_t kWctpSenderIdMax = 128;
constexpr size_t kWctpSecurityCodeMax = 64;
constexpr size_t kWctpMiscInfoMax = 199;
constexpr size_t kIpHostMax = 99;  // SnppHost, and TapHost with its ":port"
constexpr size_t kSnppLoginMax = 63;
constexpr size_t kSnppPasswordMax = 63;
constexpr size_t kCaFileMax = 199;

constexpr int kDefaultMaxMessageLength = 230;
constexpr int kMinMaxMessageLength = 60;
constexpr int kMaxMaxMessageLength = 4000;
constexpr int kDefaultMaxPagesPerConnection = 20;
constexpr uint16_t kDefaultSnppPort = 444;
constexpr int kDefaultConnections = 1;
constexpr int kMaxConnections = 16;  // Connections = N is moved into 1..16

enum class SystemType : uint8_t { Tap = 0, Script = 1, TapM = 2, UCP = 3, Wctp = 4, Snpp = 5 };
// How a Wctp system asks the carrier what became of a page: not at all, wctp-ClientQuery
// per page, or wctp-PollForMessages for all of them.
enum class WctpStatus : uint8_t { None = 0, ClientQuery = 1, PollForMessages = 2 };
enum class PagerType : uint8_t { Numeric = 0, Alphanumeric = 1 };

// Called once for each port of every system that is stored (also for a system beyond the
// table's last counted slot), so the NOW queues can give each port a queue.
using PortCallback = std::function<void(std::string_view portName)>;

struct SystemRecord {
  std::string ModemInitString;              // empty = none
  std::array<std::string, kMaxPorts> Port;  // serial port names, in page.ini order
  int PortCount = 0;                        // valid entries of Port, 0..20
  int NextPort = 0;                         // round-robin cursor of the router
  int32_t Baud = 0;
  char Parity = 0;  // 'E', 'O', 'N', 'S' or 'M'
  uint8_t DataBits = 0;
  uint8_t StopBits = 0;                                 // 1 one, 2 two, 3 one and a half
  int32_t MaxMessageLength = kDefaultMaxMessageLength;  // 60..4000
  std::string SystemName;                               // the key of the table
  std::string SystemPhoneNumber;
  std::string ScriptFileName;  // dialogue script of a Script system
  std::string TapPassWord;     // letters and digits only
  ::directory::SystemType SystemType = ::directory::SystemType::Tap;
  bool MultipleMessageMode = true;
  bool ModemAutoInit = false;                                     // ModemInitString = Auto
  std::string OverrideHostName;                                   // SNPP host for this system's persons (corvsend)
  std::string OverrideLanServerName;                              // stored only
  uint16_t OverrideTcpPort = 0;                                   // SNPP port with OverrideHostName (corvsend)
  int16_t MaxPagesPerConnection = kDefaultMaxPagesPerConnection;  // always 20

  // Reached over IP: a system of type Wctp or Snpp, or a Tap or TapM system with a TapHost
  // (other types ignore TapHost).
  // Such a system has no serial port; its pages go out over its own connections.
  int Connections = kDefaultConnections;  // 1..16 at once
  std::string WctpUrl;                    // http:// or https://
  std::string WctpSenderID;
  std::string WctpSecurityCode;  // empty: not sent
  std::string WctpMiscInfo;      // empty: not sent
  std::string WctpCaFile;        // empty: the system trust store
  ::directory::WctpStatus WctpStatus = ::directory::WctpStatus::None;
  std::string SnppHost;
  uint16_t SnppPort = kDefaultSnppPort;
  bool SnppTls = false;
  std::string SnppLogin;  // empty: no LOGI
  std::string SnppPassword;
  std::string SnppCaFile;  // empty: the system trust store
  std::string TapHost;     // "name:port"; empty: the system is dialled through its ports
  bool TapTls = false;
  std::string TapCaFile;  // empty: the system trust store
};

// Splits "host:port" (the last colon separates; the port is 1..65535; the host has no
// blanks). False, leaving host and port untouched, for anything else.
bool SplitHostPort(std::string_view text, std::string& host, uint16_t& port);

// True for a system reached over IP rather than through a modem (see SystemRecord).
bool IsIpSystem(const SystemRecord& system);

struct PersonRecord {
  std::string Name;        // primary key
  std::string PageID;      // secondary key, sent to the paging system
  std::string SystemName;  // may be empty
  ::directory::PagerType PagerType = ::directory::PagerType::Numeric;
  bool SuppressNameDisplay = false;  // left out of name lists
};

struct GroupRecord {
  std::string Name;
  std::string Members;  // each member name followed by "|": "Ann|Bob|"
};

// The names of a "|"-terminated list ("Ann|Bob|" gives Ann and Bob); empty items skipped.
std::vector<std::string> SplitList(std::string_view list);

// The member names of a group, in the order they were added.
inline std::vector<std::string> GroupMembers(const GroupRecord& group) { return SplitList(group.Members); }

// A system record as page.ini starts every entry: all zero, then MaxMessageLength 230,
// MaxPagesPerConnection 20 and MultipleMessageMode set.
SystemRecord DefaultSystem();

struct Directory {
  Directory();  // the three tables with all their slots, counts 0

  std::vector<SystemRecord> Systems;  // kSystemSlots slots; valid below SystemCount
  int SystemCount = 0;
  std::vector<PersonRecord> Persons;  // kPersonSlots slots; valid below PersonCount
  int PersonCount = 0;
  std::vector<GroupRecord> Groups;  // kGroupSlots slots; valid below GroupCount
  int GroupCount = 0;

  // The paging server refuses an Alphanumeric person whose SystemName names no system;
  // the command-line client keeps such persons (it routes by SNPP host, not by system).
  bool CheckPersonSystems = true;

  int FindSystemByName(std::string_view name) const;
  int FindPersonByName(std::string_view name) const;
  int FindPersonByPageId(std::string_view id) const;
  int FindGroup(std::string_view name) const;

  // The PageID of the person with that Name, or nothing.
  std::optional<std::string> PageIdOfPerson(std::string_view name) const;

  // Routing: a Numeric person goes to the system its SystemName names, or to the system
  // named "Numeric" when that is empty; an Alphanumeric person to its SystemName's system.
  // -1 when that system does not exist.
  int SystemForPerson(const PersonRecord& person) const;

  // Longest message piece for a recipient found by Name, else by PageID: a Numeric
  // person takes the limit of the system named "Numeric" (whatever its SystemName says),
  // an Alphanumeric one that of its SystemName's system. 0 when the person or the system
  // is unknown (callers then use 230).
  int PieceLimitForName(std::string_view name) const;

  // Sets the three counts to 0 (before a reload into the same value); the slots keep their
  // old contents until overwritten.
  void ResetDirectory();

  // The add rules of page.ini. Each logs its own refusal with LogLine and the program
  // name, and returns the slot written, or -1 when the entry was refused.
  //
  // AddSystem: a name already present logs "System already in list[%s]"; otherwise the
  // record goes to slot SystemCount (NextPort set to 0), each of its ports is passed to
  // registerPort (may be empty), then the count rises, clamped at 49. A system reached
  // over IP registers no ports (any Port lines it has are ignored), and is refused with
  // "System(%s) needs %s, not stored" when it lacks its address (WctpUrl and WctpSenderID,
  // or SnppHost).
  int AddSystem(const SystemRecord& system, const PortCallback& registerPort);

  // AddPerson: a name already present logs "Name already in list[%s]"; an Alphanumeric
  // person whose SystemName names no system logs "System Name not valid for name(%s)"
  // (only while CheckPersonSystems is set).
  // Otherwise the person joins every group of groupList ("|"-terminated names; a missing
  // group is created with the person as its first member, clamped at 199 groups), then is
  // stored in slot PersonCount, clamped at 499.
  int AddPerson(const PersonRecord& person, std::string_view groupList);

  // AddGroup: stores a group with members ("|"-terminated names) in slot GroupCount,
  // clamped at 199. No duplicate test: a second group of a name is stored, never found.
  int AddGroup(std::string_view name, std::string_view members);
};

}  // namespace directory
