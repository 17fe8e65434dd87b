// tests/support/process.h - start the real programs in a scratch folder and watch them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const;
  std::string Read(const std::string& name) const;  // empty when missing

 private:
  std::string path_;
};

// Path of a built program (build/bin/NAME).
std::string ProgramPath(const std::string& name);
// Path of a file in the source tree.
std::string SourcePath(const std::string& relative);

std::string ReadFile(const std::string& path);  // empty when missing
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// A child process with its own working folder and environment additions; stdout and
// stderr go to files in that folder (NAME.out). Killed (SIGKILL) if still running when
// the object goes.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const std::string& workDir,
               const std::map<std::string, std::string>& env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running();
  // Sends sig; then waits up to timeoutMs for the exit. Returns the exit status, 128+signal
  // when killed by a signal, or -1 when it did not end in time.
  int Stop(int sig, int timeoutMs = 5000);
  // Waits up to timeoutMs for the process to end by itself. Same results as Stop.
  int Wait(int timeoutMs);
  std::string Output() const;  // what it printed so far (stdout and stderr)

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool ended_ = false;
  std::string outputPath_;
};

// Polls path every 20 ms until it contains text, for at most timeoutMs. True when found.
bool WaitForFileText(const std::string& path, const std::string& text, int timeoutMs);
// Number of times text occurs in the file.
int CountInFile(const std::string& path, const std::string& text);
// Polls until the socket file at path accepts a connection, for at most timeoutMs.
bool WaitForPipe(const std::string& path, int timeoutMs);
// A TCP port on 127.0.0.1 that was free a moment ago.
uint16_t FreeTcpPort();

}  // namespace testsupport
