// The log line idiom: console then file, the failure counter, and whole lines under threads.
#include "common/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
}  // namespace common
