// common/pipe_client.cpp
#include "common/pipe_client.h"

#include <cstring>

#include "common/log.h"
#include "platform/clock.h"
#include "platform/pipe_endpoint.h"

namespace common {

namespace {
constexpr size_t kReplyCapacity = 3100;
constexpr size_t kClearedBytes = 3000;
constexpr int kWaitPolls = 120;
constexpr int kPollMs = 2000;
}  // namespace

std::string PagingServerPipePath(std::string_view hostName, bool& remote) {
  remote = !(hostName.empty() || hostName == ".");
  return remote ? std::string() : platform::PipePath();
}

int CallPagingServer(std::span<const char> request, std::span<char> reply) {
  if (reply.empty()) return 1;
  std::memset(reply.data(), 0, std::min(reply.size(), kClearedBytes));
  // Up to 3100 bytes are taken, with one byte of the caller's area kept for a terminator.
  const size_t capacity = std::min(reply.size() - 1, kReplyCapacity);
  size_t realLength = 0;
  const int n = platform::PipeTransact(platform::PipePath(), request, reply.subspan(0, capacity), kPipeWaitMs,
                                       platform::kPipeReplyWaitMs, &realLength);
  if (n <= 0) return 1;
  reply[static_cast<size_t>(n)] = '\0';
  // A reply longer than the capacity fails here; what fitted stays for the caller to relay.
  if (realLength > capacity) return 1;
  return (n >= 2 && reply[0] == 'O' && reply[1] == 'K') ? 0 : 1;
}

int CallPagingServerLarge(std::span<const char> request, std::span<char> reply) {
  if (reply.empty()) return 1;
  std::memset(reply.data(), 0, reply.size());
  size_t realLength = 0;
  const int n = platform::PipeTransact(platform::PipePath(), request, reply.subspan(0, reply.size() - 1), kPipeWaitMs,
                                       platform::kPipeReplyWaitMs, &realLength);
  if (n <= 0 || realLength > reply.size() - 1) return 1;
  reply[static_cast<size_t>(n)] = '\0';
  return (n >= 2 && reply[0] == 'O' && reply[1] == 'K') ? 0 : 1;
}

int CallPagingServerCgi(std::string_view hostName, std::span<const char> request, std::span<char> reply, int& bytesRead,
                        bool& remote) {
  bytesRead = 0;
  const std::string path = PagingServerPipePath(hostName, remote);
  if (remote || reply.empty()) return 1;
  const size_t capacity = std::min(reply.size() - 1, kReplyCapacity);
  // A reply longer than the area (a long status report) is cut to it: 3000 bytes or more
  // count as success, and the view shows what fitted.
  const int n = platform::PipeTransact(path, request, reply.subspan(0, capacity), kPipeWaitMs);
  if (n <= 0) return 1;
  bytesRead = n;
  reply[static_cast<size_t>(n)] = '\0';  // a long reply is terminated inside the area too
  if (static_cast<size_t>(n) >= kClearedBytes) return 0;
  return std::strncmp(reply.data(), "ERR:", 4) == 0 ? 1 : 0;
}

bool IsPagingServerRunning() { return platform::PipeAnswers(platform::PipePath()); }

int WaitForPagingServer(std::string_view programName) {
  int failedPolls = 0;
  while (!IsPagingServerRunning()) {
    platform::SleepMs(kPollMs);
    ++failedPolls;
    if (failedPolls == 1) LogLine("%t %s: Waiting for Paging Server to start\n", programName);
    if (failedPolls >= kWaitPolls) {
      LogLine("%t %s: Timeout - Paging Server has not started\n", programName);
      return 1;
    }
  }
  return 0;
}

}  // namespace common
