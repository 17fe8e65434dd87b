// tools/corvsim/sim_line.h - the simulator's side of the line: the pseudo-terminal master,
// the baud-rate throttle, the computer's opens and closes of the port, and the record file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "tools/corvsim/term_line.h"

namespace corvsim {

class SimLine : public TermLine {
 public:
  // Takes the pty master, the slave the simulator holds, a watch on the slave's opens and
  // closes, and the record file's path (appended to, one line at a time).
  SimLine(platform::UniqueFd master, platform::UniqueFd slave, platform::UniqueFd watch, std::string recordPath);

  // The next byte from the computer, no earlier than the line rate lets it arrive;
  // kTimeout after timeoutMs without one; kHangup once when the computer closed the port
  // (then the call is over: a real port drops DTR on its last close).
  int ReadByte(int timeoutMs) override;

  // Writes bytes to the computer at the line rate (with a NUL after each byte when NUL
  // noise is on). Bytes the computer does not read before it closes the port are dropped.
  void Write(std::string_view bytes) override;

  // Appends one line to the record file (the line feed is added).
  void Record(const std::string& line) override;

  // 0 turns the throttle off. Rates apply to both directions, 10 bits per byte.
  void SetBaud(long baud) { baud_ = baud; }
  long Baud() const { return baud_; }
  void SetNulBytes(bool on) { nulBytes_ = on; }

  // Bytes counted on the wire in each direction since the start.
  uint64_t BytesIn() const { return bytesIn_; }
  uint64_t BytesOut() const { return bytesOut_; }

  // Pauses ms, still noticing a close of the port; false when the port was closed meanwhile
  // (the hang-up is then reported by the next ReadByte as well).
  bool Pause(int ms);

  // True when a byte from the computer arrived within waitMs (it stays to be read).
  bool InputWithin(int waitMs);

  // True once the computer closed the port and ReadByte has not reported it yet; Take
  // consumes that report.
  bool HungUp() const { return closed_; }
  bool TakeHangup() {
    const bool was = closed_;
    closed_ = false;
    hangupAt_ = 0;
    return was;
  }

  // Forgets pending input (used when the modem hangs up).
  void ClearInput() {
    input_.clear();
    hangupAt_ = 0;
  }

  // Ends the simulation from any thread: every wait returns at once and every read reports
  // a hang-up from now on, so the modem and its terminal end their call and RunModem
  // returns.
  void Stop();
  bool Stopped() const { return stopped_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  // Reads what the master and the watch have; waits at most waitMs. False on hang-up.
  bool Fill(int waitMs);
  // One read of what the computer wrote into input_: bytes read, 0, or -errno.
  int ReadMaster();
  // The computer closed the port; the hang-up comes after the first bytesBefore bytes of
  // input_ (they were written before the close).
  void OnClosed(size_t bytesBefore);

  platform::UniqueFd master_;
  platform::UniqueFd slave_;
  platform::UniqueFd watch_;
  platform::UniqueFd stopEvent_;  // wakes Fill for Stop()
  std::atomic<bool> stopped_{false};
  std::string recordPath_;
  std::deque<char> input_;
  bool closed_ = false;  // a close seen and not yet reported
  size_t hangupAt_ = 0;  // while closed_: bytes of input_ that come before the hang-up
  long baud_ = 0;
  bool nulBytes_ = false;
  Clock::time_point inClock_{};
  Clock::time_point outClock_{};
  uint64_t bytesIn_ = 0;
  uint64_t bytesOut_ = 0;
};

// Bytes as a record shows them: printable ASCII as is, backslash as \\, others as \xHH.
std::string RecordEscape(std::string_view bytes);
// Bytes as upper-case hexadecimal.
std::string HexBytes(std::string_view bytes);

}  // namespace corvsim
