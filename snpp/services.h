// snpp/services.h - what an SNPP session reaches outside itself: the paging server's pipe
// and the copy of its names. The program hands in the real pipe and its one cache; a test
// hands in its own, so no test needs a process-wide stand-in.
#pragma once

#include <functional>
#include <span>

namespace snpp {

class NameCache;

// One request on the paging server's pipe, as common::CallPagingServer makes it: 0 when
// the reply began with "OK", 1 otherwise; the reply text stays in reply (NUL-terminated
// within its capacity, cleared when no reply came).
using PipeCall = std::function<int(std::span<const char> request, std::span<char> reply)>;

class UserTable;

struct SnppServices {
  PipeCall CallPagingServer;
  const NameCache* Names = nullptr;  // what LIST answers from
  const UserTable* Users = nullptr;  // LOGI's users; none: every login is accepted
  bool RequireLogin = false;         // PAGE only after a good LOGI
};

}  // namespace snpp
