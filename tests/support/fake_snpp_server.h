// tests/support/fake_snpp_server.h - a small SNPP server on 127.0.0.1 for the tests of the
// SNPP client and of corvweb in SNPP mode.
//
// It speaks the server side the way corvnet32 does (greeting, PAGE, DATA without a reply,
// the dot line, SEND, LIST, MSTA/MLOG, QUIT) with replies a test can change, and records
// every byte it receives. It gives up on a silent client after 10 s, and its destructor
// wakes a connection in progress, so no test can hang on it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/tcp.h"

namespace testsupport {

struct FakeSnppBehaviour {
  bool Greet = true;
  bool Silent = false;            // accepts and reads, never writes
  bool GoAheadAfterData = false;  // answer DATA with 354, as RFC 1861 servers do
  bool ByteByByte = false;        // write every reply one byte at a time
  int SendDelayMs = 0;            // wait before answering SEND
  std::string PageReply = "250 Pager ID Accepted";
  std::string DataReply = "250 DATA Accepted";
  std::string SendReply = "250 Message Sent OK";
  std::vector<std::string> ReportLines;  // 214 lines of MSTA and MLOG, without the code
  std::vector<std::string> Names;        // 216 lines of LIST
};

class FakeSnppServer {
 public:
  explicit FakeSnppServer(FakeSnppBehaviour behaviour) : behaviour_(std::move(behaviour)) {
    if (platform::TcpListen("127.0.0.1", 0, 8, listener_, port_) != 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeSnppServer() {
    stop_ = true;
    platform::TcpShutdown(listener_);
    {
      std::lock_guard lock(mutex_);
      if (current_ != nullptr) platform::TcpShutdown(*current_);
    }
    if (thread_.joinable()) thread_.join();
  }
  FakeSnppServer(const FakeSnppServer&) = delete;
  FakeSnppServer& operator=(const FakeSnppServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  int Connections() const { return connections_.load(); }

 private:
  void Reply(const platform::UniqueFd& conn, const std::string& text) {
    if (behaviour_.Silent) return;
    const std::string line = text + "\r\n";
    if (!behaviour_.ByteByByte) {
      (void)platform::TcpSendAll(conn, line);
      return;
    }
    for (char c : line) {
      (void)platform::TcpSendAll(conn, std::string(1, c));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  void Serve() {
    while (!stop_) {
      platform::UniqueFd conn;
      std::string peer;
      if (platform::TcpAccept(listener_, conn, peer) != 0) return;
      ++connections_;
      {
        std::lock_guard lock(mutex_);
        if (stop_) return;
        current_ = &conn;
      }
      Session(conn);
      std::lock_guard lock(mutex_);
      current_ = nullptr;
    }
  }

  void Session(const platform::UniqueFd& conn) {
    if (behaviour_.Greet) Reply(conn, "220 SNPP Gateway Ready (Corvel.Version1.8 Rev 5)");
    std::string pending;
    bool dataMode = false;
    char buf[4096];
    for (int rounds = 0; rounds < 10000 && !stop_; ++rounds) {
      const int n = platform::TcpReceive(conn, buf, 10000);
      if (n <= 0) return;
      {
        std::lock_guard lock(mutex_);
        received_.append(buf, static_cast<size_t>(n));
      }
      pending.append(buf, static_cast<size_t>(n));
      size_t eol;
      while ((eol = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, eol + 1);
        pending.erase(0, eol + 1);
        if (dataMode) {
          if (line.rfind(".\r", 0) == 0) {
            dataMode = false;
            Reply(conn, behaviour_.DataReply);
          }
          continue;
        }
        const std::string word = line.substr(0, 4);
        if (word == "PAGE") {
          Reply(conn, behaviour_.PageReply);
        } else if (word == "DATA") {
          dataMode = true;
          if (behaviour_.GoAheadAfterData) Reply(conn, "354 Begin Input, End With <CRLF>.<CRLF>");
        } else if (word == "SEND") {
          if (behaviour_.SendDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(behaviour_.SendDelayMs));
          Reply(conn, behaviour_.SendReply);
        } else if (word == "LIST") {
          Reply(conn, "215 Start of Name and Group List");
          for (const std::string& name : behaviour_.Names) Reply(conn, "216 " + name);
          Reply(conn, "217 End of Names and Groups");
        } else if (word == "MSTA" || word == "MLOG") {
          for (const std::string& text : behaviour_.ReportLines) Reply(conn, "214 " + text);
          Reply(conn, word == "MSTA" ? "217 End of Status report" : "217 End of Log");
        } else if (word == "QUIT") {
          Reply(conn, "221 OK, Goodbye");
          return;
        } else {
          Reply(conn, "500 Command Not Implemented, Try Again");
        }
      }
    }
  }

  FakeSnppBehaviour behaviour_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  const platform::UniqueFd* current_ = nullptr;  // the connection being served, for the destructor
  std::string received_;
};

}  // namespace testsupport
