// snpp/connection.h - one SNPP connection's line assembly and end conditions.
#pragma once

#include <string>
#include <string_view>

#include "snpp/commands.h"

namespace snpp {

constexpr size_t kLineCapacity = 4000;  // characters held of one line
constexpr size_t kReceiveBytes = 299;   // bytes taken from the socket at a time

class SnppConnection {
 public:
  explicit SnppConnection(SnppOutput& out);

  // The greeting every connection starts with.
  void Greet();

  // Takes received bytes; each line feed completes a line, which is handled and answered.
  // False when the connection must end now (after QUIT, or after the error limit's 421);
  // the bytes after that line are discarded.
  bool Receive(std::string_view bytes);

  const SnppSession& Session() const { return session_; }

 private:
  SnppOutput& out_;
  std::string line_;
  SnppSession session_;
};

}  // namespace snpp
