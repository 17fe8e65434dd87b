// platform/socket_activation.cpp
#include "platform/socket_activation.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace platform {

namespace {
constexpr int kFirstPassedFd = 3;  // SD_LISTEN_FDS_START
constexpr int kMaxPassedFds = 64;  // far more than a unit passes; bounds a bad LISTEN_FDS

long EnvNumber(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return -1;
  const std::string_view s(text);
  long n = -1;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  return (s.empty() || ec != std::errc() || end != s.data() + s.size()) ? -1 : n;
}
}  // namespace

std::vector<UniqueFd> TakeSystemdSockets() {
  std::vector<UniqueFd> fds;
  const long pid = EnvNumber("LISTEN_PID");
  const long count = EnvNumber("LISTEN_FDS");
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  if (pid != static_cast<long>(::getpid()) || count <= 0 || count > kMaxPassedFds) return fds;
  for (int fd = kFirstPassedFd; fd < kFirstPassedFd + count; ++fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0) continue;
    ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    fds.emplace_back(fd);
  }
  return fds;
}

uint16_t LocalTcpPort(const UniqueFd& fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
  return 0;
}

}  // namespace platform
