// platform/tcp.cpp - BSD sockets behind the product's terms.
#include "platform/tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

int BindAndListen(UniqueFd& fd, const sockaddr* addr, socklen_t addrLen, int backlog, uint16_t& boundPort) {
  const int one = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd.Get(), addr, addrLen) != 0) return -errno;
  if (::listen(fd.Get(), backlog) != 0) return -errno;
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &len) != 0) return -errno;
  boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                                          : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  return 0;
}

}  // namespace

int TcpListen(const std::string& bindAddress, uint16_t port, int backlog, UniqueFd& out, uint16_t& boundPort) {
  const bool v6 = bindAddress.find(':') != std::string::npos;
  if (bindAddress.empty() || v6) {
    // Every address of both families on one dual-stack socket; a machine without IPv6
    // falls back to IPv4 alone.
    sockaddr_in6 addr6{};
    addr6.sin6_family = AF_INET6;
    addr6.sin6_port = htons(port);
    addr6.sin6_addr = in6addr_any;
    if (v6 && ::inet_pton(AF_INET6, bindAddress.c_str(), &addr6.sin6_addr) != 1) return -EINVAL;
    UniqueFd fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Valid()) {
      const int zero = 0;
      if (!v6) ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
      const int rc = BindAndListen(fd, reinterpret_cast<const sockaddr*>(&addr6), sizeof addr6, backlog, boundPort);
      if (rc == 0) out = std::move(fd);
      if (rc == 0 || v6 || (rc != -EAFNOSUPPORT && rc != -EADDRNOTAVAIL)) return rc;
    } else if (v6 || (errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT)) {
      return -errno;
    }
  }
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return -errno;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (bindAddress.empty()) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (::inet_pton(AF_INET, bindAddress.c_str(), &addr.sin_addr) != 1) {
    return -EINVAL;
  }
  const int rc = BindAndListen(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr, backlog, boundPort);
  if (rc == 0) out = std::move(fd);
  return rc;
}

int TcpAccept(const UniqueFd& listener, UniqueFd& out, std::string& peerAddress) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  const int fd = ::accept4(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  if (fd < 0) return -errno;
  out.Reset(fd);
  // Replies of several lines go out in small sends; without this the last one waits for
  // the client's delayed ACK.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET6) {
    const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
      // An IPv4 client of a dual-stack listener: shown as the dotted address it has.
      ::inet_ntop(AF_INET, reinterpret_cast<const uint8_t*>(&a6) + 12, text, sizeof text);
    } else {
      ::inet_ntop(AF_INET6, &a6, text, sizeof text);
    }
  } else {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
  }
  peerAddress = text;
  return 0;
}

int ResolveHost(const std::string& host, std::string& dotted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return -EHOSTUNREACH;
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  ::freeaddrinfo(found);
  dotted = text;
  return 0;
}

int TcpConnect(const std::string& host, uint16_t port, int timeoutMs, UniqueFd& out) {
  std::string dotted;
  if (int rc = ResolveHost(host, dotted); rc != 0) return rc;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  ::inet_pton(AF_INET, dotted.c_str(), &addr.sin_addr);

  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return -errno;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) return -errno;
    pollfd pfd{fd.Get(), POLLOUT, 0};
    const int pr = ::poll(&pfd, 1, timeoutMs);
    if (pr == 0) return -ETIMEDOUT;
    if (pr < 0) return -errno;
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) return -err;
  }
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  const int one = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  out = std::move(fd);
  return 0;
}

int TcpSendAll(const UniqueFd& fd, std::span<const char> data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd.Get(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    sent += static_cast<size_t>(n);
  }
  return 0;
}

int TcpReceive(const UniqueFd& fd, std::span<char> buf, int timeoutMs) {
  if (buf.empty()) return -EINVAL;
  for (;;) {
    pollfd pfd{fd.Get(), POLLIN, 0};
    const int pr = ::poll(&pfd, 1, timeoutMs);
    if (pr == 0) return -ETIMEDOUT;
    if (pr < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    const ssize_t n = ::recv(fd.Get(), buf.data(), buf.size(), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    return -errno;
  }
}

void TcpShutdown(const UniqueFd& fd) {
  if (fd.Valid()) ::shutdown(fd.Get(), SHUT_RDWR);
}

}  // namespace platform
