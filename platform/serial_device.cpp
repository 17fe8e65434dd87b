// platform/serial_device.cpp - serial devices and pseudo-terminals on Linux termios.
#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace platform {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

struct BaudEntry {
  long Baud;
  speed_t Speed;
};
constexpr BaudEntry kBauds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// Pseudo-terminal slaves are the character devices of the Unix98 pty majors.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned maj = major(st.st_rdev);
  return maj >= 136 && maj <= 143;
}

// A UUCP lock file naming a live process means another program has the port.
bool HeldByLockFile(const std::string& devicePath) {
  struct stat st {};
  if (stat("/var/lock", &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  const size_t slash = devicePath.rfind('/');
  const std::string base = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
  std::ifstream in("/var/lock/LCK.." + base);
  if (!in) return false;
  long pid = 0;
  in >> pid;  // HDB locks hold the pid as text; an unreadable lock is taken as held
  if (pid <= 0) return true;
  if (pid == static_cast<long>(getpid())) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// "key=value" from the parameter text; empty when the key is missing.
std::string ParamValue(std::string_view text, std::string_view key) {
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && text[at] == ' ') ++at;
    size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view token = text.substr(at, end - at);
    const size_t eq = token.find('=');
    if (eq != std::string_view::npos && EqualNoCase(token.substr(0, eq), key)) return std::string(token.substr(eq + 1));
    at = end;
  }
  return {};
}

bool ParseLong(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end != nullptr && *end == '\0';
}

}  // namespace

std::string SerialDevicePath(std::string_view portName) {
  if (portName.find('/') != std::string_view::npos) return std::string(portName);
  if (portName.size() > 3 && EqualNoCase(portName.substr(0, 3), "COM")) {
    long n = 0;
    if (ParseLong(std::string(portName.substr(3)), n) && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
  }
  return "/dev/" + std::string(portName);
}

int OpenSerialDevice(std::string_view portName, UniqueFd& out) {
  const std::string path = SerialDevicePath(portName);
  if (HeldByLockFile(path)) return -EBUSY;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return -errno;
  if (!isatty(fd.Get())) return -ENOTTY;
  const int flags = fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return -errno;
  if (ioctl(fd.Get(), TIOCEXCL) != 0) return -errno;
  out = std::move(fd);
  return 0;
}

int MakeSerialRaw(const UniqueFd& fd) {
  termios tio{};
  if (tcgetattr(fd.Get(), &tio) != 0) return -errno;
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd.Get(), TCSANOW, &tio) != 0) return -errno;
  return 0;
}

int SetSerialLine(const UniqueFd& fd, std::string_view parameterText) {
  if (!fd.Valid()) return -EBADF;
  long baud = 0, data = 0, stop = 0;
  const std::string parity = ParamValue(parameterText, "parity");
  if (!ParseLong(ParamValue(parameterText, "baud"), baud) || !ParseLong(ParamValue(parameterText, "data"), data) ||
      !ParseLong(ParamValue(parameterText, "stop"), stop) || parity.size() != 1)
    return -EINVAL;
  speed_t speed = 0;
  bool known = false;
  for (const BaudEntry& entry : kBauds) {
    if (entry.Baud == baud) {
      speed = entry.Speed;
      known = true;
    }
  }
  if (!known || data < 5 || data > 8 || stop < 1 || stop > 2) return -EINVAL;

  termios tio{};
  if (tcgetattr(fd.Get(), &tio) != 0) return -errno;
  cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= sizes[data - 5] | CLOCAL | CREAD | HUPCL;
  if (stop == 2) tio.c_cflag |= CSTOPB;
  switch (std::toupper(static_cast<unsigned char>(parity[0]))) {
    case 'N':
      break;
    case 'E':
      tio.c_cflag |= PARENB;
      break;
    case 'O':
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 'M':
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 'S':
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      return -EINVAL;
  }
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return -EINVAL;

  const bool pty = IsPseudoTerminal(fd.Get());
  if (tcsetattr(fd.Get(), TCSANOW, &tio) != 0) {
    const int err = errno;
    // A pty keeps CS8 and no parity whatever is asked; glibc reports that as EINVAL. What
    // matters on a pty is that the speed and raw mode took effect.
    termios now{};
    if (!(pty && err == EINVAL && tcgetattr(fd.Get(), &now) == 0 && cfgetospeed(&now) == speed &&
          (now.c_lflag & ICANON) == 0))
      return -err;
  }
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd.Get(), TIOCMBIS, &lines) != 0 && !(pty && (errno == ENOTTY || errno == EINVAL))) return -errno;
  return 0;
}

