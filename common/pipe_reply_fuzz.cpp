// common/pipe_reply_fuzz.cpp - libFuzzer target: any bytes as the paging server's reply on
// the pipe, answered by a server thread on a socket of this process's own. Each front end's
// call (gateway, large, CGI) must judge it as documented, keep within the caller's area and
// leave the reply terminated; list replies are read as the front ends read them.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/pipe_client.h"
#include "common/request_record.h"
#include "platform/pipe_endpoint.h"

namespace {

constexpr size_t kLongestReply = 20000;  // the server's largest reply

std::mutex replyMutex;
std::string nextReply;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Answers every request with nextReply, for the life of the process.
void Serve(platform::UniqueFd listener) {
  std::vector<char> request(common::kMaxRequestBytes + 1);
  for (;;) {
    platform::UniqueFd conn;
    if (platform::PipeAccept(listener, conn) != 0) continue;
    size_t real = 0;
    if (platform::PipeReceive(conn, request, real) <= 0) continue;
    std::string reply;
    {
      std::lock_guard<std::mutex> lock(replyMutex);
      reply = nextReply;
    }
    (void)platform::PipeSend(conn, reply);
  }
}

void CheckLists(std::span<const char> reply) {
  const int count = common::ListReplyCount(reply);
  for (int i = -1; i <= std::min(count, 60); ++i) Check(common::ListReplyName(reply, i).size() <= 32);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/corvel-fuzz-XXXXXX";
  if (::mkdtemp(folder) == nullptr) std::abort();
  const std::string path = std::string(folder) + "/CORVD";
  ::setenv("CORVEL_PIPE", path.c_str(), 1);
  platform::UniqueFd listener;
  if (platform::PipeListen(path, listener) != 0) std::abort();
  std::thread(Serve, std::move(listener)).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kLongestReply) return 0;  // an empty message reads as a closed pipe
  const std::string reply(reinterpret_cast<const char*>(data), size);
  {
    std::lock_guard<std::mutex> lock(replyMutex);
    nextReply = reply;
  }
  common::RequestRecord head{};
  head.RequestType = common::kStatusReport;
  const std::vector<char> request = common::BuildRequest(head, "", "");
  const bool ok = size >= 2 && reply[0] == 'O' && reply[1] == 'K';

  std::vector<char> area(3100, 'x');
  const int gateway = common::CallPagingServer(request, area);
  Check(gateway == ((ok && size <= 3099) ? 0 : 1));
  Check(std::memcmp(area.data(), reply.data(), std::min(size, area.size() - 1)) == 0);
  Check(area[std::min(size, area.size() - 1)] == '\0');
  CheckLists(std::span<const char>(area.data(), std::min(size, area.size() - 1)));

  std::vector<char> large(kLongestReply + 1, 'x');
  Check(common::CallPagingServerLarge(request, large) == (ok ? 0 : 1));
  Check(large[size] == '\0');

  std::vector<char> cgi(3100, 'x');
  int bytesRead = -1;
  bool remote = true;
  const int judged = common::CallPagingServerCgi("", request, cgi, bytesRead, remote);
  Check(!remote);
  Check(bytesRead == static_cast<int>(std::min(size, cgi.size() - 1)));
  Check(cgi[static_cast<size_t>(bytesRead)] == '\0');
  const bool err = size >= 4 && reply.compare(0, 4, "ERR:") == 0;
  Check(judged == ((bytesRead >= 3000 || !err) ? 0 : 1));
  CheckLists(std::span<const char>(cgi.data(), static_cast<size_t>(bytesRead)));
  return 0;
}
