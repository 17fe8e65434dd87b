// server/pipe_request_fuzz.cpp - libFuzzer target: any bytes as one message on the request
// pipe, handled as a pipe thread handles it, against a server state loaded from a small
// directory (two systems, three persons, a group). The state lives on across inputs, so
// queues fill and AT pages pile up as they would; it is made anew now and then.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "server/pipe_server.h"
#include "tests/support/test_state.h"

namespace {

constexpr int kInputsPerState = 500;
constexpr size_t kLongestReply = 20000;

std::unique_ptr<core::ServerState> state;
int inputs = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const int null = ::open("/dev/null", O_WRONLY);  // log lines also go to the console
  if (null >= 0) {
    ::dup2(null, 1);
    ::close(null);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!state || ++inputs % kInputsPerState == 0) state = core::StateFromIni(core::kTwoPortIni, "/dev/null");
  std::vector<char> buffer(common::kMaxRequestBytes + 1, '\0');
  const size_t length = std::min(size, common::kMaxRequestBytes);
  std::memcpy(buffer.data(), data, length);
  std::string reply;
  server::HandleMessage(*state, buffer, length, size, reply);
  if (reply.empty() || reply.size() > kLongestReply) __builtin_trap();
  return 0;
}
