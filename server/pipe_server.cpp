// server/pipe_server.cpp - reading requests from the pipe, handling them, replying.
#include "server/pipe_server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/fixed_field.h"
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
      return -1;  // nothing queued, and the reply stays "OK"
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
    const int accepted = platform::PipeAccept(listener, conn);
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
      HandleMessage(state, buffer, static_cast<size_t>(got), realLength, reply);
      if (reply.size() > kReplyCapacity) reply.resize(kReplyCapacity);
      (void)platform::PipeSend(conn, reply);  // a client that did not wait for it is no concern
    }
  }
  return 0;
}

}  // namespace server
