// common/log.cpp - console and log file, one line at a time.
#include "common/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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
bool gJournalAtLineStart = true;  // guarded by gConsoleMutex

constexpr int kDebugPriority = 7;

// First match wins; the words are those the programs' own lines use.
struct PriorityWord {
  std::string_view Word;
  int Priority;
};
constexpr PriorityWord kPriorityWords[] = {
    {"Syntax error", 4},    {"Waiting", 4},      {"Error", 3},       {"Timeout", 3}, {"Can not", 3},
    {"Calloc error", 3},    {"memory error", 3}, {"failed", 3},      {"invalid", 4}, {"not valid", 4},
    {"already in list", 4}, {"refused", 4},      {"not applied", 4}, {"ignored", 4}, {"not found", 4},
    {"successfully", 5},    {"Starting", 5},
};

// True when standard error is the stream systemd connected to the journal: JOURNAL_STREAM
// holds its device and inode. Compared each time, so a redirected child that inherited the
// variable writes to its console as usual.
bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st {};
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev && static_cast<unsigned long long>(st.st_ino) == ino;
}

// Each line (and each continuation of a line cut between two writes) keeps one prefix.
void WriteJournal(std::string_view text, int priority) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (gJournalAtLineStart) {
      out += '<';
      out += static_cast<char>('0' + priority);
      out += '>';
      gJournalAtLineStart = false;
    }
    out += c;
    if (c == '\n') gJournalAtLineStart = true;
  }
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
}

void WriteConsoleAt(std::string_view text, int priority) {
  std::lock_guard lock(gConsoleMutex);
  if (StderrIsJournal()) {
    WriteJournal(text, priority);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int JournalPriority(std::string_view line) {
  for (const PriorityWord& entry : kPriorityWords) {
    if (line.find(entry.Word) != std::string_view::npos) return entry.Priority;
  }
  return 6;
}

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

void WriteConsole(std::string_view text) { WriteConsoleAt(text, JournalPriority(text)); }

void WriteDebugConsole(std::string_view text) { WriteConsoleAt(text, kDebugPriority); }

void SetDebug(bool on) { gDebug = on; }
bool DebugOn() { return gDebug.load(); }

}  // namespace common
