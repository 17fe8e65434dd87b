// popgate/poppage_ini.cpp - the POPPAGE.INI grammar on the shared configuration machinery.
#include "popgate/poppage_ini.h"

#include <array>
#include <cstdlib>
#include <new>
#include <vector>

#include "common/log.h"
#include "directory/parse_machine.h"

namespace popgate {

namespace {

using directory::IniKeyword;
using directory::IniLexer;
using directory::TokenKind;

// The keyword list. Words that no rule below uses (On, Off, UserMailPagerSection, ...) are
// still listed, so they read as keywords and are syntax errors wherever they stand, not
// unknown words.
enum Kw : int {
  kStar,
  kEquals,
  kSemicolon,
  kDash,
  kComma,
  kOpenBrace,
  kCloseBrace,
  kLineFeed,
  kEnabled,
  kDisabled,
  kOn,
  kOff,
  kTrue,
  kFalse,
  kOpen,
  kClosed,
  kIcon,
  kZoomed,
  kLanServerName,
  kUserMailPagerSection,
  kPagingServerType,
  kLocal,
  kSnpp,
  kLanServer,
  kMailType,
  kPop,
  kDirectory,
  kPageFromTo,
  kPollTime,
  kIncomingDirectory,
  kPopPort,
  kPopHostName,
  kPopUser,
  kPopPassword,
  kPopSaveMessages,
  kPopSaveDircetory,
  kSnppPort,
  kSnppHostName,
  kMaxMessageSize,
  kMailGateWaySection,
  kAckEMail,
  kSmtpPort,
  kSmtpHostName,
  kPopPageType,
  kUserMail,
  kGateWay,
  kKeywordCount
};

constexpr std::array<IniKeyword, kKeywordCount> kKeywords{{
    {"*"},
    {"="},
    {";"},
    {"-"},
    {","},
    {"{"},
    {"}"},
    {"\n"},
    {"Enabled", 1},
    {"Disabled", 0},
    {"On"},
    {"Off"},
    {"True"},
    {"False"},
    {"Open"},
    {"Closed"},
    {"Icon"},
    {"Zoomed"},
    {"LanServerName"},
    {"UserMailPagerSection"},
    {"PagingServerType"},
    {"Local", 0},
    {"SNPP", 1},
    {"LanServer", 2},
    {"MailType"},
    {"Pop", 0},
    {"Directory", 1},
    {"PageFromTo"},
    {"PollTime"},
    {"IncomingDirectory"},
    {"PopPort"},
    {"PopHostName"},
    {"PopUser"},
    {"PopPassword"},
    {"PopSaveMessages"},
    {"PopSaveDircetory"},
    {"SNPPPort"},
    {"SNPPHostName"},
    {"MaxMessageSize"},
    {"MailGateWaySection"},
    {"AckEMail"},
    {"SMTPPort"},
    {"SMTPHostName"},
    {"PopPageType"},
    {"UserMail", 0},
    {"GateWay", 1},
}};

struct ParseContext {
  GatewayContext& Gateway;
  Mailbox Current;        // the mailbox being read; settings before the first section land here
  bool NoMemory = false;  // the table could not grow: nothing more is stored
};

// A finished mailbox goes into the table; one without a name (only settings so far) stays
// current, so the settings above the first section header start the first mailbox.
void FinishMailbox(ParseContext& pc) {
  if (pc.Current.Name.empty() || pc.NoMemory) return;
  GatewayContext& g = pc.Gateway;
  try {
    g.Mailboxes.push_back(std::move(pc.Current));
    pc.Current = Mailbox{};
    if (g.Mailboxes.size() >= g.Capacity) g.Capacity += kTableGrowth;
    g.Mailboxes.reserve(g.Capacity);
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error - calloc\n", g.ProgramName);
    pc.NoMemory = true;  // the parse runs to its end; the caller ends the program
  }
}

std::string Cut(const std::string& text, size_t width) {
  return text.size() < width ? text : text.substr(0, width - 1);
}

void StartSection(ParseContext& pc, const IniLexer& lex) {
  FinishMailbox(pc);
  pc.Current.Name = Cut(lex.TokenText(), kMailboxNameWidth);
}

template <std::string Mailbox::*Field, size_t Width>
void StoreString(ParseContext& pc, const IniLexer& lex) {
  pc.Current.*Field = Cut(lex.LastString(), Width);
}

template <int32_t Mailbox::*Field>
void StoreNumber(ParseContext& pc, const IniLexer& lex) {
  pc.Current.*Field = lex.Value();
}

template <int Mailbox::*Field>
void StoreEnum(ParseContext& pc, const IniLexer& lex) {
  pc.Current.*Field = lex.Value();
}

template <bool Mailbox::*Field>
void StoreFlag(ParseContext& pc, const IniLexer& lex) {
  pc.Current.*Field = lex.Value() != 0;
}

// "h:m" as two decimal numbers; a part that is not a number reads as 0.
void ParseTime(const std::string& text, int32_t& hour, int32_t& minute) {
  hour = std::atoi(text.c_str());
  const size_t colon = text.find(':');
  minute = colon == std::string::npos ? 0 : std::atoi(text.c_str() + colon + 1);
}

void StoreFromTime(ParseContext& pc, const IniLexer& lex) {
  ParseTime(lex.TokenText(), pc.Current.PageFromStartHour, pc.Current.PageFromStartMinute);
}

void StoreToTime(ParseContext& pc, const IniLexer& lex) {
  ParseTime(lex.TokenText(), pc.Current.PageFromEndHour, pc.Current.PageFromEndMinute);
}

using Transition = directory::IniTransition<ParseContext>;
using Row = directory::IniStateRow<ParseContext>;
using Action = directory::IniAction<ParseContext>;

Transition KeywordTo(int keyword, int row, Action action = nullptr) {
  return {TokenKind::Keyword, keyword, row, action};
}
Transition KindTo(TokenKind kind, int row, Action action = nullptr) { return {kind, -1, row, action}; }

// Row 0 and, per setting keyword, a row that wants "=" and a row that wants the value.
std::vector<Row> BuildTable() {
  std::vector<Row> table(1);
  table[0].push_back(KeywordTo(kSemicolon, 0));
  table[0].push_back(KeywordTo(kLineFeed, 0));
  table[0].push_back(KindTo(TokenKind::EntryName, 0, StartSection));

  auto setting = [&table](int keyword, Row values) {
    const int equalsRow = static_cast<int>(table.size());
    table[0].push_back(KeywordTo(keyword, equalsRow));
    table.push_back({KeywordTo(kEquals, directory::kFollowingRow)});
    table.push_back(std::move(values));
  };
  auto stringValue = [](Action a) { return Row{KindTo(TokenKind::String, 0, a)}; };
  auto numberValue = [](Action a) { return Row{KindTo(TokenKind::Number, 0, a)}; };
  auto enumValue = [](std::initializer_list<int> words, Action a) {
    Row row;
    for (int w : words) row.push_back(KeywordTo(w, 0, a));
    return row;
  };

  setting(kPagingServerType, enumValue({kLocal, kSnpp, kLanServer}, StoreEnum<&Mailbox::PagingServerType>));
  setting(kMailType, enumValue({kPop, kDirectory}, StoreEnum<&Mailbox::MailType>));
  {
    // PageFromTo = 8:00 17:30 (a comma between the two times is also read).
    const int timesRow = static_cast<int>(table.size()) + 1;
    setting(kPageFromTo, Row{KindTo(TokenKind::Time, timesRow + 1, StoreFromTime)});
    table.push_back({KindTo(TokenKind::Time, 0, StoreToTime), KeywordTo(kComma, timesRow + 2)});
    table.push_back({KindTo(TokenKind::Time, 0, StoreToTime)});
  }
  setting(kPollTime, numberValue(StoreNumber<&Mailbox::PollTime>));
  setting(kIncomingDirectory, stringValue(StoreString<&Mailbox::IncomingDirectory, kDirectoryWidth>));
  setting(kPopPort, numberValue(StoreNumber<&Mailbox::PopPort>));
  setting(kPopHostName, stringValue(StoreString<&Mailbox::PopHostName, kHostFieldWidth>));
  setting(kPopUser, stringValue(StoreString<&Mailbox::PopUser, kHostFieldWidth>));
  setting(kPopPassword, stringValue(StoreString<&Mailbox::PopPassword, kHostFieldWidth>));
  setting(kPopSaveMessages, enumValue({kEnabled, kDisabled}, StoreFlag<&Mailbox::PopSaveMessages>));
  setting(kPopSaveDircetory, stringValue(StoreString<&Mailbox::PopSaveDircetory, kDirectoryWidth>));
  setting(kSnppPort, numberValue(StoreNumber<&Mailbox::SNPPPort>));
  setting(kSnppHostName, stringValue(StoreString<&Mailbox::SNPPHostName, kHostFieldWidth>));
  setting(kLanServerName, stringValue(StoreString<&Mailbox::LanServerName, kHostFieldWidth>));
  setting(kMaxMessageSize, numberValue(StoreNumber<&Mailbox::MaxMessageSize>));
  setting(kAckEMail, enumValue({kEnabled, kDisabled}, StoreFlag<&Mailbox::AckEMail>));
  setting(kSmtpPort, numberValue(StoreNumber<&Mailbox::SMTPPort>));
  setting(kSmtpHostName, stringValue(StoreString<&Mailbox::SMTPHostName, kHostFieldWidth>));
  setting(kPopPageType, enumValue({kUserMail, kGateWay}, StoreEnum<&Mailbox::PopPageType>));
  return table;
}

const std::vector<Row>& Table() {
  static const std::vector<Row> table = BuildTable();
  return table;
}

}  // namespace

int ParsePopPageIniText(std::string_view text, std::string_view fileName, GatewayContext& context) {
  ParseContext pc{context, Mailbox{}};
  IniLexer lexer(text, kKeywords, kPopPageTokenMax);
  const int errors = directory::RunIniParseLoop<ParseContext>(lexer, Table(), pc, fileName);
  FinishMailbox(pc);
  if (pc.NoMemory) return kPopPageNoMemory;
  return errors == 0 ? kPopPageRead : kPopPageFaulty;
}

int ReadPopPageIni(const std::string& path, GatewayContext& context) {
  try {
    std::string text;
    if (directory::ReadIniFile(path, text) != 0) {
      common::LogLine("%t %s: Error opening POPPAGE.INI file - File not found\n", context.ProgramName);
      return kPopPageFaulty;
    }
    return ParsePopPageIniText(text, path, context);
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error getting memeory for PAGE.INI file\n", context.ProgramName);
    return kPopPageFaulty;
  }
}

int ReadMapCodePage(const std::string& path) {
  std::string text;
  if (directory::ReadIniFile(path, text) != 0) return 0;
  static constexpr IniKeyword kWords[] = {{"MapCodePage"}, {"="}, {"CP437", 0}, {"CP850", 1}, {";"}};
  IniLexer lexer(text, kWords);
  // The last "MapCodePage = CP437|CP850" of the file counts, as the server's reader sees it.
  int codePage = 0;
  int matched = 0;  // keyword, "=" seen so far
  while (lexer.NextIniToken() != TokenKind::EndOfFile) {
    const bool kw = lexer.Kind() == TokenKind::Keyword;
    const int index = kw ? lexer.KeywordIndex() : -1;
    if (matched == 2 && (index == 2 || index == 3)) codePage = lexer.Value();
    matched = (index == 0) ? 1 : (matched == 1 && index == 1) ? 2 : 0;
  }
  return codePage;
}

}  // namespace popgate