int SerialBytesWaiting(const UniqueFd& fd) {
  int n = 0;
  if (ioctl(fd.Get(), FIONREAD, &n) != 0) return -errno;
  return n;
}

int WaitSerialInput(const UniqueFd& fd, std::span<const int> wakeFds, int timeoutMs) {
  constexpr size_t kMaxWakeFds = 4;
  if (wakeFds.size() > kMaxWakeFds) return -EINVAL;
  pollfd fds[1 + kMaxWakeFds] = {};
  fds[0] = {fd.Get(), POLLIN, 0};
  for (size_t i = 0; i < wakeFds.size(); ++i) fds[1 + i] = {wakeFds[i], POLLIN, 0};
  const nfds_t count = static_cast<nfds_t>(1 + wakeFds.size());
  for (;;) {
    const int rc = ::poll(fds, count, timeoutMs);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (rc == 0) return 0;
    for (size_t i = 0; i < wakeFds.size(); ++i) {
      if (fds[1 + i].revents & POLLIN) return 2 + static_cast<int>(i);
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return 1;
    if (fds[0].revents & POLLNVAL) return -EBADF;
  }
}

int WaitSerialInput(const UniqueFd& fd, int wakeFd, int timeoutMs) {
  if (wakeFd < 0) return WaitSerialInput(fd, std::span<const int>(), timeoutMs);
  return WaitSerialInput(fd, std::span<const int>(&wakeFd, 1), timeoutMs);
}

int ReadSerialNow(const UniqueFd& fd, std::span<char> buf) {
  if (buf.empty()) return 0;
  const int waiting = SerialBytesWaiting(fd);
  if (waiting < 0) return waiting;
  size_t want = buf.size();
  if (waiting == 0) {
    // A hung-up pty master reports nothing waiting; the read tells EIO apart from "empty".
    pollfd p{fd.Get(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return 0;
  } else if (static_cast<size_t>(waiting) < want) {
    want = static_cast<size_t>(waiting);  // never more than is queued: the read returns at once
  }
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buf.data(), want);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -errno;
  }
}

int WriteSerial(const UniqueFd& fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd.Get(), POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      return -errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

int MakeWakeEvent(UniqueFd& out) {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return -errno;
  out.Reset(fd);
  return 0;
}

void SignalWakeEvent(const UniqueFd& event) {
  const uint64_t one = 1;
  if (event.Valid()) {
    [[maybe_unused]] const ssize_t n = ::write(event.Get(), &one, sizeof one);
  }
}

int OpenPseudoTerminal(UniqueFd& master, UniqueFd& slave, std::string& slavePath) {
  UniqueFd m(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!m.Valid()) return -errno;
  if (grantpt(m.Get()) != 0 || unlockpt(m.Get()) != 0) return -errno;
  char name[128] = {};
  if (ptsname_r(m.Get(), name, sizeof name) != 0) return -errno;
  UniqueFd s(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!s.Valid()) return -errno;
  termios tio{};
  if (tcgetattr(s.Get(), &tio) != 0) return -errno;
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(s.Get(), TCSANOW, &tio) != 0) return -errno;
  master = std::move(m);
  slave = std::move(s);
  slavePath = name;
  return 0;
}

int ResetPseudoTerminalSlave(const UniqueFd& slave) {
  if (ioctl(slave.Get(), TIOCNXCL) != 0) return -errno;
  if (tcflush(slave.Get(), TCIFLUSH) != 0) return -errno;
  return 0;
}

int WatchDeviceOpenClose(const std::string& devicePath, UniqueFd& out) {
  UniqueFd fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd.Valid()) return -errno;
  if (inotify_add_watch(fd.Get(), devicePath.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) return -errno;
  out = std::move(fd);
  return 0;
}

int ReadDeviceOpenClose(const UniqueFd& watch, int& opens, int& closes) {
  int opensAfterLastClose = 0;
  return ReadDeviceOpenClose(watch, opens, closes, opensAfterLastClose);
}

int ReadDeviceOpenClose(const UniqueFd& watch, int& opens, int& closes, int& opensAfterLastClose) {
  opens = 0;
  closes = 0;
  opensAfterLastClose = 0;
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t n = ::read(watch.Get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      return -errno;
    }
    if (n == 0) return 0;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      inotify_event event;
      std::memcpy(&event, buf + at, sizeof event);
      if (event.mask & IN_OPEN) {
        ++opens;
        ++opensAfterLastClose;
      }
      if (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
        ++closes;
        opensAfterLastClose = 0;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
}

}  // namespace platform
