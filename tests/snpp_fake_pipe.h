// tests/snpp_fake_pipe.h - a small stand-in for the paging server's pipe, for the SNPP tests.
//
// It answers the requests the SNPP server sends as the paging server does: "OK" for a page
// (or the queue-full error for the names it is told to refuse), the report texts it is given
// for types 3 and 4, and list replies of 50 names a page for types 6, 7 and 8. It records
// every request, so a test can see exactly what reached the "paging server".
#pragma once

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/request_record.h"
#include "platform/pipe_endpoint.h"

namespace snpptest {

struct SeenRequest {
  int Type = -1;
  int Parameter = 0;
  int TimeMode = 0;
  int MessageLength = 0;
  std::string Name;
  std::string Message;
  size_t Bytes = 0;
};

class FakePagingServer {
 public:
  // Listens on path with threads workers (each serves one client at a time).
  explicit FakePagingServer(std::string path, int threads = 4) : path_(std::move(path)) {
    if (platform::PipeListen(path_, listener_) != 0) return;
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Serve(); });
  }
  ~FakePagingServer() { Stop(); }
  FakePagingServer(const FakePagingServer&) = delete;
  FakePagingServer& operator=(const FakePagingServer&) = delete;

  bool Listening() const { return listener_.Valid(); }

  // Stops serving and removes the socket file, so the paging server is "not running".
  void Stop() {
    if (stopping_.exchange(true)) return;
    for (size_t i = 0; i < workers_.size(); ++i) (void)platform::PipeAnswers(path_);  // wake each accept
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    listener_.Reset();
    std::remove(path_.c_str());
  }

  void SetPersons(std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    persons_ = std::move(names);
  }
  void SetGroup(const std::string& name, std::vector<std::string> members) {
    std::lock_guard lock(mutex_);
    groupNames_.push_back(name);
    groups_[Lower(name)] = std::move(members);
  }
  void ClearGroups() {
    std::lock_guard lock(mutex_);
    groupNames_.clear();
    groups_.clear();
  }
  void SetStatusReport(std::string text) {
    std::lock_guard lock(mutex_);
    status_ = std::move(text);
  }
  void SetLogReport(std::string text) {
    std::lock_guard lock(mutex_);
    log_ = std::move(text);
  }
  // List requests answered with an error text instead of a list reply.
  void FailLists(bool fail) { failLists_ = fail; }
  void RefuseName(const std::string& name) {
    std::lock_guard lock(mutex_);
    refused_.insert(name);
  }

  std::vector<SeenRequest> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::vector<SeenRequest> Pages() const {
    std::vector<SeenRequest> pages;
    for (const SeenRequest& r : Requests()) {
      if (r.Type == common::kPageRequest) pages.push_back(r);
    }
    return pages;
  }
  size_t PageCount() const { return pageCount_.load(); }
  void ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }

  static std::vector<char> ListReply(const std::vector<std::string>& names, size_t first) {
    std::vector<char> reply(common::kListNamesOffset, '\0');
    std::memcpy(reply.data(), "OK", 3);
    int16_t count = 0;
    for (size_t i = first; i < names.size() && count < common::kListPageSize; ++i, ++count) {
      char slot[common::kListNameWidth] = {};
      common::CopyField(slot, names[i]);
      reply.insert(reply.end(), slot, slot + sizeof slot);
    }
    std::memcpy(reply.data() + common::kListCountOffset, &count, sizeof count);
    return reply;
  }

  std::vector<char> Answer(const std::vector<char>& request, size_t length) {
    SeenRequest seen;
    seen.Bytes = length;
    common::RequestRecord head{};
    if (length < common::kRequestHeadSize) return {'E', 'R', 'R'};
    std::memcpy(&head, request.data(), sizeof head);
    seen.Type = head.RequestType;
    seen.Parameter = head.Parameter;
    seen.TimeMode = head.TimeMode;
    seen.MessageLength = head.MessageLength;
    seen.Name = common::FieldText(head.Name);
    const size_t textEnd = std::min(length, common::kRequestHeadSize + static_cast<size_t>(std::max<int>(0, head.MessageLength)));
    seen.Message.assign(request.data() + common::kRequestHeadSize, request.data() + textEnd);

    std::lock_guard lock(mutex_);
    requests_.push_back(seen);
    auto text = [](const std::string& s) { return std::vector<char>(s.begin(), s.end()); };
    if (failLists_ && head.RequestType >= common::kListPersons) return text("ERR");
    switch (head.RequestType) {
      case common::kPageRequest:
        ++pageCount_;
        if (refused_.count(seen.Name) != 0) return text("ERR: Invalid name or Now queue is full");
        return text("OK");
      case common::kLogReport:
        return text(log_);
      case common::kStatusReport:
        return text(status_);
      case common::kListPersons:
        return ListReply(persons_, static_cast<size_t>(std::max<int>(0, head.Parameter)) * common::kListPageSize);
      case common::kListGroups:
        return ListReply(groupNames_, static_cast<size_t>(std::max<int>(0, head.Parameter)) * common::kListPageSize);
      case common::kListMembers: {
        const auto found = groups_.find(Lower(seen.Name));
        return ListReply(found == groups_.end() ? std::vector<std::string>() : found->second, 0);
      }
      default:
        return text("OK");
    }
  }

  void Serve() {
    std::vector<char> buffer(common::kMaxRequestBytes);
    while (!stopping_) {
      platform::UniqueFd conn;
      if (platform::PipeAccept(listener_, conn) != 0) return;
      while (!stopping_) {
        size_t realLength = 0;
        const int n = platform::PipeReceive(conn, buffer, realLength);
        if (n <= 0) break;
        const std::vector<char> reply = Answer(buffer, static_cast<size_t>(n));
        if (!reply.empty()) (void)platform::PipeSend(conn, reply);
      }
    }
  }

  std::string path_;
  platform::UniqueFd listener_;
  std::vector<std::thread> workers_;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> pageCount_{0};
  std::atomic<bool> failLists_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> persons_;
  std::vector<std::string> groupNames_;
  std::map<std::string, std::vector<std::string>> groups_;
  std::set<std::string> refused_;
  std::string status_ = "Corvel.  Version 1.8 Rev 5\n\nNOW Queue is Empty\n\nAT Queue is Empty\n";
  std::string log_ = "No data in log file\n";
  std::vector<SeenRequest> requests_;
};

}  // namespace snpptest
