// common/log.cpp - console and log file, one line at a time.
#include "common/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace common {

namespace {
std::mutex gNameMutex;
std::string gProgramName;
std::string gLogFileName;
std::mutex gFileMutex;
std::mutex gConsoleMutex;
std::atomic<int> gLogWriteFailures{0};
std::atomic<bool> gDebug{false};
}  // namespace

void SetProgramName(std::string_view name) {
  std::lock_guard lock(gNameMutex);
  gProgramName = name;
}

std::string ProgramName() {
  std::lock_guard lock(gNameMutex);
  return gProgramName;
}

void SetLogFileName(std::string_view name) {
  std::lock_guard lock(gNameMutex);
  gLogFileName = name;
}

std::string LogFileName() {
  std::lock_guard lock(gNameMutex);
  return gLogFileName.empty() ? std::string("log.txt") : gLogFileName;
}

int AppendLogFile(const char* line) {
  if (line == nullptr) return 1;
  return AppendLogFile(std::string_view(line, std::strlen(line)));
}

int AppendLogFile(std::string_view line) {
  const std::string path = LogFileName();
  std::lock_guard lock(gFileMutex);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    ++gLogWriteFailures;
    return 1;
  }
  // One write per line: with O_APPEND other programs' lines land before or after it.
  size_t done = 0;
  bool failed = false;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = true;  // a full disk loses the line: count it, never report it as written
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && errno != EINTR) failed = true;
  if (failed) {
    ++gLogWriteFailures;
    return 1;
  }
  return 0;
}

int LogWriteFailures() { return gLogWriteFailures.load(); }

void WriteConsole(std::string_view text) {
  std::lock_guard lock(gConsoleMutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void SetDebug(bool on) { gDebug = on; }
bool DebugOn() { return gDebug.load(); }

}  // namespace common
