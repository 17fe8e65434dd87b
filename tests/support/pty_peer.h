// tests/support/pty_peer.h - a pseudo-terminal peer for the port and modem tests.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "platform/serial_device.h"

namespace testsupport {

// The far end of a line: the tests open Path() as the port and talk through the master.
class PtyPeer {
 public:
  PtyPeer() { ok_ = platform::OpenPseudoTerminal(master_, slave_, path_) == 0; }
  bool Ok() const { return ok_; }
  const std::string& Path() const { return path_; }
  void Send(const std::string& bytes) { (void)platform::WriteSerial(master_, bytes); }
  // What the port wrote, collected until waitMs pass without a new byte.
  std::string Received(int waitMs = 200) {
    std::string out;
    char buf[512];
    while (platform::WaitSerialInput(master_, -1, waitMs) == 1) {
      const int n = platform::ReadSerialNow(master_, buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // Waits up to limitMs for a line ending in CR from the port.
  std::string ReceiveLine(int limitMs) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    char c;
    while (std::chrono::steady_clock::now() < end) {  // every wait is bounded by limitMs
      if (platform::WaitSerialInput(master_, -1, 20) != 1) continue;
      if (platform::ReadSerialNow(master_, std::span<char>(&c, 1)) != 1) continue;
      if (c == '\r') return out;
      out += c;
    }
    return out;
  }

 private:
  platform::UniqueFd master_, slave_;
  std::string path_;
  bool ok_ = false;
};

}  // namespace testsupport
