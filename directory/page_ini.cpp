// directory/page_ini.cpp - page.ini's keyword list, state table and actions.
#include "directory/page_ini.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <new>
#include <vector>

#include "common/log.h"
#include "directory/parse_machine.h"

namespace directory {

namespace {

constexpr size_t kPendingListMax = 61000;  // the pending list's buffer in characters

enum Kw : int {
  kSemicolon,
  kEquals,
  kLineFeed,
  kStar,
  kComma,
  kOpenBrace,
  kCloseBrace,
  kMinus,
  kEnabled,
  kDisabled,
  kOn,
  kOff,
  kOpen,
  kClosed,
  kIcon,
  kZoomed,
  kTrue,
  kFalse,
  kEven,
  kOdd,
  kNone,
  kSpace,
  kMark,
  kTap,
  kScript,
  kTapM,
  kUcp,
  kNumeric,
  kAlphanumeric,
  kCp437,
  kCp850,
  kSlim,
  kFull,
  kAuto,
  kPagerSystemsSection,
  kNameSection,
  kGroupSection,
  kGlobalSection,
  kParity,
  kPort,
  kStopBits,
  kBaud,
  kModemInitString,
  kDataBits,
  kSystemPhoneNumber,
  kSystemType,
  kScriptFileName,
  kMaxMessageLength,
  kTapPassWord,
  kMultipleMessageMode,
  kOverrideTcpPort,
  kOverrideHostName,
  kOverrideLanServerName,
  kMaxPagesPerConnection,
  kPageID,
  kPagerType,
  kSystemName,
  kSuppressNameDisplay,
  kGroup,
  kName,
  kTcpPort,
  kHostName,
  kLanServerName,
  kLogFileName,
  kMapCodePage,
  kLogMessages,
  kMaxReTrys,
  kDisplayGroupName,
  kDialingPrefix,
  kReadNamesFromServer,
  kClientType,
  kDebug,
  kQueueSize,
  // Systems reached over IP.
  kWctp,
  kSnpp,
  kClientQuery,
  kPollForMessages,
  kConnections,
  kWctpUrl,
  kWctpSenderID,
  kWctpSecurityCode,
  kWctpMiscInfo,
  kWctpStatus,
  kWctpCaFile,
  kSnppHost,
  kSnppPort,
  kSnppTls,
  kSnppLogin,
  kSnppPassword,
  kSnppCaFile,
  kTapHost,
  kTapTls,
  kTapCaFile,
  kPageStore,
  kHistoryDays,
  kPipeAccess,
  kEveryone,
  kKeywordCount
};

// In the order of Kw.
constexpr IniKeyword kKeywords[] = {
    {";"},
    {"="},
    {"\n"},
    {"*"},
    {","},
    {"{"},
    {"}"},
    {"-"},
    {"Enabled", 1},
    {"Disabled", 0},
    {"On"},
    {"Off"},
    {"Open"},
    {"Closed"},
    {"Icon"},
    {"Zoomed"},
    {"True"},
    {"False"},
    {"Even", 'E'},
    {"Odd", 'O'},
    {"None", 'N'},
    {"Space", 'S'},
    {"Mark", 'M'},
    {"Tap", 0},
    {"Script", 1},
    {"TapM", 2},
    {"UCP", 3},
    {"Numeric", 0},
    {"Alphanumeric", 1},
    {"CP437", 0},
    {"CP850", 1},
    {"Slim", 0},
    {"Full", 1},
    {"Auto"},
    {"PagerSystemsSection"},
    {"NameSection"},
    {"GroupSection"},
    {"GlobalSection"},
    {"Parity"},
    {"Port"},
    {"StopBits"},
    {"Baud"},
    {"ModemInitString"},
    {"DataBits"},
    {"SystemPhoneNumber"},
    {"SystemType"},
    {"ScriptFileName"},
    {"MaxMessageLength"},
    {"TapPassWord"},
    {"MultipleMessageMode"},
    {"OverrideTcpPort"},
    {"OverrideHostName"},
    {"OverrideLanServerName"},
    {"MaxPagesPerConnection"},
    {"PageID"},
    {"PagerType"},
    {"SystemName"},
    {"SuppressNameDisplay"},
    {"Group"},
    {"Name"},
    {"TcpPort"},
    {"HostName"},
    {"LanServerName"},
    {"LogFileName"},
    {"MapCodePage"},
    {"LogMessages"},
    {"MaxReTrys"},
    {"DisplayGroupName"},
    {"DialingPrefix"},
    {"ReadNamesFromServer"},
    {"ClientType"},
    {"Debug"},
    {"QueueSize"},
    {"Wctp", 4},
    {"Snpp", 5},
    {"ClientQuery", 1},
    {"PollForMessages", 2},
    {"Connections"},
    {"WctpUrl"},
    {"WctpSenderID"},
    {"WctpSecurityCode"},
    {"WctpMiscInfo"},
    {"WctpStatus"},
    {"WctpCaFile"},
    {"SnppHost"},
    {"SnppPort"},
    {"SnppTls"},
    {"SnppLogin"},
    {"SnppPassword"},
    {"SnppCaFile"},
    {"TapHost"},
    {"TapTls"},
    {"TapCaFile"},
    {"PageStore"},
    {"HistoryDays"},
    {"PipeAccess"},
    {"Everyone"},
};
static_assert(std::size(kKeywords) == kKeywordCount, "kKeywords follows the order of Kw");

enum class SectionKind { Systems, Names, Groups };

// What the actions work on during one load. It is made afresh for every load, so nothing
// left pending by one file can join an entry of the next.
struct IniParseState {
  IniParseState(Directory& dir, PageIniSettings& settings, const PageIniHooks& hooks)
      : Dir(dir), Settings(settings), Hooks(hooks) {}
  Directory& Dir;
  PageIniSettings& Settings;
  const PageIniHooks& Hooks;
  SystemRecord PendingSystem = DefaultSystem();
  PersonRecord PendingPerson;
  std::string PendingGroupName;
  std::string PendingList;  // "|"-terminated: a person's groups, or a group's members
  SectionKind Section = SectionKind::Systems;
};

using Action = IniAction<IniParseState>;

std::string Cut(std::string_view text, size_t max) { return std::string(text.substr(0, max)); }

// Stores whatever entry is pending in the current section kind.
void AddPendingEntry(IniParseState& c) {
  switch (c.Section) {
    case SectionKind::Systems:
      if (c.PendingSystem.SystemName.empty()) return;
      (void)c.Dir.AddSystem(c.PendingSystem, c.Hooks.RegisterPort);
      c.PendingSystem = DefaultSystem();
      return;
    case SectionKind::Names:
      if (c.PendingPerson.Name.empty()) return;
      (void)c.Dir.AddPerson(c.PendingPerson, c.PendingList);
      c.PendingPerson = PersonRecord{};
      c.PendingList.clear();
      return;
    case SectionKind::Groups:
      if (c.PendingGroupName.empty()) return;
      (void)c.Dir.AddGroup(c.PendingGroupName, c.PendingList);
      c.PendingGroupName.clear();
      c.PendingList.clear();
      return;
  }
}

void EntryName(IniParseState& c, const IniLexer& lx) {
  AddPendingEntry(c);
  switch (c.Section) {
    case SectionKind::Systems:
      c.PendingSystem.SystemName = Cut(lx.TokenText(), kSystemNameMax);
      break;
    case SectionKind::Names:
      c.PendingPerson.Name = Cut(lx.TokenText(), kPersonNameMax);
      break;
    case SectionKind::Groups:
      c.PendingGroupName = Cut(lx.TokenText(), kGroupNameMax);
      break;
  }
}

void SystemsSection(IniParseState& c, const IniLexer&) {
  AddPendingEntry(c);
  c.Section = SectionKind::Systems;
}
void NamesSection(IniParseState& c, const IniLexer&) {
  AddPendingEntry(c);
  c.Section = SectionKind::Names;
}
void GroupsSection(IniParseState& c, const IniLexer&) {
  AddPendingEntry(c);
  c.Section = SectionKind::Groups;
}

void SetParity(IniParseState& c, const IniLexer& lx) { c.PendingSystem.Parity = static_cast<char>(lx.Value()); }

void AddPort(IniParseState& c, const IniLexer& lx) {
  SystemRecord& s = c.PendingSystem;
  if (s.PortCount >= kMaxPorts) return;  // further ports ignored
  s.Port[s.PortCount++] = Cut(lx.LastString(), kPortNameMax);
}

// The text, not the number, decides: "1.5" is read as the number 1.
void SetStopBits(IniParseState& c, const IniLexer& lx) {
  const std::string& t = lx.TokenText();
  if (t.size() >= 3 && t[2] == '5')
    c.PendingSystem.StopBits = 3;
  else if (!t.empty() && t[0] == '1')
    c.PendingSystem.StopBits = 1;
  else if (!t.empty() && t[0] == '2')
    c.PendingSystem.StopBits = 2;
}

void SetBaud(IniParseState& c, const IniLexer& lx) { c.PendingSystem.Baud = lx.LongValue(); }
void SetModemInitString(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.ModemInitString = Cut(lx.LastString(), kModemInitStringMax);
}
void SetModemAutoInit(IniParseState& c, const IniLexer&) { c.PendingSystem.ModemAutoInit = true; }
void SetDataBits(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.DataBits = static_cast<uint8_t>(lx.Value() & 0xFF);
}
void SetSystemPhoneNumber(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.SystemPhoneNumber = Cut(lx.LastString(), kSystemPhoneNumberMax);
}
void SetSystemType(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.SystemType = static_cast<SystemType>(lx.Value());
}
void SetScriptFileName(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.ScriptFileName = Cut(lx.LastString(), kScriptFileNameMax);
}
void SetMaxMessageLength(IniParseState& c, const IniLexer& lx) {
  int32_t v = lx.Value();
  if (v < kMinMaxMessageLength) v = kMinMaxMessageLength;
  if (v > kMaxMaxMessageLength) v = kMaxMaxMessageLength;
  c.PendingSystem.MaxMessageLength = v;
}

// The terminal's log-on takes letters and digits only; anything else is sent as 'A'.
void SetTapPassWord(IniParseState& c, const IniLexer& lx) {
  std::string pw = Cut(lx.LastString(), kTapPassWordMax);
  for (char& ch : pw) {
    const bool alnum = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9');
    if (!alnum) ch = 'A';
  }
  c.PendingSystem.TapPassWord = pw;
}

void SetMultipleMessageMode(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.MultipleMessageMode = lx.Value() != 0;
}
void SetOverrideTcpPort(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.OverrideTcpPort = static_cast<uint16_t>(lx.Value());
}
void SetOverrideHostName(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.OverrideHostName = Cut(lx.LastString(), kOverrideHostNameMax);
}
void SetOverrideLanServerName(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.OverrideLanServerName = Cut(lx.LastString(), kOverrideLanServerNameMax);
}

void SetPageId(IniParseState& c, const IniLexer& lx) { c.PendingPerson.PageID = Cut(lx.LastString(), kPageIdMax); }
void SetPagerType(IniParseState& c, const IniLexer& lx) {
  c.PendingPerson.PagerType = lx.Value() != 0 ? PagerType::Alphanumeric : PagerType::Numeric;
}
void SetPersonSystemName(IniParseState& c, const IniLexer& lx) {
  c.PendingPerson.SystemName = Cut(lx.LastString(), kSystemNameMax);
}
void SetSuppressNameDisplay(IniParseState& c, const IniLexer& lx) {
  c.PendingPerson.SuppressNameDisplay = lx.Value() != 0;
}

// A person's groups, created or joined when the person is stored.
void AddGroupName(IniParseState& c, const IniLexer& lx) {
  const std::string& name = lx.LastString();
  if (c.PendingList.size() + name.size() >= kPendingListMax) return;
  c.PendingList += name;
  c.PendingList += '|';
}

// A group's members: only persons already read may join.
void AddMemberName(IniParseState& c, const IniLexer& lx) {
  // Stored names are cut to the field; a longer name in a group means the same person.
  const std::string& given = lx.LastString();
  const std::string name = Cut(given, kPersonNameMax);
  if (c.PendingList.size() + name.size() >= kPendingListMax) return;
  if (c.Dir.FindPersonByName(name) < 0) {
    common::LogLine("%t %s: Person's name(%s) is invalid in group(%s)\n", common::ProgramName(), given,
                    c.PendingGroupName);
    return;
  }
  c.PendingList += name;
  c.PendingList += '|';
}

void SetTcpPort(IniParseState& c, const IniLexer& lx) { c.Settings.TcpPort = static_cast<uint16_t>(lx.Value()); }
void SetHostName(IniParseState& c, const IniLexer& lx) { c.Settings.HostName = Cut(lx.LastString(), kHostNameMax); }
void SetLanServerName(IniParseState& c, const IniLexer& lx) {
  c.Settings.LanServerName = Cut(lx.LastString(), kLanServerNameMax);
  c.Settings.CurrentLanServerName = c.Settings.LanServerName;
}
void SetLogFileName(IniParseState& c, const IniLexer& lx) {
  c.Settings.LogFileName = lx.LastString();
  if (c.Hooks.ApplyLogFileName)
    c.Hooks.ApplyLogFileName(c.Settings.LogFileName);
  else
    common::SetLogFileName(c.Settings.LogFileName);
}
void SetMapCodePage(IniParseState& c, const IniLexer& lx) { c.Settings.MapCodePage = lx.Value(); }
void SetLogMessages(IniParseState& c, const IniLexer& lx) { c.Settings.LogMessages = lx.Value() != 0; }
void SetMaxReTrys(IniParseState& c, const IniLexer& lx) { c.Settings.MaxReTrys = lx.Value(); }
void SetDisplayGroupName(IniParseState& c, const IniLexer& lx) {
  c.Settings.DisplayGroupName = Cut(lx.LastString(), kDisplayGroupNameMax);
}
void SetDialingPrefix(IniParseState& c, const IniLexer& lx) {
  c.Settings.DialingPrefix = Cut(lx.LastString(), kDialingPrefixMax);
}
void SetReadNamesFromServer(IniParseState& c, const IniLexer& lx) { c.Settings.ReadNamesFromServer = lx.Value() != 0; }
void SetClientType(IniParseState& c, const IniLexer& lx) { c.Settings.ClientTypeFull = lx.Value() != 0; }
void SetDebug(IniParseState& c, const IniLexer& lx) { c.Settings.Debug = lx.Value() != 0; }
void SetPipeEveryone(IniParseState& c, const IniLexer&) { c.Settings.PipeAccess = platform::PipeAccess::kEveryone; }
void SetPipeGroup(IniParseState& c, const IniLexer&) { c.Settings.PipeAccess = platform::PipeAccess::kGroup; }

// The Main queue never has fewer than 100 entries: other values are ignored.
void SetQueueSize(IniParseState& c, const IniLexer& lx) {
  const int32_t v = lx.Value();
  if (v <= 100 || v >= 30000) return;
  c.Settings.QueueSize = v;
  if (c.Hooks.ResizeMainQueue) c.Hooks.ResizeMainQueue(v);
}

// Systems reached over IP.

void SetConnections(IniParseState& c, const IniLexer& lx) {
  int32_t v = lx.Value();
  if (v < 1) v = 1;
  if (v > kMaxConnections) v = kMaxConnections;
  c.PendingSystem.Connections = v;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// Only web addresses go to the HTTP client: a file:// or other scheme here would make
// the gateway read or send something other than a page.
void SetWctpUrl(IniParseState& c, const IniLexer& lx) {
  const std::string& url = lx.LastString();
  if (url.size() > kWctpUrlMax || !(StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"))) {
    common::LogLine("%t %s: WctpUrl(%s) is not an http or https address, ignored\n", common::ProgramName(), url);
    return;
  }
  c.PendingSystem.WctpUrl = url;
}
void SetWctpSenderId(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.WctpSenderID = Cut(lx.LastString(), kWctpSenderIdMax);
}
void SetWctpSecurityCode(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.WctpSecurityCode = Cut(lx.LastString(), kWctpSecurityCodeMax);
}
void SetWctpMiscInfo(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.WctpMiscInfo = Cut(lx.LastString(), kWctpMiscInfoMax);
}
void SetWctpStatus(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.WctpStatus = static_cast<WctpStatus>(lx.Value());
}
void SetWctpStatusNone(IniParseState& c, const IniLexer&) { c.PendingSystem.WctpStatus = WctpStatus::None; }
void SetWctpCaFile(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.WctpCaFile = Cut(lx.LastString(), kCaFileMax);
}
void SetSnppHost(IniParseState& c, const IniLexer& lx) { c.PendingSystem.SnppHost = Cut(lx.LastString(), kIpHostMax); }
void SetSnppPort(IniParseState& c, const IniLexer& lx) {
  const int32_t v = lx.Value();
  if (v < 1 || v > 65535) {
    common::LogLine("%t %s: SnppPort(%ld) is not a port number, ignored\n", common::ProgramName(), v);
    return;
  }
  c.PendingSystem.SnppPort = static_cast<uint16_t>(v);
}
void SetSnppTls(IniParseState& c, const IniLexer& lx) { c.PendingSystem.SnppTls = lx.Value() != 0; }
void SetSnppLogin(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.SnppLogin = Cut(lx.LastString(), kSnppLoginMax);
}
void SetSnppPassword(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.SnppPassword = Cut(lx.LastString(), kSnppPasswordMax);
}
void SetSnppCaFile(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.SnppCaFile = Cut(lx.LastString(), kCaFileMax);
}
// A TapHost that is not name:port would make the system neither dialled nor reachable.
void SetTapHost(IniParseState& c, const IniLexer& lx) {
  const std::string& text = lx.LastString();
  std::string host;
  uint16_t port = 0;
  if (text.size() > kIpHostMax || !SplitHostPort(text, host, port)) {
    common::LogLine("%t %s: TapHost(%s) is not name:port, ignored\n", common::ProgramName(), text);
    return;
  }
  c.PendingSystem.TapHost = text;
}
void SetTapTls(IniParseState& c, const IniLexer& lx) { c.PendingSystem.TapTls = lx.Value() != 0; }
void SetTapCaFile(IniParseState& c, const IniLexer& lx) {
  c.PendingSystem.TapCaFile = Cut(lx.LastString(), kCaFileMax);
}
void SetPageStore(IniParseState& c, const IniLexer& lx) { c.Settings.PageStore = lx.LastString(); }
// A negative number of days would purge pages before they finish: such a value is ignored.
void SetHistoryDays(IniParseState& c, const IniLexer& lx) {
  if (lx.Value() >= 0) c.Settings.HistoryDays = lx.Value();
}

// A value the row after "=" accepts: a token kind, or one keyword when kind is Keyword.
struct ValueForm {
  TokenKind Kind;
  int Keyword = -1;
  Action Run = nullptr;
};

struct SettingRule {
  Kw Keyword;
  std::vector<ValueForm> Values;
};

ValueForm Number(Action a) { return {TokenKind::Number, -1, a}; }
ValueForm Text(Action a) { return {TokenKind::String, -1, a}; }
ValueForm Word(Kw k, Action a) { return {TokenKind::Keyword, k, a}; }

// The grammar: each setting keyword, then "=", then one of its value forms.
// Every keyword of page.ini that takes a value, with the forms its value may take.
const std::vector<SettingRule>& SettingRules() {
  static const std::vector<SettingRule> rules = {
      {kParity,
       {Word(kEven, SetParity), Word(kOdd, SetParity), Word(kNone, SetParity), Word(kSpace, SetParity),
        Word(kMark, SetParity)}},
      {kPort, {Text(AddPort)}},
      {kStopBits, {Number(SetStopBits)}},
      {kBaud, {Number(SetBaud)}},
      {kModemInitString, {Text(SetModemInitString), Word(kAuto, SetModemAutoInit)}},
      {kDataBits, {Number(SetDataBits)}},
      {kSystemPhoneNumber, {Text(SetSystemPhoneNumber)}},
      {kSystemType,
       {Word(kTap, SetSystemType), Word(kScript, SetSystemType), Word(kTapM, SetSystemType), Word(kUcp, SetSystemType),
        Word(kWctp, SetSystemType), Word(kSnpp, SetSystemType)}},
      {kScriptFileName, {Text(SetScriptFileName)}},
      {kMaxMessageLength, {Number(SetMaxMessageLength)}},
      {kTapPassWord, {Text(SetTapPassWord)}},
      {kMultipleMessageMode, {Word(kEnabled, SetMultipleMessageMode), Word(kDisabled, SetMultipleMessageMode)}},
      {kOverrideTcpPort, {Number(SetOverrideTcpPort)}},
      {kOverrideHostName, {Text(SetOverrideHostName)}},
      {kOverrideLanServerName, {Text(SetOverrideLanServerName)}},
      {kMaxPagesPerConnection, {Number(nullptr)}},  // accepted; every call sends up to 20 pages
      {kPageID, {Text(SetPageId)}},
      {kPagerType, {Word(kNumeric, SetPagerType), Word(kAlphanumeric, SetPagerType)}},
      {kSystemName, {Text(SetPersonSystemName)}},
      {kSuppressNameDisplay, {Word(kEnabled, SetSuppressNameDisplay), Word(kDisabled, SetSuppressNameDisplay)}},
      {kGroup, {Text(AddGroupName)}},
      {kName, {Text(AddMemberName)}},
      {kTcpPort, {Number(SetTcpPort)}},
      {kHostName, {Text(SetHostName)}},
      {kLanServerName, {Text(SetLanServerName)}},
      {kLogFileName, {Text(SetLogFileName)}},
      {kMapCodePage, {Word(kCp437, SetMapCodePage), Word(kCp850, SetMapCodePage)}},
      {kLogMessages, {Word(kEnabled, SetLogMessages), Word(kDisabled, SetLogMessages)}},
      {kMaxReTrys, {Number(SetMaxReTrys)}},
      {kDisplayGroupName, {Text(SetDisplayGroupName)}},
      {kDialingPrefix, {Text(SetDialingPrefix)}},
      {kReadNamesFromServer, {Word(kEnabled, SetReadNamesFromServer), Word(kDisabled, SetReadNamesFromServer)}},
      {kClientType, {Word(kSlim, SetClientType), Word(kFull, SetClientType)}},
      {kDebug, {Word(kEnabled, SetDebug), Word(kDisabled, SetDebug)}},
      {kQueueSize, {Number(SetQueueSize)}},
      {kConnections, {Number(SetConnections)}},
      {kWctpUrl, {Text(SetWctpUrl)}},
      {kWctpSenderID, {Text(SetWctpSenderId)}},
      {kWctpSecurityCode, {Text(SetWctpSecurityCode)}},
      {kWctpMiscInfo, {Text(SetWctpMiscInfo)}},
      {kWctpStatus,
       {Word(kClientQuery, SetWctpStatus), Word(kPollForMessages, SetWctpStatus), Word(kNone, SetWctpStatusNone)}},
      {kWctpCaFile, {Text(SetWctpCaFile)}},
      {kSnppHost, {Text(SetSnppHost)}},
      {kSnppPort, {Number(SetSnppPort)}},
      {kSnppTls, {Word(kEnabled, SetSnppTls), Word(kDisabled, SetSnppTls)}},
      {kSnppLogin, {Text(SetSnppLogin)}},
      {kSnppPassword, {Text(SetSnppPassword)}},
      {kSnppCaFile, {Text(SetSnppCaFile)}},
      {kTapHost, {Text(SetTapHost)}},
      {kTapTls, {Word(kEnabled, SetTapTls), Word(kDisabled, SetTapTls)}},
      {kTapCaFile, {Text(SetTapCaFile)}},
      {kPageStore, {Text(SetPageStore)}},
      {kHistoryDays, {Number(SetHistoryDays)}},
      {kPipeAccess, {Word(kEveryone, SetPipeEveryone), Word(kGroup, SetPipeGroup)}},
  };
  return rules;
}

std::vector<IniStateRow<IniParseState>> BuildStateTable() {
  std::vector<IniStateRow<IniParseState>> table(1);
  IniStateRow<IniParseState>& start = table[0];
  start.push_back({TokenKind::Keyword, kSemicolon, 0, nullptr});  // the lexer skipped the comment
  start.push_back({TokenKind::Keyword, kLineFeed, 0, nullptr});
  start.push_back({TokenKind::EntryName, -1, 0, EntryName});
  start.push_back({TokenKind::Keyword, kPagerSystemsSection, 0, SystemsSection});
  start.push_back({TokenKind::Keyword, kNameSection, 0, NamesSection});
  start.push_back({TokenKind::Keyword, kGroupSection, 0, GroupsSection});
  start.push_back({TokenKind::Keyword, kGlobalSection, 0, nullptr});
  for (const SettingRule& rule : SettingRules()) {
    const int equalsRow = static_cast<int>(table.size());
    table[0].push_back({TokenKind::Keyword, rule.Keyword, equalsRow, nullptr});
    table.push_back({{TokenKind::Keyword, kEquals, kFollowingRow, nullptr}});
    IniStateRow<IniParseState> valueRow;
    for (const ValueForm& v : rule.Values) valueRow.push_back({v.Kind, v.Keyword, 0, v.Run});
    table.push_back(std::move(valueRow));
  }
  return table;
}

const std::vector<IniStateRow<IniParseState>>& StateTable() {
  static const std::vector<IniStateRow<IniParseState>> table = BuildStateTable();
  return table;
}

// The parse loop over page.ini's table; the number of syntax errors logged.
int ParsePageIni(IniLexer& lexer, IniParseState& state, std::string_view fileName) {
  return RunIniParseLoop<IniParseState>(lexer, StateTable(), state, fileName);
}

}  // namespace

int ParsePageIniText(std::string_view text, const std::string& fileName, Directory& dir, PageIniSettings& settings,
                     const PageIniHooks& hooks) {
  try {
    IniParseState state(dir, settings, hooks);
    IniLexer lexer(text, kKeywords, kIniTokenMax);
    const int errors = ParsePageIni(lexer, state, fileName);
    AddPendingEntry(state);  // the entry still open at the end of the file
    return errors > 0 ? 1 : 0;
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error getting memeory for PAGE.INI file\n", common::ProgramName());
    return 1;
  }
}

int LoadPageIni(const std::string& path, Directory& dir, PageIniSettings& settings, const PageIniHooks& hooks) {
  std::string text;
  int read = 1;
  try {
    read = ReadIniFile(path, text);
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error getting memeory for PAGE.INI file\n", common::ProgramName());
    return 1;
  }
  if (read != 0) {
    common::LogLine("%t %s: Error opening PAGE.INI file - File not found\n", common::ProgramName());
    return 1;
  }
  return ParsePageIniText(text, path, dir, settings, hooks);
}

int LoadPageIni(const std::string& path, Directory& dir, PageIniSettings& settings, const PortCallback& registerPort) {
  PageIniHooks hooks;
  hooks.RegisterPort = registerPort;
  return LoadPageIni(path, dir, settings, hooks);
}

}  // namespace directory
