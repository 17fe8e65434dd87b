// snpp/server.h - corvnet32: start-up, the connection slots, the accept loop and shutdown.
#pragma once

namespace snpp {

constexpr int kSessionSlots = 150;

// The program: returns (or ends the process with) its exit status: 0 normal end and early
// start-up failures, 3 bind failed five times, 4 no socket, 5 listening socket lost.
int RunSnppServer(int argc, char** argv);

}  // namespace snpp
