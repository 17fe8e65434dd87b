// platform/pipe_endpoint.h - the request pipe as a Unix-domain SOCK_SEQPACKET socket.
//
// One send is one request and one recv is one reply, as on a message-mode named pipe.
// Every program finds the socket with PipePath(), so they all agree.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

// CORVEL_PIPE when set, else /tmp/corvel/CORVD.
std::string PipePath();

// Creates the listening socket at path (its folder is made 0755 when missing, the socket
// file 0666, backlog 100). A stale socket file that nobody answers on is removed first;
// a live server on the path is left alone and -EADDRINUSE returned. 0, or -errno.
[[nodiscard]] int PipeListen(const std::string& path, UniqueFd& out);

// Waits for the next client on a listening socket. 0, or -errno.
[[nodiscard]] int PipeAccept(const UniqueFd& listener, UniqueFd& out);

// Receives one message into buf. Returns the bytes stored (at most buf.size()), 0 when the
// client closed the connection, or -errno. realLength gets the message's full length, which
// is larger than the return value when the message did not fit (it is never cut silently).
[[nodiscard]] int PipeReceive(const UniqueFd& conn, std::span<char> buf, size_t& realLength);

// Sends one message. 0, or -errno (a client that went away gives -EPIPE, never SIGPIPE).
[[nodiscard]] int PipeSend(const UniqueFd& conn, std::span<const char> message);

// One client transaction: connect, send request, receive one reply into reply, close.
// No socket file: fails at once with -ENOENT. Refused or busy: retries for up to waitMs.
// Returns the reply's length, or -EMSGSIZE when it was longer than reply, or -errno.
[[nodiscard]] int PipeTransact(const std::string& path, std::span<const char> request, std::span<char> reply,
                               int waitMs);

// Presence test: connects and closes without writing. True when a server answered.
bool PipeAnswers(const std::string& path);

}  // namespace platform
