// modem/com_port.cpp - the serial port of one call, over platform/serial_device.
#include "modem/com_port.h"

#include <chrono>
#include <exception>

#include "common/format_text.h"
#include "common/log.h"
#include "platform/serial_device.h"

namespace modem {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline(int limitMs) { return Clock::now() + std::chrono::milliseconds(limitMs < 0 ? 0 : limitMs); }

void ReceiveLoop(ComPort* port) {
  char chunk[1000];
  while (!port->StopRequest.load()) {
    const int ready = platform::WaitSerialInput(port->Handle, port->Wake.Get(), -1);
    if (port->StopRequest.load()) break;
    int n = ready == 1 ? platform::ReadSerialNow(port->Handle, chunk) : 0;
    if (n <= 0) {
      // Nothing readable although poll said so (a pty whose other side has gone): pause
      // one poll step instead of spinning.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    uint32_t write = port->WriteIndex.load(std::memory_order_relaxed);
    for (int i = 0; i < n; ++i) {
      if (chunk[i] == '\0') continue;  // the line's NUL bytes never reach the ring
      port->Ring[write] = chunk[i];
      const uint32_t next = (write + 1) % kRingSize;
      if (next != port->ReadIndex.load(std::memory_order_acquire)) {
        write = next;
        port->WriteIndex.store(write, std::memory_order_release);
      }
    }
    {
      std::lock_guard<std::mutex> lock(port->ArrivalMutex);
    }
    port->Arrival.notify_all();
  }
}

// Takes the byte at the read index; the ring must hold one.
int TakeByte(ComPort* port) {
  const uint32_t read = port->ReadIndex.load(std::memory_order_relaxed);
  const unsigned char byte = static_cast<unsigned char>(port->Ring[read]);
  port->ReadIndex.store((read + 1) % kRingSize, std::memory_order_release);
  if (port->Echo.load()) common::WriteConsole(common::FormatText("%c:", static_cast<int>(byte)));
  return byte;
}

// Waits until the ring holds a byte or the deadline passes. True when a byte is there.
bool WaitForByte(ComPort* port, Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(port->ArrivalMutex);
  return port->Arrival.wait_until(lock, deadline, [port] { return ComDataAvailable(port); });
}

}  // namespace

ComPortPtr OpenComPort(std::string_view portName, int* errOut) {
  ComPortPtr port;
  try {
    port = std::make_unique<ComPort>();
  } catch (const std::exception&) {
    if (errOut) *errOut = -12;  // ENOMEM
    return nullptr;
  }
  port->Name = std::string(portName.substr(0, kComNameSize - 1));
  int rc = platform::OpenSerialDevice(portName, port->Handle);
  if (rc == 0) rc = platform::MakeWakeEvent(port->Wake);
  if (rc != 0) {
    if (errOut) *errOut = rc;
    return nullptr;
  }
  try {
    port->ReceiveThread = std::thread(ReceiveLoop, port.get());
  } catch (const std::exception&) {
    if (errOut) *errOut = -11;  // EAGAIN
    return nullptr;
  }
  port->Open.store(true);
  if (errOut) *errOut = 0;
  return port;
}

int CloseComPort(ComPortPtr& port) {
  if (!port) return 0;
  port->StopRequest.store(true);
  platform::SignalWakeEvent(port->Wake);
  Delay(2000);
  if (port->ReceiveThread.joinable()) port->ReceiveThread.join();
  port->Handle.Reset();
  port->Open.store(false);
  port.reset();
  return 0;
}

std::string ComParameterText(std::string_view name, long baud, char parity, int dataBits, int stopBits) {
  if (stopBits < 1 || stopBits > 2) stopBits = 1;
  if (dataBits < 5 || dataBits > 8) dataBits = 8;
  return common::FormatText("%s: baud=%ld parity=%c data=%d stop=%d", name, baud, static_cast<int>(parity),
                            dataBits, stopBits);
}

int SetComParameters(ComPort* port, long baud, char parity, int dataBits, int stopBits) {
  if (port == nullptr) return 1;
  const std::string text = ComParameterText(port->Name, baud, parity, dataBits, stopBits);
  const int rc = platform::SetSerialLine(port->Handle, text);
  if (port->Echo.load()) {
    // The two steps of the original (build the block, set the state) collapse into one here.
    common::WriteConsole(text + "\n");
    common::WriteConsole(common::FormatText("BuildCommDCB=%d(1=OK)\n", rc == -22 ? 0 : 1));
    common::WriteConsole(common::FormatText("SetCommState=%d(1=OK)\n", rc == 0 ? 1 : 0));
  }
  return rc == 0 ? 0 : 1;
}

bool ComDataAvailable(ComPort* port) {
  return port != nullptr &&
         port->ReadIndex.load(std::memory_order_relaxed) != port->WriteIndex.load(std::memory_order_acquire);
}

int ReadComByte(ComPort* port) {
  if (port == nullptr) return 0;
  while (port->Open.load() && !port->StopRequest.load()) {
    if (WaitForByte(port, Clock::now() + std::chrono::milliseconds(100))) return TakeByte(port);
  }
  return 0;
}

int ReadComByteTimed(ComPort* port, int limitMs, int& timedOut) {
  if (port == nullptr) return 1;
  if (!port->Open.load()) return -1;
  if (WaitForByte(port, Deadline(limitMs))) {
    timedOut = 0;
    return TakeByte(port);
  }
  timedOut = 1;
  return 0;
}

int ReadComBytes(ComPort* port, char* buffer, int count, int limitMs, int& timedOut) {
  if (port == nullptr) return 1;
  if (!port->Open.load()) return -1;
  const Clock::time_point deadline = Deadline(limitMs);
  int stored = 0;
  while (stored < count) {
    if (!WaitForByte(port, deadline)) {
      timedOut = 1;
      return stored;
    }
    buffer[stored++] = static_cast<char>(TakeByte(port));
  }
  timedOut = 0;
  return stored;
}

int ReadComLine(ComPort* port, std::span<char> buffer, int limitMs, int& timedOut) {
  if (buffer.empty()) return 0;
  if (port == nullptr || !port->Open.load()) return -1;
  const Clock::time_point deadline = Deadline(limitMs);
  size_t stored = 0;
  while (stored < buffer.size()) {
    if (!WaitForByte(port, deadline)) {
      timedOut = 1;
      return static_cast<int>(stored);
    }
    const char c = static_cast<char>(TakeByte(port));
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
  if (port == nullptr || !port->Open.load()) return 1;
  const Clock::time_point giveUp = Deadline(5000);
  int timedOut = 0;
  while (Clock::now() < giveUp) {
    ReadComByteTimed(port, 12, timedOut);
    if (timedOut) break;
  }
  return 0;
}

int WriteComText(ComPort* port, std::string_view text) {
  if (port == nullptr || text.empty()) return 0;
  // The count written is not checked, as on the original ports: a failed write shows as
  // a missing answer from the peer.
  [[maybe_unused]] const int rc = platform::WriteSerial(port->Handle, text);
  return 0;
}

int WriteComByte(ComPort* port, char byte) { return WriteComText(port, std::string_view(&byte, 1)); }

std::string CaretConvert(std::string_view expected) {
  std::string out;
  for (size_t i = 0; i < expected.size() && out.size() < 100; ++i) {
    if (expected[i] == '^' && i + 1 < expected.size()) {
      out.push_back(static_cast<char>(expected[++i] & 0x3F));
    } else {
      out.push_back(expected[i]);
    }
  }
  return out;
}

int WaitForText(ComPort* port, std::string_view expected, int limitSec) {
  if (port == nullptr || !port->Open.load()) return 1;
  const std::string want = CaretConvert(expected);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limitSec < 0 ? 0 : limitSec);
  std::string window;
  while (WaitForByte(port, deadline)) {
    window.push_back(static_cast<char>(TakeByte(port) & 0x7F));
    if (window.size() > want.size()) window.erase(0, window.size() - want.size());
    if (window == want) return 0;
  }
  return 1;
}

int Delay(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return 0;
}

}  // namespace modem
