// corvadmin - one request on the paging server's pipe, its reply on stdout.
//
// The pipe is the one every front end uses (CORVEL_PIPE, else /tmp/corvel/CORVD). Exit
// status: 0 reply received (and, for pages and deletes, it began with "OK"), 1 the reply
// refused the request, 2 bad arguments, 3 no server or no reply.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/request_record.h"
#include "platform/pipe_endpoint.h"

namespace {

constexpr size_t kReplyCapacity = 20000;  // the server's reply buffer
constexpr int kWaitMs = 10000;

int Usage() {
  std::fputs(
      "usage: corvadmin COMMAND ...\n"
      "  page NAME MESSAGE...              page now (person, pager ID or group)\n"
      "  known NAME MESSAGE...             page now, NAME must be a person\n"
      "  asgiven ID MESSAGE...             page now, ID used as the pager ID\n"
      "  at NAME YYYY-MM-DD HH:MM MESSAGE... page at a local date and time\n"
      "  after NAME MINUTES MESSAGE...     page after a delay\n"
      "  delete NAME YYYY-MM-DD HH:MM      delete AT pages (0 fields and year 2000 match all;\n"
      "                                    NAME \"\" matches every recipient)\n"
      "  status [FLAG]                     status report (FLAG > 0 lists every page)\n"
      "  log [PAGE]                        1600 bytes of log.txt, page 0 the newest\n"
      "  persons [PAGE] | groups [PAGE]    one page of 50 names\n"
      "  members GROUP                     the members of a group\n"
      "  status-of NUMBER                  what became of page NUMBER (one line of key=value\n"
      "                                    fields, separated by tabs)\n",
      stderr);
  return 2;
}

bool ParseNumber(const char* text, long& out) {
  char* end = nullptr;
  out = std::strtol(text, &end, 10);
  return end != text && *end == '\0';
}

bool ParseWhen(const char* date, const char* time, common::RequestRecord& head) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  if (std::sscanf(date, "%d-%d-%d", &year, &month, &day) != 3) return false;
  if (std::sscanf(time, "%d:%d", &hour, &minute) != 2) return false;
  if (year < 0 || year > 65535 || month < 0 || month > 12 || day < 0 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59) {
    return false;
  }
  head.Year = static_cast<uint16_t>(year);
  head.Month = static_cast<uint8_t>(month);
  head.Day = static_cast<uint8_t>(day);
  head.Hour = static_cast<uint8_t>(hour);
  head.Minute = minute;
  return true;
}

std::string JoinWords(int argc, char** argv, int from) {
  std::string text;
  for (int i = from; i < argc; ++i) {
    if (i > from) text += ' ';
    text += argv[i];
  }
  return text;
}

}  // namespace

// A request as the command line asks for it.
struct Command {
  common::RequestRecord head{};
  std::string name;
  std::string message;
  bool isList = false;
  bool wantsOk = true;
};

// The command and its arguments as a request; false for a command line that does not fit.
bool ParseCommand(int argc, char** argv, Command& c) {
  const std::string_view command = argv[1];
  long number = 0;
  if (command == "page" || command == "known" || command == "asgiven") {
    if (argc < 4) return false;
    c.head.RequestType = command == "page"    ? common::kPageRequest
                         : command == "known" ? common::kPageKnownPerson
                                              : common::kPageAsGiven;
    c.name = argv[2];
    c.message = JoinWords(argc, argv, 3);
  } else if (command == "at") {
    if (argc < 6 || !ParseWhen(argv[3], argv[4], c.head)) return false;
    c.head.RequestType = common::kPageRequest;
    c.head.TimeMode = 1;
    c.name = argv[2];
    c.message = JoinWords(argc, argv, 5);
  } else if (command == "after") {
    if (argc < 5 || !ParseNumber(argv[3], number)) return false;
    c.head.RequestType = common::kPageRequest;
    c.head.TimeMode = 2;
    c.head.Minute = static_cast<int32_t>(number);
    c.name = argv[2];
    c.message = JoinWords(argc, argv, 4);
  } else if (command == "delete") {
    if (argc != 5 || !ParseWhen(argv[3], argv[4], c.head)) return false;
    c.head.RequestType = common::kDeleteAt;
    c.name = argv[2];
  } else if (command == "status" || command == "log" || command == "persons" || command == "groups") {
    if (argc > 3 || (argc == 3 && !ParseNumber(argv[2], number))) return false;
    c.head.Parameter = static_cast<int16_t>(number);
    c.head.RequestType = command == "status"    ? common::kStatusReport
                         : command == "log"     ? common::kLogReport
                         : command == "persons" ? common::kListPersons
                                                : common::kListGroups;
    c.isList = c.head.RequestType == common::kListPersons || c.head.RequestType == common::kListGroups;
    c.wantsOk = c.isList;
  } else if (command == "status-of") {
    if (argc != 3 || !ParseNumber(argv[2], number) || number < 0 || number > INT32_MAX) return false;
    c.head.RequestType = common::kPageRecord;
    c.head.Minute = static_cast<int32_t>(number);
  } else if (command == "members") {
    if (argc != 3) return false;
    c.head.RequestType = common::kListMembers;
    c.name = argv[2];
    c.isList = true;
  } else {
    return false;
  }
  return true;
}

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  Command parsed;
  if (!ParseCommand(argc, argv, parsed)) return Usage();
  common::RequestRecord& head = parsed.head;
  const std::string& name = parsed.name;
  const std::string& message = parsed.message;
  const bool isList = parsed.isList;
  const bool wantsOk = parsed.wantsOk;
  if (name.size() > 31) {
    std::fprintf(stderr, "corvadmin: the name is longer than 31 characters\n");
    return 2;
  }

  const std::vector<char> request = common::BuildRequest(head, name, message);
  std::vector<char> reply(kReplyCapacity);
  const int n = platform::PipeTransact(platform::PipePath(), request, reply, kWaitMs);
  if (n < 0) {
    std::fprintf(stderr, "corvadmin: no reply from the paging server on %s (%s)\n", platform::PipePath().c_str(),
                 std::strerror(-n));
    return 3;
  }
  const std::span<const char> got(reply.data(), static_cast<size_t>(n));
  if (isList) {
    const int count = common::ListReplyCount(got);
    for (int i = 0; i < count; ++i)
      std::printf("%.*s\n", static_cast<int>(common::ListReplyName(got, i).size()),
                  common::ListReplyName(got, i).data());
    return 0;
  }
  std::span<const char> shown = got;
  // A page record is "OK", a line feed and the fields: the fields are what is asked for.
  if (head.RequestType == common::kPageRecord && got.size() >= 3 && got[0] == 'O' && got[1] == 'K' && got[2] == '\n')
    shown = got.subspan(3);
  // A page reply's numbers follow its terminator: shown after the text as "OK #12 #13".
  const std::vector<int32_t> numbers = common::ReplyMessageNumbers(shown);
  if (!numbers.empty()) shown = shown.first(strnlen(shown.data(), shown.size()));
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  for (const int32_t number : numbers) std::printf(" #%d", static_cast<int>(number));
  if (shown.empty() || shown.back() != '\n' || !numbers.empty()) std::fputc('\n', stdout);
  const bool ok = got.size() >= 2 && got[0] == 'O' && got[1] == 'K';
  return (!wantsOk || ok) ? 0 : 1;
}
