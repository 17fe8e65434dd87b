// tests/snpp_test_client.h - a scripted SNPP client and a corvnet32 starter for the SNPP tests.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tcp.h"
#include "tests/support/process.h"

namespace snpptest {

constexpr int kWaitMs = 10000;  // every wait on the server gives up after this

class SnppTestClient {
 public:
  // Connects to 127.0.0.1:port; false when no connection could be made.
  bool Connect(uint16_t port) { return platform::TcpConnect("127.0.0.1", port, kWaitMs, fd_) == 0; }

  void Send(std::string_view text) { EXPECT_EQ(platform::TcpSendAll(fd_, text), 0); }

  // Reads until count more CR LF lines have arrived (or the wait ends, or the peer closed)
  // and returns them.
  std::string ReadLines(int count, int timeoutMs = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    while (count > 0) {
      const size_t end = pending_.find("\r\n");
      if (end != std::string::npos) {
        out += pending_.substr(0, end + 2);
        pending_.erase(0, end + 2);
        --count;
        continue;
      }
      if (!Fill(deadline)) break;
    }
    return out;
  }

  // Reads everything until the peer closes; closed tells whether it did within the wait.
  std::string ReadUntilClosed(bool& closed, int timeoutMs = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    closed = false;
    while (!closed_) {
      if (!Fill(deadline)) break;
    }
    closed = closed_;
    std::string out;
    out.swap(pending_);
    return out;
  }

  // True when nothing more arrives within ms (the server is waiting for us).
  bool Quiet(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const size_t before = pending_.size();
    Fill(deadline);
    return pending_.size() == before && !closed_;
  }

  void Close() { fd_.Reset(); }

 private:
  bool Fill(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || closed_) return false;
    char buf[4096];
    const int n = platform::TcpReceive(fd_, buf, static_cast<int>(left.count()));
    if (n <= 0) {
      closed_ = n == 0 || n != -ETIMEDOUT;
      return false;
    }
    pending_.append(buf, static_cast<size_t>(n));
    return true;
  }

  platform::UniqueFd fd_;
  std::string pending_;
  bool closed_ = false;
};

inline const std::string kGreeting = "220 SNPP Gateway Ready (Corvel.Version1.8 Rev 5)\r\n";

// corvnet32 in dir, with its pipe at pipePath and SNPP.INI naming port (0: none written).
class Corvnet {
 public:
  Corvnet(const testsupport::TempDir& dir, const std::string& pipePath, uint16_t port,
          std::map<std::string, std::string> env = {}, std::vector<std::string> args = {})
      : dir_(dir), port_(port) {
    if (port != 0 && !testsupport::FileExists(dir.File("SNPP.INI"))) {
      dir.Write("SNPP.INI", "; written by the test\nTcpPort=" + std::to_string(port) + "\n");
    }
    env["CORVEL_PIPE"] = pipePath;
    process_ =
        std::make_unique<testsupport::ChildProcess>(testsupport::ProgramPath("corvnet32"), args, dir.Path(), env);
  }

  // Waits for the "Server started successfully" line.
  bool Started() const {
    return testsupport::WaitForFileText(dir_.File("log.txt"), "Server started successfully", kWaitMs);
  }

  testsupport::ChildProcess& Process() { return *process_; }
  uint16_t Port() const { return port_; }
  std::string Log() const { return dir_.Read("log.txt"); }

 private:
  const testsupport::TempDir& dir_;
  uint16_t port_;
  std::unique_ptr<testsupport::ChildProcess> process_;
};

}  // namespace snpptest
