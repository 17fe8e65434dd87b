// tests/support/fake_paging_server.h - a stand-in for the paging server's request pipe.
//
// A pipe server on a path of the test's own that records every request and answers each
// by a rule the test gives. The ready-made rule, StandInDirectory, answers the way corvd32
// does from a few tables: "OK" for a page (or the refusal for the names it is told to
// refuse), the report texts for types 3 and 4, list pages of 50 names for types 6, 7 and 8.
// The fake never touches CORVEL_PIPE: the test points its programs at Path() itself, so
// nothing reaches a paging server that happens to run on the machine.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/request_record.h"
#include "platform/unique_fd.h"

namespace testsupport {

// One request as it arrived.
struct PipeRequest {
  common::RequestRecord Head{};  // zero when the request was shorter than a head
  std::string Name;              // Head.Name as text
  std::string Message;           // the MessageLength bytes of text after the head (as many as came)
  size_t Bytes = 0;              // the request's length on the wire
  int Type() const { return Head.RequestType; }
};

// The answer to a request: the reply's bytes, or nothing, which closes the connection
// unanswered (a paging server that goes away in the middle of a request).
using PipeReply = std::optional<std::string>;
using PipeRule = std::function<PipeReply(const PipeRequest&)>;

// A list reply as corvd32 sends one: "OK", the count at offset 16 and up to 50 names of 32
// bytes each from offset 18, taken from names[first...].
std::string ListReply(const std::vector<std::string>& names, size_t first = 0);

// The tables of a small directory and the answers corvd32 gives from them. Safe to change
// while a server answers from it.
class StandInDirectory {
 public:
  void SetPersons(std::vector<std::string> names);
  // Adds a group (listed in the order added); members are found by its name in any case.
  void SetGroup(const std::string& name, std::vector<std::string> members);
  void ClearGroups();
  void SetStatusReport(std::string text);
  void SetLogReport(std::string text);
  void RefuseName(const std::string& name);  // its pages get "ERR: Invalid name or Now queue is full"
  void DropName(const std::string& name);    // its pages get no reply at all

  PipeReply Answer(const PipeRequest& request) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> persons_;
  std::vector<std::string> groupNames_;
  std::map<std::string, std::vector<std::string>> members_;  // by lower-case group name
  std::set<std::string> refused_;
  std::set<std::string> dropped_;
  std::string status_ = "Corvel.  Version 1.8 Rev 5\n\nNOW Queue is Empty\n\nAT Queue is Empty\n";
  std::string log_ = "No data in log file\n";
};

// The same stand-in without a socket, for code that is handed the pipe as a callable: Call
// answers as common::CallPagingServer does (the reply cleared, then filled; 0 when it begins
// with "OK"), by rule or by the StandIn() directory, and records every request.
class DirectPagingServer {
 public:
  explicit DirectPagingServer(PipeRule rule = nullptr) : rule_(std::move(rule)) {}
  StandInDirectory& StandIn() { return standIn_; }

  int Call(std::span<const char> request, std::span<char> reply);
  // From now on every call fails with a cleared reply, as when no paging server runs.
  void Stop() { stopped_ = true; }

  std::vector<PipeRequest> Requests() const;
  std::vector<PipeRequest> Pages() const;  // the type-0 requests

 private:
  PipeRule rule_;
  StandInDirectory standIn_;
  std::atomic<bool> stopped_{false};
  mutable std::mutex mutex_;
  std::vector<PipeRequest> requests_;
};

class FakePagingServer {
 public:
  // Listens on path with workers threads, each serving one client at a time, and answers by
  // rule; without one, by its own StandIn() directory.
  explicit FakePagingServer(std::string path, PipeRule rule = nullptr, int workers = 4);
  ~FakePagingServer();
  FakePagingServer(const FakePagingServer&) = delete;
  FakePagingServer& operator=(const FakePagingServer&) = delete;

  bool Listening() const { return listener_.Valid(); }
  const std::string& Path() const { return path_; }
  StandInDirectory& StandIn() { return standIn_; }

  // Stops serving, joins every worker and removes the socket file, so the paging server is
  // "not running": a client's next request fails at once.
  void Stop();

  std::vector<PipeRequest> Requests() const;
  std::vector<PipeRequest> Pages() const;  // the type-0 requests
  void ClearRequests();
  // Waits (at most timeoutMs) until count requests have arrived. True when they have.
  bool WaitForRequests(size_t count, int timeoutMs) const;

 private:
  void Serve(std::stop_token stop);
  void ServeConnection(const platform::UniqueFd& conn, std::stop_token stop);

  std::string path_;
  PipeRule rule_;
  StandInDirectory standIn_;
  platform::UniqueFd listener_;
  std::atomic<bool> stopped_{false};
  mutable std::mutex mutex_;
  std::vector<PipeRequest> requests_;
  std::set<const platform::UniqueFd*> open_;  // connections being served, woken by Stop
  std::vector<std::jthread> workers_;         // last: they go before what they use
};

}  // namespace testsupport
