// platform/pipe_endpoint.cpp - the Unix-domain socket that stands in for the named pipe.
#include "platform/pipe_endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

int FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -ENAMETOOLONG;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return 0;
}

// One non-blocking attempt: a full backlog gives -EAGAIN at once instead of a connect that
// never returns.
int ConnectOnce(const std::string& path, UniqueFd& out) {
  sockaddr_un addr;
  if (int rc = FillAddress(path, addr); rc != 0) return rc;
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return -errno;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return -errno;
  out = std::move(fd);
  return 0;
}

void SetTimeout(int fd, int option, int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  (void)::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Makes the socket's folder when it is missing, as mkdir -p does; the last level gets mode
// (set again after mkdir, which the umask may have narrowed).
void MakeFolder(const std::string& folder, mode_t mode) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) == 0) return;
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos != folder.size() && folder[pos] != '/') continue;
    const std::string part = folder.substr(0, pos);
    const mode_t levelMode = pos == folder.size() ? mode : 0755;
    if (::mkdir(part.c_str(), levelMode) == 0) ::chmod(part.c_str(), levelMode);
  }
}

// A socket in this user's private folder is trusted only while that folder is safe: another
// user may have made it first, in /tmp, and put a socket of their own in it.
int CheckPrivateFolder(const std::string& path) {
  const std::string folder = PipeFolderOf(path);
  if (folder != PrivatePipeFolder()) return 0;
  const int rc = CheckPipeFolder(folder);
  if (rc == -ENOTDIR) return -ENOENT;  // no folder: no server has made the pipe
  return rc == 0 ? 0 : -EPERM;
}

}  // namespace

int PipeListen(const std::string& path, UniqueFd& out, PipeAccess access) {
  sockaddr_un addr;
  if (int rc = FillAddress(path, addr); rc != 0) return rc;
  const std::string folder = PipeFolderOf(path);
  MakeFolder(folder, folder == PrivatePipeFolder() ? 0700 : 0755);
  if (int rc = CheckPipeFolder(folder); rc != 0) return rc;

  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (PipeAnswers(path)) return -EADDRINUSE;  // a live server keeps its path
    if (S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
  }

  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return -errno;
  // The socket file is born with its final mode: a chmod by path afterwards could follow a
  // symlink swapped in meanwhile.
  const mode_t socketMode = access == PipeAccess::kGroup ? 0660 : 0666;
  const mode_t oldMask = ::umask(0777 & ~socketMode);
  const int bound = ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  const int bindError = errno;
  ::umask(oldMask);
  if (bound != 0) return -bindError;
  if (::listen(fd.Get(), kPipeBacklog) != 0) return -errno;
  out = std::move(fd);
  return 0;
}

int PipeAccept(const UniqueFd& listener, UniqueFd& out, int receiveDeadlineMs) {
  for (;;) {
    const int fd = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      out.Reset(fd);
      if (receiveDeadlineMs > 0) SetTimeout(fd, SO_RCVTIMEO, receiveDeadlineMs);
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
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -ETIMEDOUT;  // the receive deadline
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

int PipeTransact(const std::string& path, std::span<const char> request, std::span<char> reply, int connectWaitMs,
                 int replyWaitMs, size_t* realLength) {
  if (int rc = CheckPrivateFolder(path); rc != 0) return rc;
  const auto connectDeadline = Clock::now() + std::chrono::milliseconds(connectWaitMs);
  UniqueFd fd;
  for (;;) {
    const int rc = ConnectOnce(path, fd);
    if (rc == 0) break;
    if (rc == -ENOENT) return rc;  // no server has ever made the pipe: fail at once
    if (rc != -ECONNREFUSED && rc != -EAGAIN) return rc;
    if (Clock::now() >= connectDeadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Blocking from here on, each step with its own bound.
  (void)::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  SetTimeout(fd.Get(), SO_SNDTIMEO, MillisecondsLeft(connectDeadline) + 1000);
  if (int rc = PipeSend(fd, request); rc != 0) return rc;

  // The request is on its way: the server will handle it, so the wait for its reply is the
  // server's worst case, not the connect wait.
  pollfd pfd{fd.Get(), POLLIN, 0};
  int pr = 0;
  const auto replyDeadline = Clock::now() + std::chrono::milliseconds(replyWaitMs);
  do {
    pr = ::poll(&pfd, 1, MillisecondsLeft(replyDeadline));
  } while (pr < 0 && errno == EINTR);
  if (pr == 0) return -ETIMEDOUT;
  if (pr < 0) return -errno;
  size_t real = 0;
  const int n = PipeReceive(fd, reply, real);
  if (n < 0) return n;
  if (realLength != nullptr) *realLength = real;
  return n;
}

bool PipePeerGone(const UniqueFd& conn) {
  pollfd p{conn.Get(), POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
}

void PipeStopAccepting(const UniqueFd& listener) {
  if (listener.Get() >= 0) (void)::shutdown(listener.Get(), SHUT_RDWR);
}

bool PipeAnswers(const std::string& path) {
  UniqueFd fd;
  const int rc = ConnectOnce(path, fd);
  return rc == 0 || rc == -EAGAIN;
}

}  // namespace platform
