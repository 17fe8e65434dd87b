// server/server.h - corvd32 from start to running: the start-up steps, the threads and
// the orderly end.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/server_state.h"
#include "platform/unique_fd.h"

namespace server {

// The service threads and what they share. Owned by main for the life of the process;
// tests destroy it with Stop() to end the threads they started.
struct ServerThreads {
  std::string PipePath;
  platform::UniqueFd Listener;
  std::vector<std::jthread> Threads;
  ~ServerThreads();
  void Stop();  // asks every thread to stop, wakes the pipe threads and joins them all
};

// Step 8: the ten pipe threads (on one listening socket at pipePath), then the AT delay,
// ChangedAt and changed-INI threads. A thread that cannot start is reported on the
// console; start-up goes on.
void StartServiceThreads(core::ServerState& state, ServerThreads& threads, const std::string& pipePath);

// Step 12: marks the dial threads started, starts one dial thread per port context and the
// router thread.
void StartDialThreads(core::ServerState& state, ServerThreads& threads);

// Starts a dial thread for every port context that has none yet (ports first named by a
// reload). Does nothing before StartDialThreads ran.
void StartNewDialThreads(core::ServerState& state);

// Logs "Paging server ended successfully", saves a changed AT table first, and ends the
// process at once with status 0.
[[noreturn]] void Shutdown(core::ServerState& state);

// The whole program: banner, start-up steps 1-12, then waits for a stop signal and shuts
// down. Returns only on a start-up failure (status 1).
int RunServer(int argc, char** argv);

}  // namespace server
