// snpp/server.h - corvnet32: start-up, the connection slots, the accept loop and shutdown.
#pragma once

namespace snpp {

constexpr int kSessionSlots = 150;

// The program: returns (or ends the process with) the design's exit status.
int RunSnppServer(int argc, char** argv);

}  // namespace snpp
