// platform/socket_activation.h - listening sockets handed over by systemd (the sd_listen_fds
// protocol: LISTEN_PID names this process, LISTEN_FDS counts descriptors from 3).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

// Takes the descriptors systemd passed to this process, marks them close-on-exec and unsets
// the variables, so a child started later does not take them for its own. Empty when none
// were passed (or they were meant for another process).
std::vector<UniqueFd> TakeSystemdSockets();

// The local port a listening TCP socket is bound to; 0 when it is no TCP socket.
uint16_t LocalTcpPort(const UniqueFd& fd);

}  // namespace platform
