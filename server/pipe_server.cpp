// server/pipe_server.cpp - reading requests from the pipe, handling them, replying.
#include "server/pipe_server.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "common/fixed_field.h"
#include "common/format_text.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "platform/clock.h"
#include "platform/pipe_endpoint.h"
#include "server/at_queue.h"
#include "server/counters.h"
#include "server/reports.h"

namespace server {
namespace {

constexpr size_t kLoggedReply = 40;  // enough of a reply to tell OK from an error

void SetText(std::string& reply, std::string_view text) { reply.assign(text); }

void StartList(std::string& reply) {
  reply.assign(common::kListNamesOffset, '\0');
  reply.replace(0, 2, "OK");
}

void AddListName(std::string& reply, std::string_view name) {
  char slot[common::kListNameWidth];
  common::CopyField(slot, name);  // longer names are cut to 31 characters
  reply.append(slot, sizeof slot);
}

void FinishList(std::string& reply) {
  const int16_t count = static_cast<int16_t>((reply.size() - common::kListNamesOffset) / common::kListNameWidth);
  std::memcpy(reply.data() + common::kListCountOffset, &count, sizeof count);
}

void ApplyYearRule(common::RequestRecord& request) {
  if (request.Year < 1900) request.Year = static_cast<uint16_t>(request.Year + 1900);
  if (request.Year < 1997) request.Year = static_cast<uint16_t>(request.Year + 100);
}

int DaysInMonth(int month, int year) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Why a request's schedule cannot be what its sender meant, or nothing when it can. A page
// for a time that never comes (month 200, hour 250) would sit in the AT table unseen, an
// unknown time mode would be answered OK with nothing queued, and a delete without a name
// would match every AT page: each is refused instead. Zero fields of a delete match
// anything, so zero is allowed there.
std::optional<std::string> ScheduleFault(common::RequestRecord request) {
  ApplyYearRule(request);
  const int minute = request.Minute, hour = request.Hour, day = request.Day, month = request.Month;
  if (request.RequestType == common::kDeleteAt) {
    if (request.Name[0] == '\0') return "a delete must name a person or pager ID";
    if (minute < 0 || minute > 59 || hour > 23 || day > 31 || month > 12)
      return common::FormatText("no such time %d-%d-%d %d:%02d", request.Year, month, day, hour, minute);
    return std::nullopt;
  }
  if (request.RequestType > common::kPageAsGiven) return std::nullopt;
  switch (request.TimeMode) {
    case 0:
      return std::nullopt;
    case 1:
      if (minute < 0 || minute > 59 || hour > 23 || month < 1 || month > 12 || day < 1 ||
          day > DaysInMonth(month, request.Year))
        return common::FormatText("no such time %d-%d-%d %d:%02d", request.Year, month, day, hour, minute);
      return std::nullopt;
    case 2:
      if (minute < 0) return common::FormatText("negative delay %d", minute);
      return std::nullopt;
    default:
      return common::FormatText("unknown time mode %d", static_cast<int>(request.TimeMode));
  }
}

}  // namespace

int HandleRequest(core::ServerState& state, std::string& reply, common::RequestRecord& request, const char* name,
                  const char* message, std::vector<int32_t>* numbers) {
  if (!name || !message) return -1;
  common::DebugLine("\n%s:%s\n", name, message);
  SetText(reply, "OK");
  ApplyYearRule(request);
  const auto dir = core::CurrentDirectory(state);
  const std::optional<std::string> personId = dir->PageIdOfPerson(name);
  std::string pageId;
  switch (request.RequestType) {
    case common::kPageKnownPerson:
      if (!personId) {
        SetText(reply, "ERR - Name not valid");
        ++state.UnknownNameCount;
        return -1;
      }
      pageId = *personId;
      break;
    case common::kLogReport:
      reply = LogReport(state, request.Parameter);
      return 0;
    case common::kStatusReport:
      reply = StatusReport(state, request.Parameter);
      return 0;
    case common::kDeleteAt:
      pageId = personId ? *personId : std::string(name);
      if (DeleteAt(state, name, pageId.c_str(), request.Minute, request.Hour, request.Day, request.Month,
                   request.Year) != 0) {
        SetText(reply, std::string(kErrNotRecorded) + "AT pages not deleted");
        return core::kNotRecorded;
      }
      return 0;
    case common::kPageRequest:
      pageId = personId ? *personId : std::string(name);
      break;
    default:  // kPageAsGiven
      pageId = name;
      break;
  }
  int result = -1;
  std::string cause;
  switch (request.TimeMode) {
    case 0:
      result = core::InsertNow(state, *state.Main, name, message, true, 0, &cause, numbers);
      if (result == core::kNotRecorded) {
        SetText(reply, kErrNotRecorded + cause);
      } else if (result < 0) {
        SetText(reply, "ERR: Invalid name or Now queue is full");
      }
      if (result >= 0) ++state.PagesAccepted;
      return result;
    case 1:
      result = ScheduleAt(state, name, pageId.c_str(), message, request.Minute, request.Hour, request.Day,
                          request.Month, request.Year, &cause, numbers);
      break;
    case 2:
      result = ScheduleAfter(state, name, pageId.c_str(), message, request.Minute, &cause, numbers);
      break;
    default:
      SetText(reply, kErrBadTime);  // HandleMessage refuses these before they get here
      return -1;
  }
  if (result == core::kNotRecorded) {
    SetText(reply, kErrNotRecorded + cause);
  } else if (result < 0) {
    SetText(reply, "ERR: At queue is full");
  }
  if (result >= 0) ++state.PagesAccepted;
  return result;
}

void ListPersons(core::ServerState& state, std::string& reply, int page) {
  StartList(reply);
  const auto dir = core::CurrentDirectory(state);
  if (page >= 0) {
    const long first = static_cast<long>(page) * common::kListPageSize;
    for (long i = first; i < first + common::kListPageSize && i < dir->PersonCount; ++i) {
      const directory::PersonRecord& person = dir->Persons[static_cast<size_t>(i)];
      if (!person.SuppressNameDisplay) AddListName(reply, person.Name);
    }
  }
  FinishList(reply);
}

void ListGroups(core::ServerState& state, std::string& reply, int page) {
  StartList(reply);
  const auto dir = core::CurrentDirectory(state);
  if (page >= 0) {
    const long first = static_cast<long>(page) * common::kListPageSize;
    for (long i = first; i < first + common::kListPageSize && i < dir->GroupCount; ++i) {
      AddListName(reply, dir->Groups[static_cast<size_t>(i)].Name);
    }
  }
  FinishList(reply);
}

void ListMembers(core::ServerState& state, std::string& reply, const char* groupName) {
  StartList(reply);
  const auto dir = core::CurrentDirectory(state);
  const int g = groupName ? dir->FindGroup(groupName) : -1;
  if (g >= 0) {
    int n = 0;
    for (const std::string& member : directory::GroupMembers(dir->Groups[static_cast<size_t>(g)])) {
      if (n++ == common::kListPageSize) break;
      AddListName(reply, member);
    }
  }
  FinishList(reply);
}

namespace {

// The request for its recipient, or for each member of a group, collecting the numbers given.
void HandleRecipients(core::ServerState& state, std::string& reply, common::RequestRecord& request, const char* message,
                      std::vector<int32_t>& numbers) {
  const auto dir = core::CurrentDirectory(state);
  const int g = dir->FindGroup(request.Name);
  if (g < 0) {
    HandleRequest(state, reply, request, request.Name, message, &numbers);
    return;
  }
  // A private copy of the members: the handler may run while a reload swaps the directory.
  const std::vector<std::string> members = directory::GroupMembers(dir->Groups[static_cast<size_t>(g)]);
  if (members.empty()) {
    // A group without members is answered like an unknown name.
    if (request.RequestType == common::kPageKnownPerson) {
      SetText(reply, "ERR - Name not valid");
      ++state.UnknownNameCount;
    } else if (request.RequestType <= common::kPageAsGiven) {
      common::LogLine("%t %s: Error - %s not found in paging list\n", common::ProgramName(),
                      common::Outside(request.Name));
      SetText(reply, "ERR: Invalid name or Now queue is full");
    } else {
      HandleRequest(state, reply, request, request.Name, message, &numbers);
    }
    return;
  }
  for (const std::string& member : members) HandleRequest(state, reply, request, member.c_str(), message, &numbers);
}

}  // namespace

void HandleMessage(core::ServerState& state, std::span<char> buffer, size_t length, size_t realLength,
                   std::string& reply) {
  // Bad records are refused before anything is counted or queued.
  if (realLength > common::kMaxRequestBytes || length > common::kMaxRequestBytes) {
    SetText(reply, kErrTooLong);
    return;
  }
  if (length < common::kRequestHeadSize || buffer.size() <= common::kMaxRequestBytes) {
    SetText(reply, kErrTooShort);
    return;
  }
  common::RequestRecord request;
  std::memcpy(&request, buffer.data(), sizeof request);
  if (request.MessageLength < 0 || request.MessageLength > common::kMaxMessageLength) {
    SetText(reply, kErrBadLength);
    return;
  }
  if (request.RequestType == common::kCounters) {
    ++state.RequestCount;
    reply = CountersReply(state, kReplyCapacity);
    return;
  }
  if (request.RequestType < 0 || request.RequestType > common::kPageRecord) {
    SetText(reply, kErrBadType);
    return;
  }
  ++state.RequestCount;
  char* message = buffer.data() + common::kRequestHeadSize;
  message[request.MessageLength] = '\0';
  request.Name[sizeof request.Name - 1] = '\0';

  switch (request.RequestType) {
    case common::kListPersons:
      ListPersons(state, reply, request.Parameter);
      return;
    case common::kListGroups:
      ListGroups(state, reply, request.Parameter);
      return;
    case common::kListMembers:
      ListMembers(state, reply, request.Name);
      return;
    case common::kPageRecord:
      reply = core::PageRecordReply(state, request.Minute);
      return;
    default:
      break;
  }
  if (const std::optional<std::string> fault = ScheduleFault(request)) {
    common::LogLine("%t %s: Error - Request for '%s' refused - %s\n", common::ProgramName(),
                    common::Outside(request.Name), *fault);
    SetText(reply, request.RequestType == common::kDeleteAt && request.Name[0] == '\0' ? kErrNoName : kErrBadTime);
    return;
  }
  std::vector<int32_t> numbers;
  HandleRecipients(state, reply, request, message, numbers);
  if (reply == "OK") common::AppendMessageNumbers(reply, numbers);
}

int PipeServerThread(core::ServerState& state, const platform::UniqueFd& listener, std::stop_token stop) {
  common::DebugLine("NamePipe Thread started\n");
  std::string reply;
  reply.reserve(kReplyCapacity);
  std::vector<char> buffer(common::kMaxRequestBytes + 1);
  while (!stop.stop_requested()) {
    platform::UniqueFd conn;
    // A connection that stays silent past the deadline is dropped, so idle clients cannot
    // hold the ten threads and jam the pipe for everyone else.
    const int accepted = platform::PipeAccept(listener, conn, platform::kPipeReceiveDeadlineMs);
    if (stop.stop_requested()) return 0;
    if (accepted != 0) {
      if (accepted == -EINTR || accepted == -ECONNABORTED) continue;
      common::LogLine("%t Error: ConnectNamedPipe(ReceiveThread)=%d\n", -accepted);
      if (accepted == -EBADF || accepted == -EINVAL || accepted == -ENOTSOCK) return kPipeBroken;
      platform::SleepMs(100);  // out of descriptors and the like: try again shortly
      continue;
    }
    for (;;) {
      std::fill(buffer.begin(), buffer.end(), '\0');
      size_t realLength = 0;
      const int got = platform::PipeReceive(conn, std::span<char>(buffer.data(), common::kMaxRequestBytes), realLength);
      if (got == 0) break;  // the client closed its end: wait for the next one
      if (got < 0) {
        if (state.Debug) common::WriteConsole(common::FormatText("Error: ReadFile = %d ", -got));
        if (got == -EINTR || got == -EAGAIN) continue;
        break;
      }
      if (platform::PipePeerGone(conn)) {
        // Its client gave up waiting before the request was read and has told its sender it
        // failed; queuing it now would page a second time when the sender tries again.
        const std::string name =
            got >= static_cast<int>(common::kRequestHeadSize)
                ? common::FieldText(std::span<const char>(buffer.data() + offsetof(common::RequestRecord, Name),
                                                          sizeof(common::RequestRecord::Name) - 1))
                : std::string();
        common::LogLine("%t %s: Error - Request for '%s' not served: its client gave up before it was read\n",
                        common::ProgramName(), common::Outside(name));
        break;
      }
      HandleMessage(state, buffer, static_cast<size_t>(got), realLength, reply);
      if (reply.size() > kReplyCapacity) reply.resize(kReplyCapacity);
      // A client that went away meanwhile never hears the reply; the log tells what it missed.
      if (platform::PipeSend(conn, reply) != 0)
        common::LogLine("%t %s: Error - Reply \"%s\" to a request could not be sent: its client is gone\n",
                        common::ProgramName(),
                        common::Outside(reply.substr(0, std::min(reply.find('\0'), kLoggedReply))));
    }
  }
  return 0;
}

}  // namespace server
