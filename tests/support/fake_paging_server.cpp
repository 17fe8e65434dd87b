// tests/support/fake_paging_server.cpp
#include "tests/support/fake_paging_server.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/fixed_field.h"
#include "platform/pipe_endpoint.h"
#include "platform/tcp.h"
#include "tests/support/wait.h"

namespace testsupport {

namespace {

constexpr size_t kReceiveBytes = 65536;  // more than any client sends, so Bytes tells the truth

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

PipeRequest Parse(std::span<const char> buffer, size_t length) {
  PipeRequest r;
  r.Bytes = length;
  if (length < common::kRequestHeadSize) return r;
  std::memcpy(&r.Head, buffer.data(), common::kRequestHeadSize);
  r.Name = common::FieldText(r.Head.Name);
  const size_t text =
      std::min(length - common::kRequestHeadSize, static_cast<size_t>(std::max<int>(0, r.Head.MessageLength)));
  r.Message.assign(buffer.data() + common::kRequestHeadSize, text);
  return r;
}

std::vector<PipeRequest> PagesOf(const std::vector<PipeRequest>& requests) {
  std::vector<PipeRequest> pages;
  for (const PipeRequest& r : requests) {
    if (r.Bytes >= common::kRequestHeadSize && r.Type() == common::kPageRequest) pages.push_back(r);
  }
  return pages;
}

}  // namespace

std::string ListReply(const std::vector<std::string>& names, size_t first) {
  std::string reply(common::kListNamesOffset, '\0');
  std::memcpy(reply.data(), "OK", 3);
  int16_t count = 0;
  for (size_t i = first; i < names.size() && count < common::kListPageSize; ++i, ++count) {
    char slot[common::kListNameWidth] = {};
    common::CopyField(slot, names[i]);
    reply.append(slot, sizeof slot);
  }
  std::memcpy(reply.data() + common::kListCountOffset, &count, sizeof count);
  return reply;
}

void StandInDirectory::SetPersons(std::vector<std::string> names) {
  std::lock_guard lock(mutex_);
  persons_ = std::move(names);
}

void StandInDirectory::SetGroup(const std::string& name, std::vector<std::string> members) {
  std::lock_guard lock(mutex_);
  groupNames_.push_back(name);
  members_[Lower(name)] = std::move(members);
}

void StandInDirectory::ClearGroups() {
  std::lock_guard lock(mutex_);
  groupNames_.clear();
  members_.clear();
}

void StandInDirectory::SetStatusReport(std::string text) {
  std::lock_guard lock(mutex_);
  status_ = std::move(text);
}

void StandInDirectory::SetLogReport(std::string text) {
  std::lock_guard lock(mutex_);
  log_ = std::move(text);
}

void StandInDirectory::RefuseName(const std::string& name) {
  std::lock_guard lock(mutex_);
  refused_.insert(name);
}

void StandInDirectory::DropName(const std::string& name) {
  std::lock_guard lock(mutex_);
  dropped_.insert(name);
}

PipeReply StandInDirectory::Answer(const PipeRequest& r) const {
  if (r.Bytes < common::kRequestHeadSize) return std::string("ERR");  // no request at all
  std::lock_guard lock(mutex_);
  const size_t page = static_cast<size_t>(std::max<int>(0, r.Head.Parameter)) * common::kListPageSize;
  switch (r.Head.RequestType) {
    case common::kLogReport:
      return log_;
    case common::kStatusReport:
      return status_;
    case common::kListPersons:
      return ListReply(persons_, page);
    case common::kListGroups:
      return ListReply(groupNames_, page);
    case common::kListMembers: {
      const auto found = members_.find(Lower(r.Name));
      return ListReply(found == members_.end() ? std::vector<std::string>() : found->second);
    }
    default:
      if (dropped_.count(r.Name) != 0) return std::nullopt;
      if (refused_.count(r.Name) != 0) return std::string("ERR: Invalid name or Now queue is full");
      return std::string("OK");
  }
}

int DirectPagingServer::Call(std::span<const char> request, std::span<char> reply) {
  std::fill(reply.begin(), reply.end(), '\0');
  if (stopped_) return 1;
  const PipeRequest parsed = Parse(request, request.size());
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(parsed);
  }
  const PipeReply answer = rule_ ? rule_(parsed) : standIn_.Answer(parsed);
  if (!answer || reply.empty()) return 1;
  const size_t length = std::min(answer->size(), reply.size() - 1);  // NUL-terminated within the area
  std::copy_n(answer->begin(), length, reply.begin());
  return answer->rfind("OK", 0) == 0 ? 0 : 1;
}

std::vector<PipeRequest> DirectPagingServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<PipeRequest> DirectPagingServer::Pages() const { return PagesOf(Requests()); }

FakePagingServer::FakePagingServer(std::string path, PipeRule rule, int workers)
    : path_(std::move(path)), rule_(std::move(rule)) {
  if (platform::PipeListen(path_, listener_) != 0) return;
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this](std::stop_token stop) { Serve(stop); });
}

FakePagingServer::~FakePagingServer() { Stop(); }

void FakePagingServer::Stop() {
  if (stopped_.exchange(true)) return;
  for (std::jthread& worker : workers_) worker.request_stop();
  {
    std::lock_guard lock(mutex_);
    for (const platform::UniqueFd* conn : open_) platform::TcpShutdown(*conn);
  }
  platform::PipeStopAccepting(listener_);  // wakes each accept
  for (std::jthread& worker : workers_) worker.join();
  workers_.clear();
  listener_.Reset();
  std::remove(path_.c_str());
}

void FakePagingServer::Serve(std::stop_token stop) {
  while (!stop.stop_requested()) {
    platform::UniqueFd conn;
    if (platform::PipeAccept(listener_, conn) != 0) return;
    {
      std::lock_guard lock(mutex_);
      if (stop.stop_requested()) return;
      open_.insert(&conn);
    }
    ServeConnection(conn, stop);
    std::lock_guard lock(mutex_);
    open_.erase(&conn);
  }
}

void FakePagingServer::ServeConnection(const platform::UniqueFd& conn, std::stop_token stop) {
  std::vector<char> buffer(kReceiveBytes);
  while (!stop.stop_requested()) {
    size_t realLength = 0;
    const int n = platform::PipeReceive(conn, buffer, realLength);
    if (n <= 0) return;  // closed: also what a presence test does
    const PipeRequest request = Parse(buffer, static_cast<size_t>(n));
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    const PipeReply reply = rule_ ? rule_(request) : standIn_.Answer(request);
    if (!reply) return;
    (void)platform::PipeSend(conn, *reply);
  }
}

std::vector<PipeRequest> FakePagingServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<PipeRequest> FakePagingServer::Pages() const { return PagesOf(Requests()); }

void FakePagingServer::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

bool FakePagingServer::WaitForRequests(size_t count, int timeoutMs) const {
  return WaitUntil([&] { return Requests().size() >= count; }, timeoutMs);
}

}  // namespace testsupport
