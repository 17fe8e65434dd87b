// tools/corvsim/term_line.h - what a paging terminal needs of its line: bytes in with a
// limit, bytes out, and the record. The pty behind the simulated modem is one such line;
// a TCP or TLS connection to the simulated terminal on the network is another, so the same
// terminal logic answers on both.
#pragma once

#include <string>
#include <string_view>

namespace corvsim {

class TermLine {
 public:
  static constexpr int kTimeout = -1;  // ReadByte: nothing within the limit
  static constexpr int kHangup = -2;   // ReadByte: the computer closed the line (or a stop)

  virtual ~TermLine() = default;
  // The next byte from the computer; kTimeout after timeoutMs without one; kHangup once
  // the computer has closed the line.
  virtual int ReadByte(int timeoutMs) = 0;
  // Writes bytes to the computer.
  virtual void Write(std::string_view bytes) = 0;
  // Appends one line to the record file (the line feed is added).
  virtual void Record(const std::string& line) = 0;
};

}  // namespace corvsim
