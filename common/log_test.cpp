// The log line idiom: console then file, the failure counter, and whole lines under threads.
#include "common/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

#include <cstdlib>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace common {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Sends fd 1 to a file for the life of the object.
class CaptureStdout {
 public:
  explicit CaptureStdout(const std::string& path) : path_(path) {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::close(fd);
  }
  ~CaptureStdout() { Restore(); }
  std::string Text() {
    Restore();
    return ReadAll(path_);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

// Sends fd 2 to a file and names it as the journal's stream, as systemd does for a service.
class CaptureJournal {
 public:
  explicit CaptureJournal(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 2);
    ::close(fd);
    struct stat st {};
    ::fstat(2, &st);
    ::setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
  }
  ~CaptureJournal() { Restore(); }
  std::string Text() {
    Restore();
    return ReadAll(path_);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    ::unsetenv("JOURNAL_STREAM");
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvlog.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    log_ = dir_ + "/log.txt";
    SetProgramName("CORVD32");
    SetLogFileName(log_);
  }
  void TearDown() override {
    SetLogFileName("");
    SetDebug(false);
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
  std::string log_;
};

TEST_F(LogTest, LineGoesToConsoleAndFileVerbatim) {
  CaptureStdout out(dir_ + "/console.txt");
  LogLine("%t %s: Page Queued(#%ld), Will page %s now\n", ProgramName(), 7, "50% off %d%s");
  const std::string console = out.Text();
  const std::string file = ReadAll(log_);
  EXPECT_EQ(console, file);
  ASSERT_EQ(file.size(), 16u + std::string(" CORVD32: Page Queued(#7), Will page 50% off %d%s now\n").size());
  EXPECT_EQ(file.substr(16), " CORVD32: Page Queued(#7), Will page 50% off %d%s now\n");
}

TEST_F(LogTest, OutsideTextCannotForgeALine) {
  CaptureStdout out(dir_ + "/console.txt");
  // A name from the pipe or the web form that carries a line of its own.
  const std::string name = "Ann\n2024-01-01 00:00 CORVD32: Paging server ended successfully\r\x1b[2J\t\x7f";
  LogLine("%t %s: Page Queued(#%ld), Will page %s now\n", ProgramName(), 7, Outside(name));
  const std::string file = ReadAll(log_);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1) << file;
  EXPECT_EQ(file.substr(16),
            " CORVD32: Page Queued(#7), Will page Ann\\n2024-01-01 00:00 CORVD32: Paging server ended "
            "successfully\\r\\x1b[2J\\t\\x7f now\n");
  EXPECT_EQ(out.Text(), file) << "the console shows the same escaped line";
}

TEST_F(LogTest, FileOnlyAndDebugLines) {
  CaptureStdout out(dir_ + "/console.txt");
  LogFileLine("file only %d\n", 1);
  DebugLine("hidden %d\n", 2);
  SetDebug(true);
  DebugLine("shown %d\n", 3);
  EXPECT_EQ(out.Text(), "shown 3\n");
  EXPECT_EQ(ReadAll(log_), "file only 1\n");
}

TEST_F(LogTest, AppendsOneLineAtATimeAndDefaultsToLogTxt) {
  EXPECT_EQ(AppendLogFile("one\n"), 0);
  EXPECT_EQ(AppendLogFile(std::string_view("two\n")), 0);
  EXPECT_EQ(ReadAll(log_), "one\ntwo\n");
  SetLogFileName("");
  EXPECT_EQ(LogFileName(), "log.txt");
}

TEST_F(LogTest, FailuresAreCountedOncePerLine) {
  const int before = LogWriteFailures();
  EXPECT_EQ(AppendLogFile(static_cast<const char*>(nullptr)), 1);
  EXPECT_EQ(LogWriteFailures(), before);  // a null line is no failed append
  SetLogFileName(dir_ + "/no/such/folder/log.txt");
  EXPECT_EQ(AppendLogFile("lost\n"), 1);
  EXPECT_EQ(AppendLogFile("lost\n"), 1);
  EXPECT_EQ(LogWriteFailures(), before + 2);
  // A write that fails after the open (a full disk) is a failure too, not a success.
  SetLogFileName("/dev/full");
  EXPECT_EQ(AppendLogFile("lost\n"), 1);
  EXPECT_EQ(LogWriteFailures(), before + 3);
  SetLogFileName(log_);
  EXPECT_EQ(AppendLogFile("kept\n"), 0);
  EXPECT_EQ(LogWriteFailures(), before + 3);
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave) {
  constexpr int kThreads = 8;
  constexpr int kLines = 300;
  CaptureStdout out(dir_ + "/console.txt");
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        const std::string body(500, static_cast<char>('a' + t));
        for (int i = 0; i < kLines; ++i) LogLine("%s %d\n", body, i);
      });
    }
  }
  for (const std::string& text : {out.Text(), ReadAll(log_)}) {
    std::istringstream in(text);
    std::map<char, int> perThread;
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
      ++lines;
      ASSERT_GE(line.size(), 502u) << "line " << lines;
      const char c = line[0];
      ASSERT_EQ(line.substr(0, 500), std::string(500, c)) << "line " << lines << " was broken into";
      ASSERT_EQ(line[500], ' ');
      EXPECT_EQ(std::stoi(line.substr(501)), perThread[c]++);  // each thread's lines in order
    }
    EXPECT_EQ(lines, kThreads * kLines);
  }
}

