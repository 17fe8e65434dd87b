// web/fake_paging_server.h - a stand-in for the paging server's pipe in corvweb's unit tests.
//
// Answers the request types the CGI sends (pages, reports, the three lists) from tables a
// test fills, records every request, and points CORVEL_PIPE at its own socket.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/request_record.h"
#include "platform/pipe_endpoint.h"

namespace web::testing {

struct ReceivedRequest {
  common::RequestRecord Head{};
  std::string Message;
  size_t Length = 0;
};

class FakePagingServer {
 public:
  std::vector<std::string> Persons;
  std::vector<std::string> Groups;
  std::vector<std::string> Members;       // of any group asked for
  std::string StatusText = "Paging Server Status\n";
  std::string LogText = "log text\n";
  std::string RefusedName = "Nobody";      // pages for it get "ERR: Invalid name..."
  bool RepeatFullPages = false;            // every list page comes back full

  explicit FakePagingServer(const std::string& path) : path_(path) {
    ::setenv("CORVEL_PIPE", path.c_str(), 1);
    if (platform::PipeListen(path, listener_) != 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakePagingServer() {
    stop_ = true;
    (void)platform::PipeAnswers(path_);  // wakes the accept with a connection that says nothing
    if (thread_.joinable()) thread_.join();
    ::unsetenv("CORVEL_PIPE");
  }
  FakePagingServer(const FakePagingServer&) = delete;
  FakePagingServer& operator=(const FakePagingServer&) = delete;

  std::vector<ReceivedRequest> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  std::string ListReply(const std::vector<std::string>& names, int page, bool paged) {
    std::string reply(common::kListNamesOffset, '\0');
    std::memcpy(reply.data(), "OK", 3);
    int16_t count = 0;
    const size_t first = paged ? static_cast<size_t>(page) * common::kListPageSize : 0;
    for (size_t i = first; (RepeatFullPages || i < names.size()) && count < common::kListPageSize; ++i) {
      char slot[common::kListNameWidth] = {};
      common::CopyField(slot, RepeatFullPages ? "Repeat" : names[i]);
      reply.append(slot, sizeof slot);
      ++count;
    }
    std::memcpy(reply.data() + common::kListCountOffset, &count, sizeof count);
    return reply;
  }

  std::string Answer(const ReceivedRequest& r) {
    switch (r.Head.RequestType) {
      case common::kLogReport: return LogText;
      case common::kStatusReport: return StatusText;
      case common::kListPersons: return ListReply(Persons, r.Head.Parameter, true);
      case common::kListGroups: return ListReply(Groups, r.Head.Parameter, true);
      case common::kListMembers: return ListReply(Members, 0, false);
      default:
        return common::FieldText(r.Head.Name) == RefusedName ? "ERR: Invalid name or Now queue is full" : "OK";
    }
  }

  void Serve() {
    while (!stop_) {
      platform::UniqueFd conn;
      if (platform::PipeAccept(listener_, conn) != 0) return;
      char buf[common::kMaxRequestBytes];
      size_t real = 0;
      const int n = platform::PipeReceive(conn, buf, real);
      if (n < static_cast<int>(common::kRequestHeadSize)) continue;
      ReceivedRequest r;
      std::memcpy(&r.Head, buf, common::kRequestHeadSize);
      r.Length = static_cast<size_t>(n);
      r.Message.assign(buf + common::kRequestHeadSize, strnlen(buf + common::kRequestHeadSize, n - common::kRequestHeadSize));
      const std::string reply = Answer(r);
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(r);
      }
      (void)platform::PipeSend(conn, reply);
    }
  }

  std::string path_;
  platform::UniqueFd listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
};

}  // namespace web::testing
