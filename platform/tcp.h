// platform/tcp.h - TCP for the SNPP server, the SNPP client and the POP3 client. Servers
// listen on IPv4 and IPv6; clients connect over IPv4.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

// Listens on one local address (dotted IPv4 or IPv6 text) or, with bindAddress empty, on
// every address of both families (IPv4 alone where the machine has no IPv6), at port (0 =
// let the system choose). boundPort gets the port actually bound. 0, or -errno.
[[nodiscard]] int TcpListen(const std::string& bindAddress, uint16_t port, int backlog, UniqueFd& out,
                            uint16_t& boundPort);

// Waits for a connection. peerAddress gets the peer's address as text (an IPv4 peer of a
// dual-stack listener as its dotted address). 0, or -errno.
[[nodiscard]] int TcpAccept(const UniqueFd& listener, UniqueFd& out, std::string& peerAddress);

// Resolves host (a name or dotted address, IPv4 only) into a dotted address. 0, or -errno
// (-EHOSTUNREACH when the name does not resolve).
[[nodiscard]] int ResolveHost(const std::string& host, std::string& dotted);

// Connects to host:port within timeoutMs. 0, or -errno (-EHOSTUNREACH for a name that
// does not resolve, -ETIMEDOUT when the connect did not complete in time).
[[nodiscard]] int TcpConnect(const std::string& host, uint16_t port, int timeoutMs, UniqueFd& out);

// Sends all of data (MSG_NOSIGNAL). 0, or -errno.
[[nodiscard]] int TcpSendAll(const UniqueFd& fd, std::span<const char> data);

// Receives what is there, waiting at most timeoutMs (-1 = no limit). Returns the bytes
// stored, 0 when the peer closed, -ETIMEDOUT when nothing came in time, or -errno.
[[nodiscard]] int TcpReceive(const UniqueFd& fd, std::span<char> buf, int timeoutMs);

// Shuts both directions down, waking a thread blocked in TcpReceive on the same socket.
void TcpShutdown(const UniqueFd& fd);

}  // namespace platform