TEST_F(LogTest, UnderSystemdConsoleLinesGoToTheJournalWithPriorities) {
  CaptureStdout out(dir_ + "/console.txt");
  CaptureJournal journal(dir_ + "/journal.txt");
  LogLine("%t %s: Paging server started successfully\n", ProgramName());
  LogLine("%t %s: Error - Unable to open up the com port(%s)\n", ProgramName(), "COM1");
  LogLine("%t %s: Page Queued(#%ld), Will page %s now\n", ProgramName(), 1, "Ann");
  SetDebug(true);
  DebugLine("Dialing %s\n", "5550100");
  // A line written in two pieces keeps one prefix; two lines in one write get one each.
  WriteConsole("Corvel. ");
  WriteConsole("Paging Server.\nsecond\n");
  const std::string text = journal.Text();
  const std::string file = ReadAll(log_);
  EXPECT_EQ(out.Text(), "") << "nothing for the console's stdout under the journal";
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u) << text;
  EXPECT_EQ(lines[0].substr(0, 3), "<5>");
  EXPECT_EQ(lines[1].substr(0, 3), "<3>");
  EXPECT_EQ(lines[2].substr(0, 3), "<6>");
  EXPECT_EQ(lines[3], "<7>Dialing 5550100");
  EXPECT_EQ(lines[4], "<6>Corvel. Paging Server.");
  EXPECT_EQ(lines[5], "<6>second");
  // log.txt is unchanged: the same three lines, without prefixes.
  std::istringstream fileIn(file);
  std::vector<std::string> fileLines;
  for (std::string line; std::getline(fileIn, line);) fileLines.push_back(line);
  ASSERT_EQ(fileLines.size(), 3u) << file;
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ("<" + lines[i].substr(1, 2) + fileLines[i], lines[i]);
}

TEST_F(LogTest, AStreamThatIsNotTheJournalKeepsTheConsole) {
  CaptureStdout out(dir_ + "/console.txt");
  ::setenv("JOURNAL_STREAM", "1:1", 1);  // inherited from a service, but stderr is elsewhere
  LogLine("%t %s: Error - calloc\n", ProgramName());
  ::unsetenv("JOURNAL_STREAM");
  const std::string console = out.Text();
  EXPECT_EQ(console, ReadAll(log_));
  EXPECT_NE(console.find("CORVD32: Error - calloc"), std::string::npos);
}

TEST(JournalPriority, WordsOfTheProgramsOwnLines) {
  EXPECT_EQ(JournalPriority("x CORVD32: Error - The NOW queue is full\n"), 3);
  EXPECT_EQ(JournalPriority("x CORVNET32: Timeout - Paging Server has not started\n"), 3);
  EXPECT_EQ(JournalPriority("x CORVD32: Can not find system\n"), 3);
  EXPECT_EQ(JournalPriority("x CORVD32: File: 'page.ini'  Syntax error (x) in line - 3\n"), 4);
  EXPECT_EQ(JournalPriority("x CORVD32: Waiting 3 minutes to page - There has been 4 Errors\n"), 4);
  EXPECT_EQ(JournalPriority("x CORVD32: Person's name(Zed) is invalid in group(Ops)\n"), 4);
  EXPECT_EQ(JournalPriority("x CORVPOP32: Gateway started successfully\n"), 5);
  EXPECT_EQ(JournalPriority("x CORVD32: Message(#3) sent to Ann\n"), 6);
}

}  // namespace
}  // namespace common
