// platform/pipe_endpoint.h - the request pipe as a Unix-domain SOCK_SEQPACKET socket.
//
// One send is one request and one recv is one reply, as on a message-mode named pipe.
// Every program finds the socket with PipePath() (platform/pipe_path.h), so they all agree.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "platform/pipe_path.h"
#include "platform/unique_fd.h"

namespace platform {

inline constexpr int kPipeBacklog = 100;  // the pipe's "maximum instances"

// How long a server's connection may stay silent before the server drops it, so that idle
// clients cannot hold the pipe threads.
inline constexpr int kPipeReceiveDeadlineMs = 5000;

// How long a client waits for the reply to a request it has sent. The server has ten pipe
// threads; a request queued behind a full backlog of silent connections is read after at
// most kPipeBacklog / 10 receive deadlines. The wait covers that and the handling, so a
// client never gives up on a request the server goes on to queue.
inline constexpr int kPipeReplyWaitMs = kPipeBacklog / 10 * kPipeReceiveDeadlineMs + 10000;

// Creates the listening socket at path (backlog 100). The socket's folder is made when
// missing (0700 for the user's private folder, else 0755) and must then be a real folder of
// this user that group and others cannot write (else -ELOOP, -EPERM or -EACCES: someone else
// could swap the socket). The socket gets mode 0666 for everyone or 0660 for the group, set
// through the umask at bind time, never by a later chmod of the path. A stale socket file
// that nobody answers on is removed first; a live server on the path is left alone and
// -EADDRINUSE returned. 0, or -errno.
[[nodiscard]] int PipeListen(const std::string& path, UniqueFd& out, PipeAccess access = PipeAccess::kEveryone);

// Waits for the next client on a listening socket. The connection's receives give up after
// receiveDeadlineMs of silence (0: wait for ever). 0, or -errno.
[[nodiscard]] int PipeAccept(const UniqueFd& listener, UniqueFd& out, int receiveDeadlineMs = kPipeReceiveDeadlineMs);

// Receives one message into buf. Returns the bytes stored (at most buf.size()), 0 when the
// client closed the connection, -ETIMEDOUT when the receive deadline passed, or -errno.
// realLength gets the message's full length, which is larger than the return value when the
// message did not fit (it is never cut silently).
[[nodiscard]] int PipeReceive(const UniqueFd& conn, std::span<char> buf, size_t& realLength);

// True when the client has closed its end of conn. Its last message may still be there to
// read: a client that gave up waiting leaves its request behind.
bool PipePeerGone(const UniqueFd& conn);

// Sends one message. 0, or -errno (a client that went away gives -EPIPE, never SIGPIPE).
[[nodiscard]] int PipeSend(const UniqueFd& conn, std::span<const char> message);

// One client transaction: connect, send request, receive one reply into reply, close.
// No socket file: fails at once with -ENOENT. Refused or busy (a full backlog included):
// retries for up to connectWaitMs, and the request is not sent. Once sent, the reply is
// awaited for replyWaitMs (-ETIMEDOUT after it). A reply longer than reply is cut to it and
// handed over as read; realLength (when given) gets its full length, for the caller to
// judge. A socket in this user's private folder is used only when that folder passes
// CheckPipeFolder (-EPERM otherwise). Returns the bytes stored, or -errno.
[[nodiscard]] int PipeTransact(const std::string& path, std::span<const char> request, std::span<char> reply,
                               int connectWaitMs, int replyWaitMs = kPipeReplyWaitMs, size_t* realLength = nullptr);

// Wakes every thread waiting in PipeAccept on listener (they get -EINVAL) and takes no
// more connections; for a stop, which must not depend on the socket file still being there.
void PipeStopAccepting(const UniqueFd& listener);

// Presence test: connects and closes without writing. True when a server answered (a
// server whose backlog is full counts: it is there).
bool PipeAnswers(const std::string& path);

}  // namespace platform
