// snpp/connection.h - one SNPP connection's line assembly and end conditions.
#pragma once

#include <string_view>

#include "snpp/command_line.h"
#include "snpp/commands.h"

namespace snpp {

constexpr size_t kReceiveBytes = 299;  // bytes taken from the socket at a time

class SnppConnection {
 public:
  // out and services outlive the connection.
  SnppConnection(SnppOutput& out, const SnppServices& services);

  // The greeting every connection starts with.
  void Greet();

  // Takes received bytes; each line feed completes a line, which is handled and answered.
  // False when the connection must end now (after QUIT, or after the error limit's 421);
  // the bytes after that line are discarded.
  bool Receive(std::string_view bytes);

  const SnppSession& Session() const { return session_; }

 private:
  // Handles one complete line; false when the connection ends after it.
  bool HandleLine(std::string_view line);

  SnppOutput& out_;
  CommandLineReader lines_;
  SnppSession session_;
};

}  // namespace snpp
