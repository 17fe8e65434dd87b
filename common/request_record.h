// common/request_record.h - the request pipe's records, byte for byte.
//
// A request is an 88-byte head followed by the message text and its NUL; all integers are
// little-endian. Every byte a sender does not set is zero. The list reply carries "OK",
// a 16-bit count at offset 16 and that many 32-byte names from offset 18.
#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/fixed_field.h"

namespace common {

static_assert(std::endian::native == std::endian::little, "the pipe records are little-endian and are read in place");

#pragma pack(push, 1)
struct RequestRecord {
  int16_t RecordKind;   // senders write 1; the server does not read it
  int16_t RequestType;  // 0..10
  int16_t TimeMode;     // 0 now, 1 at the time fields, 2 after Minute minutes
  int16_t Parameter;    // log page, listing flag or list page number
  char Reserved1[36];
  int16_t MessageLength;  // characters of Message
  char Reserved2;
  int32_t Minute;  // minute of the hour, or the delay in minutes
  uint8_t Hour;
  uint8_t Day;
  uint8_t Month;
  uint16_t Year;  // four digits, or two (the server's year rule)
  char Name[32];  // recipient, pattern or group; at most 31 characters
};
#pragma pack(pop)

static_assert(sizeof(RequestRecord) == 88);
static_assert(offsetof(RequestRecord, RecordKind) == 0);
static_assert(offsetof(RequestRecord, RequestType) == 2);
static_assert(offsetof(RequestRecord, TimeMode) == 4);
static_assert(offsetof(RequestRecord, Parameter) == 6);
static_assert(offsetof(RequestRecord, Reserved1) == 8);
static_assert(offsetof(RequestRecord, MessageLength) == 44);
static_assert(offsetof(RequestRecord, Reserved2) == 46);
static_assert(offsetof(RequestRecord, Minute) == 47);
static_assert(offsetof(RequestRecord, Hour) == 51);
static_assert(offsetof(RequestRecord, Day) == 52);
static_assert(offsetof(RequestRecord, Month) == 53);
static_assert(offsetof(RequestRecord, Year) == 54);
static_assert(offsetof(RequestRecord, Name) == 56);

constexpr size_t kRequestHeadSize = sizeof(RequestRecord);  // 88; the message starts here
constexpr size_t kMaxRequestBytes = 5000;                   // the server reads no more
constexpr int kMaxMessageLength = static_cast<int>(kMaxRequestBytes - kRequestHeadSize - 1);  // 4911
constexpr size_t kPipeReplyCapacity = 3100;                                                   // what clients accept
constexpr size_t kListCountOffset = 16;
constexpr size_t kListNamesOffset = 18;
constexpr size_t kListNameWidth = 32;
constexpr int kListPageSize = 50;

enum RequestType : int16_t {
  kPageRequest = 0,
  kPageKnownPerson = 1,
  kPageAsGiven = 2,
  kLogReport = 3,
  kStatusReport = 4,
  kDeleteAt = 5,
  kListPersons = 6,
  kListGroups = 7,
  kListMembers = 8,
  kPageRecord = 9,
  // Counters: no field but RequestType is read. The reply is "OK\n" and then one figure a
  // line, "name<TAB>value" with any labels after it as "<TAB>label=value"; a label value's
  // backslash, tab, CR and line feed are written \\, \t, \r and \n (common/counter_lines.h
  // writes and reads them). Names: pages_accepted, pages_sent, pages_given_up,
  // pipe_requests, unknown_names, now_queue_full (counts since start); now_queue_pages with
  // queue=Main or queue=PORT, at_pages (pages waiting now); calls with port=, system= and
  // result= (the modem's words). A reply that would pass the server's reply buffer ends
  // after its last whole line.
  kCounters = 10,
};

// kPageRecord: what became of a page. The request carries the page's message number in
// Minute (nothing else is read). The reply is the text "OK", a line feed, and one line of
// tab-separated key=value fields ended by a line feed:
//   number     the message number asked for
//   state      waiting | scheduled | sending | sent | given up | deleted
//   name       the recipient as given (a person, a pager ID; a group's member)
//   pageid     the pager ID sent to
//   system     the paging system (empty until known)
//   attempts   delivery attempts so far
//   accepted   when the page was accepted, due (AT pages), finished (sent, given up or
//              deleted): local time "YYYY-MM-DD HH:MM:SS", empty when none
//   result     the last result, in the words of its log line (empty when none yet)
//   pieces     only when the number has more than one piece (a due AT page cut into
//              pieces, or a group's members): their count; the fields then describe the
//              piece furthest from done
// Fields come in this order; a reader should still look them up by key, as later ones may
// be added at the end. In values a backslash, tab, line feed and carriage return are
// written \\, \t, \n and \r, any other control character \xHH. An unknown number is
// answered "ERR - Page not found"; a store that cannot be read "ERR - Page store failed: "
// and the reason.

// Builds the bytes a sender writes: the head (Name and MessageLength filled in here,
// Name cut to 31 characters, the message cut to kMaxMessageLength), the text and its NUL.
inline std::vector<char> BuildRequest(RequestRecord head, std::string_view name, std::string_view message) {
  if (message.size() > static_cast<size_t>(kMaxMessageLength)) message = message.substr(0, kMaxMessageLength);
  head.RecordKind = 1;
  head.MessageLength = static_cast<int16_t>(message.size());
  CopyField(head.Name, name);
  std::vector<char> bytes(kRequestHeadSize + message.size() + 1, '\0');
  std::memcpy(bytes.data(), &head, kRequestHeadSize);
  std::memcpy(bytes.data() + kRequestHeadSize, message.data(), message.size());
  return bytes;
}

// The count of a list reply, 0 when the reply is too short to hold one.
inline int ListReplyCount(std::span<const char> reply) {
  if (reply.size() < kListNamesOffset) return 0;
  int16_t count = 0;
  std::memcpy(&count, reply.data() + kListCountOffset, sizeof count);
  return count;
}

// Name i of a list reply (empty past the reply's end).
inline std::string_view ListReplyName(std::span<const char> reply, int i) {
  const size_t at = kListNamesOffset + kListNameWidth * static_cast<size_t>(i);
  if (i < 0 || at + kListNameWidth > reply.size()) return {};
  const char* p = reply.data() + at;
  return std::string_view(p, strnlen(p, kListNameWidth));
}

// A page request's reply is "OK" when the page was taken; the message numbers the page got
// (one per piece, per group member, or the AT page's) follow its terminator as "#n" words
// separated by blanks, so a sender can ask what became of each, while a reader of the text
// alone still sees "OK". At most kMaxReplyNumbers are given.
constexpr size_t kMaxReplyNumbers = 200;

inline void AppendMessageNumbers(std::string& reply, std::span<const int32_t> numbers) {
  if (numbers.empty()) return;
  reply.push_back('\0');
  for (size_t i = 0; i < numbers.size() && i < kMaxReplyNumbers; ++i) {
    if (i > 0) reply.push_back(' ');
    reply += '#' + std::to_string(numbers[i]);
  }
}

// The numbers after a page reply's terminator (none when there is no terminator in reply).
inline std::vector<int32_t> ReplyMessageNumbers(std::span<const char> reply) {
  std::vector<int32_t> numbers;
  const std::string_view all(reply.data(), reply.size());
  const size_t end = all.find('\0');
  if (end == std::string_view::npos) return numbers;
  std::string_view rest = all.substr(end + 1);
  rest = rest.substr(0, rest.find('\0'));
  while (!rest.empty() && numbers.size() < kMaxReplyNumbers) {
    const size_t hash = rest.find('#');
    if (hash == std::string_view::npos) break;
    rest.remove_prefix(hash + 1);
    int32_t n = 0;
    const auto [stop, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (ec == std::errc() && stop != rest.data() && n > 0) numbers.push_back(n);
    rest.remove_prefix(static_cast<size_t>(stop - rest.data()));
  }
  return numbers;
}

}  // namespace common
