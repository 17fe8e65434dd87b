// tools/corvsim/sim_line.cpp - the pty line with throttle, hang-up detection and record.
#include "tools/corvsim/sim_line.h"

#include <cstdio>
#include <thread>

#include "platform/serial_device.h"

namespace corvsim {

SimLine::SimLine(platform::UniqueFd master, platform::UniqueFd slave, platform::UniqueFd watch,
                 std::string recordPath)
    : master_(std::move(master)), slave_(std::move(slave)), watch_(std::move(watch)),
      recordPath_(std::move(recordPath)) {}

void SimLine::OnClosed() {
  // What a real port does on its last close: the exclusive flag and unread input go.
  if (platform::ResetPseudoTerminalSlave(slave_) != 0) std::fprintf(stderr, "corvsim: cannot reset the pty\n");
  closed_ = true;
}

bool SimLine::Fill(int waitMs) {
  (void)platform::WaitSerialInput(watch_, master_.Get(), waitMs);
  int opens = 0, closes = 0;  // the watch: opens and closes of the slave by the computer
  if (platform::ReadDeviceOpenClose(watch_, opens, closes) == 0 && closes > 0) OnClosed();
  char buf[512];
  const int n = platform::ReadSerialNow(master_, buf);
  for (int i = 0; i < n; ++i) input_.push_back(buf[i]);
  if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !closed_;
}

int SimLine::ReadByte(int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!input_.empty()) {
      const char c = input_.front();
      input_.pop_front();
      ++bytesIn_;
      if (baud_ > 0) {
        const auto perByte = std::chrono::microseconds(10'000'000 / baud_);
        inClock_ = std::max(inClock_, Clock::now() - perByte) + perByte;
        std::this_thread::sleep_until(inClock_);
      }
      return static_cast<unsigned char>(c);
    }
    if (closed_) {
      closed_ = false;
      return kHangup;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return kTimeout;
    Fill(static_cast<int>(left));
  }
}

bool SimLine::InputWithin(int waitMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  while (input_.empty() && !closed_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    Fill(static_cast<int>(left));
  }
  return !input_.empty();
}

bool SimLine::Pause(int ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || closed_) break;
    Fill(static_cast<int>(left));
  }
  return !closed_;
}

void SimLine::Write(std::string_view bytes) {
  std::string wire;
  for (char c : bytes) {
    wire += c;
    if (nulBytes_) wire += '\0';
  }
  if (baud_ <= 0) {
    bytesOut_ += wire.size();
    if (platform::WriteSerial(master_, wire) != 0) std::fprintf(stderr, "corvsim: write failed\n");
    return;
  }
  // One byte per character time, so the computer sees the line's real pace.
  const auto perByte = std::chrono::microseconds(10'000'000 / baud_);
  for (char c : wire) {
    outClock_ = std::max(outClock_, Clock::now() - perByte) + perByte;
    std::this_thread::sleep_until(outClock_);
    ++bytesOut_;
    if (platform::WriteSerial(master_, std::string_view(&c, 1)) != 0) return;
  }
}

void SimLine::Record(const std::string& line) {
  std::FILE* f = std::fopen(recordPath_.c_str(), "a");
  if (f == nullptr) {
    std::fprintf(stderr, "corvsim: cannot append to %s\n", recordPath_.c_str());
    return;
  }
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

std::string RecordEscape(std::string_view bytes) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F && c != ' ') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += "\\x20";
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string HexBytes(std::string_view bytes) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace corvsim
