// modem/com_port.h - a serial port opened for one call: receive thread, ring, timed reads.
//
// A ComPort is opened at the start of a delivery attempt and closed at its end. Its receive
// thread moves incoming bytes (NUL bytes dropped) into a 4096-byte ring, which holds at most
// 4095; bytes arriving while the ring is full overwrite the newest one. The thread blocks in
// poll, so an open port with a quiet line costs no CPU. Every time limit here is real time
// (CORVEL_TIME_SCALE does not shorten the protocols' limits).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "platform/unique_fd.h"

namespace modem {

constexpr int kRingSize = 4096;
constexpr int kComNameSize = 20;  // the name field: at most 19 characters are kept

struct ComPort {
  std::atomic<bool> Open{false};
  std::atomic<bool> Echo{false};      // print every byte taken by a reader on the console
  std::atomic<bool> StopRequest{false};
  std::string Name;                   // as opened, cut to 19 characters
  platform::UniqueFd Handle;
  platform::UniqueFd Wake;            // wakes the receive thread for the stop request
  char Ring[kRingSize] = {};
  std::atomic<uint32_t> WriteIndex{0};  // moved by the receive thread only
  std::atomic<uint32_t> ReadIndex{0};   // moved by the reader only
  std::mutex ArrivalMutex;              // only for the condition below, never for the ring
  std::condition_variable Arrival;      // signalled when bytes were stored
  std::thread ReceiveThread;
};

using ComPortPtr = std::unique_ptr<ComPort>;

// Opens the port by its page.ini name and starts its receive thread. Null when the device
// cannot be opened (missing, not a tty, held by another program); errOut (when given) gets
// the -errno for the caller's log line.
ComPortPtr OpenComPort(std::string_view portName, int* errOut = nullptr);

// Stops the receive thread, waits 2000 ms (a close always takes at least two seconds, as
// it did on the original ports), closes the device and frees the object. Always 0.
int CloseComPort(ComPortPtr& port);

// Builds "NAME: baud=%ld parity=%c data=%d stop=%d" and applies it. Stop bits outside 1-2
// become 1, data bits outside 5-8 become 8. 0 success, 1 failure (also for a null port).
[[nodiscard]] int SetComParameters(ComPort* port, long baud, char parity, int dataBits, int stopBits);

// The parameter text SetComParameters applies, after the corrections above.
std::string ComParameterText(std::string_view name, long baud, char parity, int dataBits, int stopBits);

// True when the ring holds a byte.
bool ComDataAvailable(ComPort* port);

// The next byte; waits until one comes or the port is being closed (then 0).
int ReadComByte(ComPort* port);

// The next byte within limitMs (timedOut 0), or 0 with timedOut 1. A null port gives 1 and a
// port that is not open -1, timedOut untouched.
int ReadComByteTimed(ComPort* port, int limitMs, int& timedOut);

// Stores bytes as they come until count are stored or limitMs (for the whole call) passes.
// Bytes stored; timedOut 0 when count arrived, else 1. Null port 1, port not open -1.
int ReadComBytes(ComPort* port, char* buffer, int count, int limitMs, int& timedOut);

// Reads one line within limitMs for the whole line. A CR ends it and is replaced by a NUL
// (timedOut 0); a full buffer ends it without a terminator (timedOut 0); the limit leaves
// what came without a terminator (timedOut 1): callers clear the buffer first. A line feed
// is an ordinary character. Characters stored; 0 for an empty buffer, -1 for a closed port.
int ReadComLine(ComPort* port, std::span<char> buffer, int limitMs, int& timedOut);

// Throws away what was received and what keeps arriving with gaps under 12 ms (for at most
// 5 seconds, so a line that never goes quiet cannot hold the caller). 0; 1 for a null or
// closed port.
int DrainComInput(ComPort* port);

// Writes the whole text / one byte. 0 (nothing is written for a null port).
int WriteComText(ComPort* port, std::string_view text);
int WriteComByte(ComPort* port, char byte);

// The expected text after caret conversion: "^X" stands for X & 0x3F ("^M" CR, "^[" ESC);
// at most 100 characters; a lone caret at the end stands for itself.
std::string CaretConvert(std::string_view expected);

// Waits up to limitSec seconds for the expected text anywhere in the stream, comparing the
// low 7 bits of each byte in a sliding window. 0 seen, 1 time-out (also for a null port).
// An empty expected text is matched by the first byte that arrives.
int WaitForText(ComPort* port, std::string_view expected, int limitSec);

// Sleeps ms milliseconds of real time. 0.
int Delay(int ms);

}  // namespace modem
