// snpp/snpp_session_fuzz.cpp - libFuzzer target: a whole SNPP session (any bytes, cut into
// lines by the connection) against a stand-in pipe that answers every request "OK", with a
// users table so LOGI runs its checks. Also feeds each line to the tokenizer alone.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/log.h"
#include "common/request_record.h"
#include "snpp/command_line.h"
#include "snpp/connection.h"
#include "snpp/hold_time.h"
#include "snpp/name_cache.h"
#include "snpp/users.h"

namespace {

class Discard : public snpp::SnppOutput {
 public:
  void Send(std::string_view bytes) override { sent += bytes.size(); }
  size_t sent = 0;
};

int Pipe(std::span<const char> request, std::span<char> reply) {
  if (request.size() < common::kRequestHeadSize) __builtin_trap();  // the session built a short record
  std::memset(reply.data(), 0, reply.size());
  std::memcpy(reply.data(), "OK", 2);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    common::SetLogFileName("/dev/null");
    common::SetProgramName("CORVNET32");
    return true;
  }();
  (void)once;
  static snpp::NameCache names;
  static snpp::UserTable users = [] {
    snpp::UserTable t;
    std::string problem;
    (void)t.Parse("ann:$6$saltsalt$abcdefghijklmnopqrstuvwxyz\n", problem);
    return t;
  }();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  snpp::SnppServices services{Pipe, &names, &users, size % 2 == 0};
  Discard out;
  snpp::SnppConnection connection(out, services, "192.0.2.1", size % 3 == 0);
  connection.Greet();
  (void)connection.Receive(input);
  // The pure halves on their own.
  (void)snpp::ParseCommandLine(input);
  snpp::HoldTime hold;
  if (snpp::ParseHoldTime(input, hold)) (void)snpp::HoldEpoch(hold);
  return 0;
}
