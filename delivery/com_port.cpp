// delivery/com_port.cpp - the serial port of one call, over platform/serial_device.
#include "delivery/com_port.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>

#include "common/format_text.h"
#include "common/log.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/unique_fd.h"

namespace delivery {

struct ComLine {
  std::atomic<bool> Echo{false};         // print every byte taken by a reader on the console
  std::atomic<bool> StopRequest{false};  // the receive thread is to end
  std::string Name;                      // as opened, cut to 19 characters
  platform::UniqueFd Handle;
  platform::UniqueFd Wake;  // wakes the receive thread for the stop request
  char Ring[kRingSize] = {};
  std::atomic<uint32_t> WriteIndex{0};  // moved by the receive thread only
  std::atomic<uint32_t> ReadIndex{0};   // moved by the reader only
  std::atomic<uint32_t> Lost{0};        // bytes that arrived while the ring was full
  std::mutex ArrivalMutex;              // only for the condition below, never for the ring
  std::condition_variable_any Arrival;  // signalled when bytes were stored
  std::stop_token Stop;                 // the caller's stop: every wait ends early on it
};

namespace {

using Clock = std::chrono::steady_clock;

// The fixed pause of a close: a modem needs the line dropped for a moment before the next
// call, and the terminal on a direct line sees the end of the session.
constexpr int kClosePauseMs = 2000;
// DrainComInput: a gap this long ends the drain; a line that never goes quiet is left
// after kDrainLimitMs.
constexpr int kDrainGapMs = 12;
constexpr int kDrainLimitMs = 5000;
constexpr size_t kExpectedTextMax = 100;

Clock::time_point Deadline(int limitMs) { return Clock::now() + std::chrono::milliseconds(limitMs < 0 ? 0 : limitMs); }

// The open line behind port, or null for a null or closed port.
ComLine* LineOf(ComPort* port) { return port != nullptr ? port->Line() : nullptr; }

bool DataIn(const ComLine* line) {
  return line->ReadIndex.load(std::memory_order_relaxed) != line->WriteIndex.load(std::memory_order_acquire);
}

// Stores what one read brought, dropping NUL bytes; with a full ring the newest byte is
// overwritten by the next one.
void StoreBytes(ComLine* line, const char* chunk, int n) {
  uint32_t write = line->WriteIndex.load(std::memory_order_relaxed);
  for (int i = 0; i < n; ++i) {
    if (chunk[i] == '\0') continue;  // the line's NUL bytes never reach the ring
    line->Ring[write] = chunk[i];
    const uint32_t next = (write + 1) % kRingSize;
    if (next != line->ReadIndex.load(std::memory_order_acquire)) {
      write = next;
      line->WriteIndex.store(write, std::memory_order_release);
    } else {
      line->Lost.fetch_add(1, std::memory_order_relaxed);  // the next byte overwrites it
    }
  }
  { std::lock_guard<std::mutex> lock(line->ArrivalMutex); }
  line->Arrival.notify_all();
}

void ReceiveLoop(ComLine* line) {
  char chunk[1000];
  while (!line->StopRequest.load()) {
    const int ready = platform::WaitSerialInput(line->Handle, line->Wake.Get(), -1);
    if (line->StopRequest.load()) break;
    const int n = ready == 1 ? platform::ReadSerialNow(line->Handle, chunk) : 0;
    if (n <= 0) {
      // Nothing readable although poll said so (a pty whose other side has gone): pause
      // one poll step instead of spinning.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    StoreBytes(line, chunk, n);
  }
}

// Takes the byte at the read index; the ring must hold one.
int TakeByte(ComLine* line) {
  const uint32_t read = line->ReadIndex.load(std::memory_order_relaxed);
  const unsigned char byte = static_cast<unsigned char>(line->Ring[read]);
  line->ReadIndex.store((read + 1) % kRingSize, std::memory_order_release);
  if (line->Echo.load()) common::WriteConsole(common::FormatText("%c:", static_cast<int>(byte)));
  return byte;
}

// Waits until the ring holds a byte, the deadline passes or a stop is requested. True when
// a byte is there.
bool WaitForByte(ComLine* line, Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(line->ArrivalMutex);
  return line->Arrival.wait_until(lock, line->Stop, deadline, [line] { return DataIn(line); });
}

}  // namespace

ComPort::ComPort() noexcept = default;

ComPort::ComPort(ComPort&& other) noexcept : line_(std::move(other.line_)), receiver_(std::move(other.receiver_)) {}

ComPort& ComPort::operator=(ComPort&& other) noexcept {
  if (this != &other) {
    Close();
    line_ = std::move(other.line_);
    receiver_ = std::move(other.receiver_);
  }
  return *this;
}

ComPort::~ComPort() { Close(); }

void ComPort::SetEcho(bool on) {
  if (line_) line_->Echo.store(on);
}

void ComPort::StopReceiving() {
  if (!receiver_.joinable()) return;
  line_->StopRequest.store(true);
  platform::SignalWakeEvent(line_->Wake);
  receiver_.join();
}

void ComPort::Close() noexcept {
  if (line_) StopReceiving();
  line_.reset();  // closes the device and the wake event
}

ComPort OpenComPort(std::string_view portName, int* errOut, std::stop_token stop) {
  ComPort port;
  try {
    port.line_ = std::make_unique<ComLine>();
  } catch (const std::bad_alloc&) {
    if (errOut) *errOut = -ENOMEM;
    return ComPort();
  }
  ComLine* line = port.line_.get();
  line->Name = std::string(portName.substr(0, kComNameSize - 1));
  line->Stop = std::move(stop);
  int rc = platform::OpenSerialDevice(portName, line->Handle);
  // Raw before anything is sent, whatever the line settings do later: a port left with echo
  // and line editing on would hand the modem its own replies as commands, and its CRs to
  // the drivers as line feeds.
  if (rc == 0) rc = platform::MakeSerialRaw(line->Handle);
  if (rc == 0) rc = platform::MakeWakeEvent(line->Wake);
  if (rc != 0) {
    if (errOut) *errOut = rc;
    return ComPort();
  }
  try {
    port.receiver_ = std::jthread([line] { ReceiveLoop(line); });
  } catch (const std::system_error&) {
    if (errOut) *errOut = -EAGAIN;  // no thread could be started
    return ComPort();
  }
  if (errOut) *errOut = 0;
  return port;
}

int CloseComPort(ComPort& port) {
  if (!port) return 0;
  port.StopReceiving();
  Delay(kClosePauseMs);
  port = ComPort();
  return 0;
}

std::string ComParameterText(std::string_view name, long baud, char parity, int dataBits, int stopBits) {
  if (stopBits < 1 || stopBits > 2) stopBits = 1;
  if (dataBits < 5 || dataBits > 8) dataBits = 8;
  return common::FormatText("%s: baud=%ld parity=%c data=%d stop=%d", name, baud, static_cast<int>(parity), dataBits,
                            stopBits);
}

int SetComParameters(ComPort* port, long baud, char parity, int dataBits, int stopBits) {
  ComLine* line = LineOf(port);
  if (line == nullptr) return 1;
  const std::string text = ComParameterText(line->Name, baud, parity, dataBits, stopBits);
  const int rc = platform::SetSerialLine(line->Handle, text);
  if (line->Echo.load()) {
    // One step here applies what the trace reports as two: reading the parameter text
    // (refused as EINVAL) and setting the line.
    common::WriteConsole(text + "\n");
    common::WriteConsole(common::FormatText("BuildCommDCB=%d(1=OK)\n", rc == -EINVAL ? 0 : 1));
    common::WriteConsole(common::FormatText("SetCommState=%d(1=OK)\n", rc == 0 ? 1 : 0));
  }
  return rc == 0 ? 0 : 1;
}

bool ComDataAvailable(ComPort* port) {
  const ComLine* line = LineOf(port);
  return line != nullptr && DataIn(line);
}

uint32_t ComBytesLost(ComPort* port) {
  const ComLine* line = LineOf(port);
  return line != nullptr ? line->Lost.load() : 0;
}

int ReadComByte(ComPort* port) {
  ComLine* line = LineOf(port);
  if (line == nullptr) return 0;
  while (!line->StopRequest.load() && !line->Stop.stop_requested()) {
    if (WaitForByte(line, Clock::now() + std::chrono::milliseconds(100))) return TakeByte(line);
  }
  return 0;
}

int ReadComByteTimed(ComPort* port, int limitMs, int& timedOut) {
  if (port == nullptr) return 1;
  ComLine* line = LineOf(port);
  if (line == nullptr) return -1;
  if (WaitForByte(line, Deadline(limitMs))) {
    timedOut = 0;
    return TakeByte(line);
  }
  timedOut = 1;
  return 0;
}

int ReadComBytes(ComPort* port, char* buffer, int count, int limitMs, int& timedOut) {
  if (port == nullptr) return 1;
  ComLine* line = LineOf(port);
  if (line == nullptr) return -1;
  const Clock::time_point deadline = Deadline(limitMs);
  int stored = 0;
  while (stored < count) {
    if (!WaitForByte(line, deadline)) {
      timedOut = 1;
      return stored;
    }
    buffer[stored++] = static_cast<char>(TakeByte(line));
  }
  timedOut = 0;
  return stored;
}

int ReadComLine(ComPort* port, std::span<char> buffer, int limitMs, int& timedOut) {
  if (buffer.empty()) return 0;
  ComLine* line = LineOf(port);
  if (line == nullptr) return -1;
  const Clock::time_point deadline = Deadline(limitMs);
  size_t stored = 0;
  while (stored < buffer.size()) {
    if (!WaitForByte(line, deadline)) {
      timedOut = 1;
      return static_cast<int>(stored);
    }
    const char c = static_cast<char>(TakeByte(line));
    if (c == '\r') {
      buffer[stored] = '\0';
      timedOut = 0;
      return static_cast<int>(stored);
    }
    buffer[stored++] = c;
  }
  timedOut = 0;
  return static_cast<int>(stored);
}

int DrainComInput(ComPort* port) {
  ComLine* line = LineOf(port);
  if (line == nullptr) return 1;
  const Clock::time_point giveUp = Deadline(kDrainLimitMs);
  while (Clock::now() < giveUp) {
    if (!WaitForByte(line, Deadline(kDrainGapMs))) break;
    TakeByte(line);
  }
  return 0;
}

int WriteComText(ComPort* port, std::string_view text) {
  ComLine* line = LineOf(port);
  if (line == nullptr || text.empty()) return 0;
  // The count written is not checked: a write that fails shows as a missing answer from
  // the peer, which every caller waits for with a limit.
  [[maybe_unused]] const int rc = platform::WriteSerial(line->Handle, text);
  return 0;
}

int WriteComByte(ComPort* port, char byte) { return WriteComText(port, std::string_view(&byte, 1)); }

std::string CaretConvert(std::string_view expected) {
  std::string out;
  for (size_t i = 0; i < expected.size() && out.size() < kExpectedTextMax; ++i) {
    if (expected[i] == '^' && i + 1 < expected.size()) {
      out.push_back(static_cast<char>(expected[++i] & 0x3F));
    } else {
      out.push_back(expected[i]);
    }
  }
  return out;
}

int WaitForText(ComPort* port, std::string_view expected, int limitSec) {
  ComLine* line = LineOf(port);
  if (line == nullptr) return 1;
  const std::string want = CaretConvert(expected);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limitSec < 0 ? 0 : limitSec);
  std::string window;
  while (WaitForByte(line, deadline)) {
    window.push_back(static_cast<char>(TakeByte(line) & 0x7F));
    if (window.size() > want.size()) window.erase(0, window.size() - want.size());
    if (window == want) return 0;
  }
  return 1;
}

int Delay(int ms) {
  platform::SleepMs(ms);
  return 0;
}

}  // namespace delivery
