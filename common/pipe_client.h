// common/pipe_client.h - the front ends' side of the request pipe: one request, one reply.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace common {

// How long a busy or refused pipe is tried before the request is sent; once sent, the reply
// is awaited for the server's worst case (platform::kPipeReplyWaitMs).
constexpr int kPipeWaitMs = 10000;

// The pipe to use: the local socket for an empty host name or ".". Any other host is a
// remote pipe, which this platform does not serve: remote is set and the path is empty.
std::string PagingServerPipePath(std::string_view hostName, bool& remote);

// Gateway variant (corvnet32, corvpop32): clears the first 3000 bytes of reply (which holds
// at least 3100), runs the transaction and succeeds only when the reply begins with "OK".
// 0 success, 1 failure (no server, busy for 10 s, reply too long, or not "OK"); the reply
// text stays in reply either way, NUL-terminated within its capacity.
[[nodiscard]] int CallPagingServer(std::span<const char> request, std::span<char> reply);

// The gateway variant for replies that may pass 3100 bytes (the counters request): the
// whole of reply (up to the server's 20000-byte reply buffer) takes the reply, less one byte
// for the terminator. Same results.
[[nodiscard]] int CallPagingServerLarge(std::span<const char> request, std::span<char> reply);

// CGI variant (corvweb): reply of 3100 bytes; bytesRead gets the reply's length. No bytes
// read: failure. 3000 or more (a longer reply is cut to the area): success, used as it is
// (terminated within the area). Else
// terminated at its length; failure when it begins with "ERR:". A remote hostName fails
// at once with remote set, so the caller can say that remote servers need SNPP here.
[[nodiscard]] int CallPagingServerCgi(std::string_view hostName, std::span<const char> request, std::span<char> reply,
                                      int& bytesRead, bool& remote);

// True when the local paging server answers on its pipe (connects and closes, writes nothing).
bool IsPagingServerRunning();

// Start-up wait of the gateways: polls every 2 s; logs "Waiting for Paging Server to start"
// after the first failed poll and, after the 120th, "Timeout - Paging Server has not
// started". 0 once the server answers, 1 after the timeout (the caller's main then ends
// with status 0).
[[nodiscard]] int WaitForPagingServer(std::string_view programName);

}  // namespace common
