// delivery/com_port.h - a serial port opened for one call: receive thread, ring, timed reads.
//
// A ComPort is opened at the start of a delivery attempt and closed at its end. Its receive
// thread moves incoming bytes (NUL bytes dropped) into a 4096-byte ring, which holds at most
// 4095; bytes arriving while the ring is full overwrite the newest one. The thread blocks in
// poll, so an open port with a quiet line costs no CPU.
//
// Time limits on what the peer says (the reads and WaitForText) are real time: a modem or a
// paging terminal answers at its own pace, whatever CORVEL_TIME_SCALE says. The fixed pauses
// of a call (Delay, and the pause in CloseComPort) are program time, so tests can shorten
// them; at scale 1 they are exactly as long as written.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace delivery {

constexpr int kRingSize = 4096;
constexpr int kComNameSize = 20;  // the name field: at most 19 characters are kept

struct ComLine;  // what the receive thread and the readers share (com_port.cpp)

// Owns one open serial port and its receive thread; move-only. The destructor stops and
// joins the thread and closes the device at once, without CloseComPort's pause, so a port
// dropped on any path never outlives its owner. A default-made ComPort is no port.
class ComPort {
 public:
  ComPort() noexcept;
  ComPort(ComPort&& other) noexcept;
  ComPort& operator=(ComPort&& other) noexcept;
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;
  ~ComPort();

  explicit operator bool() const noexcept { return line_ != nullptr; }

  // Prints every byte a reader takes on the console (the debug trace).
  void SetEcho(bool on);

  // Stops and joins the receive thread; the device stays open. Reads then see no more bytes.
  void StopReceiving();

  ComLine* Line() const noexcept { return line_.get(); }

 private:
  friend ComPort OpenComPort(std::string_view portName, int* errOut, std::stop_token stop);
  void Close() noexcept;

  std::unique_ptr<ComLine> line_;
  std::jthread receiver_;
};

// Opens the port by its page.ini name and starts its receive thread. No port when the
// device cannot be opened (missing, not a tty, held by another program) or the thread
// cannot start; errOut (when given) gets the -errno for the caller's log line. Every wait
// on the port ends early, as a time-out, once stop is requested (a dial thread being
// stopped leaves its call quickly).
ComPort OpenComPort(std::string_view portName, int* errOut = nullptr, std::stop_token stop = {});

// Stops the receive thread, pauses 2000 ms of program time (a close always takes that
// long, so a modem sees the line drop before the next call), closes the device. Always 0;
// the port is then no port.
int CloseComPort(ComPort& port);

// Builds "NAME: baud=%ld parity=%c data=%d stop=%d" and applies it. Stop bits outside 1-2
// become 1, data bits outside 5-8 become 8. 0 success, 1 failure (also for a null or
// closed port).
[[nodiscard]] int SetComParameters(ComPort* port, long baud, char parity, int dataBits, int stopBits);

// The parameter text SetComParameters applies, after the corrections above.
std::string ComParameterText(std::string_view name, long baud, char parity, int dataBits, int stopBits);

// True when the ring holds a byte.
bool ComDataAvailable(ComPort* port);

// Bytes that arrived while the ring was full and were lost, since the port was opened.
uint32_t ComBytesLost(ComPort* port);

// The next byte; waits until one comes or the port is being closed or stopped (then 0).
int ReadComByte(ComPort* port);

// The next byte within limitMs (timedOut 0), or 0 with timedOut 1. A null port gives 1 and
// a port that is not open -1, timedOut untouched.
int ReadComByteTimed(ComPort* port, int limitMs, int& timedOut);

// Stores bytes as they come until count are stored or limitMs (for the whole call) passes.
// Bytes stored; timedOut 0 when count arrived, else 1. Null port 1, port not open -1.
int ReadComBytes(ComPort* port, char* buffer, int count, int limitMs, int& timedOut);

// Reads one line within limitMs for the whole line. A CR ends it and is replaced by a NUL
// (timedOut 0); a full buffer ends it without a terminator (timedOut 0); the limit leaves
// what came without a terminator (timedOut 1): callers clear the buffer first. A line feed
// is an ordinary character. Characters stored; 0 for an empty buffer, -1 for a null or
// closed port.
int ReadComLine(ComPort* port, std::span<char> buffer, int limitMs, int& timedOut);

// Throws away what was received and what keeps arriving with gaps under 12 ms (for at most
// 5 seconds, so a line that never goes quiet cannot hold the caller). 0; 1 for a null or
// closed port.
int DrainComInput(ComPort* port);

// Writes the whole text / one byte. 0 (nothing is written for a null or closed port).
int WriteComText(ComPort* port, std::string_view text);
int WriteComByte(ComPort* port, char byte);

// The expected text after caret conversion: "^X" stands for X & 0x3F ("^M" CR, "^[" ESC);
// at most 100 characters; a lone caret at the end stands for itself.
std::string CaretConvert(std::string_view expected);

// Waits up to limitSec seconds for the expected text anywhere in the stream, comparing the
// low 7 bits of each byte in a sliding window. 0 seen, 1 time-out (also for a null or
// closed port).
// An empty expected text is matched by the first byte that arrives.
int WaitForText(ComPort* port, std::string_view expected, int limitSec);

// Pauses ms milliseconds of program time (platform/clock.h). 0.
int Delay(int ms);

}  // namespace delivery
