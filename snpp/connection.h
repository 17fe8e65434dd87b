// snpp/connection.h - one SNPP connection's line assembly and end conditions.
#pragma once

#include <string>
#include <string_view>

#include "snpp/command_line.h"
#include "snpp/commands.h"

namespace snpp {

constexpr size_t kReceiveBytes = 299;  // bytes taken from the socket at a time

class SnppConnection {
 public:
  // out and services outlive the connection. peer is the client's address (for the log);
  // reportsAllowed says whether it may use MSTA and MLOG.
  SnppConnection(SnppOutput& out, const SnppServices& services, std::string peer = {}, bool reportsAllowed = true);

  // The greeting every connection starts with.
  void Greet();

  // Takes received bytes; each line feed completes a line, which is handled and answered.
  // False when the connection must end now (after QUIT, or after the 421 of the error
  // limit or of the third failed LOGI);
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
