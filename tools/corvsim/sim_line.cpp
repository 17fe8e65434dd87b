// tools/corvsim/sim_line.cpp - the pty line with throttle, hang-up detection and record.
#include "tools/corvsim/sim_line.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <thread>

#include "platform/serial_device.h"

namespace corvsim {

SimLine::SimLine(platform::UniqueFd master, platform::UniqueFd slave, platform::UniqueFd watch, std::string recordPath)
    : master_(std::move(master)),
      slave_(std::move(slave)),
      watch_(std::move(watch)),
      recordPath_(std::move(recordPath)) {
  if (platform::MakeWakeEvent(stopEvent_) != 0)
    std::fprintf(stderr, "corvsim: no stop event; stops wait for a limit\n");
}

void SimLine::Stop() {
  stopped_.store(true);
  if (stopEvent_.Get() >= 0) platform::SignalWakeEvent(stopEvent_);
}

void SimLine::OnClosed(size_t bytesBefore) {
  // What a real port does on its last close: the exclusive flag and unread input go.
  if (platform::ResetPseudoTerminalSlave(slave_) != 0) std::fprintf(stderr, "corvsim: cannot reset the pty\n");
  if (!closed_) hangupAt_ = bytesBefore;
  closed_ = true;
}

int SimLine::ReadMaster() {
  char buf[512];
  const int n = platform::ReadSerialNow(master_, buf);
  for (int i = 0; i < n; ++i) input_.push_back(buf[i]);
  return n;
}

bool SimLine::Fill(int waitMs) {
  const int wakeFds[] = {master_.Get(), stopEvent_.Get()};
  const size_t count = stopEvent_.Get() >= 0 ? 2 : 1;
  (void)platform::WaitSerialInput(watch_, std::span<const int>(wakeFds, count), waitMs);
  int opens = 0, closes = 0, reopens = 0;  // the watch: the computer's opens and closes of the slave
  const bool watched = platform::ReadDeviceOpenClose(watch_, opens, closes, reopens) == 0;
  const size_t before = input_.size();
  int n = ReadMaster();
  if (watched && closes > 0) {
    if (reopens > 0) {
      // Closed and opened again since the last look (the computer's next call came
      // quickly): what the line holds now is the new call's, after the hang-up.
      OnClosed(before);
    } else {
      // Everything the computer wrote before it closed belongs to the call that ended.
      while (n > 0) n = ReadMaster();
      OnClosed(input_.size());
    }
  }
  if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !closed_;
}

int SimLine::ReadByte(int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (stopped_.load()) return kHangup;
    if (closed_ && hangupAt_ == 0) {
      closed_ = false;
      return kHangup;
    }
    if (!input_.empty()) {
      const char c = input_.front();
      input_.pop_front();
      if (closed_) --hangupAt_;
      ++bytesIn_;
      if (baud_ > 0) {
        const auto perByte = std::chrono::microseconds(10'000'000 / baud_);
        inClock_ = std::max(inClock_, Clock::now() - perByte) + perByte;
        std::this_thread::sleep_until(inClock_);
      }
      return static_cast<unsigned char>(c);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return kTimeout;
    Fill(static_cast<int>(left));
  }
}

bool SimLine::InputWithin(int waitMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  while (input_.empty() && !closed_ && !stopped_.load()) {
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
    if (left <= 0 || closed_ || stopped_.load()) break;
    Fill(static_cast<int>(left));
  }
  return !closed_ && !stopped_.load();
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
    if (stopped_.load()) return;
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
