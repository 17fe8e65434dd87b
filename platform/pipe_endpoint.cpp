// platform/pipe_endpoint.cpp - the Unix-domain socket that stands in for the named pipe.
#include "platform/pipe_endpoint.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform {

namespace {

constexpr int kBacklog = 100;  // the pipe's "maximum instances"

int FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -ENAMETOOLONG;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return 0;
}

int ConnectOnce(const std::string& path, UniqueFd& out) {
  sockaddr_un addr;
  if (int rc = FillAddress(path, addr); rc != 0) return rc;
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return -errno;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return -errno;
  out = std::move(fd);
  return 0;
}

void MakeParentFolder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  const std::string folder = path.substr(0, slash);
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return;
  // Build the chain one level at a time, as mkdir -p does.
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos == folder.size() || folder[pos] == '/') {
      const std::string part = folder.substr(0, pos);
      if (::mkdir(part.c_str(), 0755) == 0) ::chmod(part.c_str(), 0755);
    }
  }
}

}  // namespace

std::string PipePath() {
  const char* env = std::getenv("CORVEL_PIPE");
  if (env != nullptr && *env != '\0') return env;
  return "/tmp/corvel/CORVD";
}

int PipeListen(const std::string& path, UniqueFd& out) {
  sockaddr_un addr;
  if (int rc = FillAddress(path, addr); rc != 0) return rc;
  MakeParentFolder(path);

  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (PipeAnswers(path)) return -EADDRINUSE;  // a live server keeps its path
    if (S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
  }

  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return -errno;
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return -errno;
  ::chmod(path.c_str(), 0666);  // the pipe's null access list: anyone may connect
  if (::listen(fd.Get(), kBacklog) != 0) return -errno;
  out = std::move(fd);
  return 0;
}

int PipeAccept(const UniqueFd& listener, UniqueFd& out) {
  for (;;) {
    const int fd = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      out.Reset(fd);
      return 0;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return -errno;
  }
}

int PipeReceive(const UniqueFd& conn, std::span<char> buf, size_t& realLength) {
  for (;;) {
    const ssize_t n = ::recv(conn.Get(), buf.data(), buf.size(), MSG_TRUNC);
    if (n >= 0) {
      realLength = static_cast<size_t>(n);
      return static_cast<int>(static_cast<size_t>(n) < buf.size() ? static_cast<size_t>(n) : buf.size());
    }
    if (errno == EINTR) continue;
    return -errno;
  }
}

int PipeSend(const UniqueFd& conn, std::span<const char> message) {
  for (;;) {
    const ssize_t n = ::send(conn.Get(), message.data(), message.size(), MSG_NOSIGNAL);
    if (n >= 0) return 0;
    if (errno == EINTR) continue;
    return -errno;
  }
}

int PipeTransact(const std::string& path, std::span<const char> request, std::span<char> reply, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  UniqueFd fd;
  for (;;) {
    const int rc = ConnectOnce(path, fd);
    if (rc == 0) break;
    if (rc == -ENOENT) return rc;  // no server has ever made the pipe: fail at once
    if (rc != -ECONNREFUSED && rc != -EAGAIN) return rc;
    if (std::chrono::steady_clock::now() >= deadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (int rc = PipeSend(fd, request); rc != 0) return rc;

  // The reply must come within the same wait; a server that never answers is a failure.
  pollfd pfd{fd.Get(), POLLIN, 0};
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  const int pr = ::poll(&pfd, 1, left > 0 ? static_cast<int>(left) : 0);
  if (pr == 0) return -ETIMEDOUT;
  if (pr < 0) return -errno;
  size_t realLength = 0;
  const int n = PipeReceive(fd, reply, realLength);
  if (n < 0) return n;
  if (realLength > reply.size()) return -EMSGSIZE;  // Windows says "more data": a failure
  return n;
}

bool PipeAnswers(const std::string& path) {
  UniqueFd fd;
  return ConnectOnce(path, fd) == 0;
}

}  // namespace platform
