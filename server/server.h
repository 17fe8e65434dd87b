// server/server.h - corvd32 from start to running: the start-up sequence, the threads and
// their owners, and the end.
//
// Start-up, in order: banner and first log line, the server state with its defaults, page.ini
// and at.dat, err.dat (when page.ini asks for Debug), the service threads, the "started
// successfully" line, the command line's debug switch, then the dial threads and the router.
// The server then runs until a stop signal and ends at once: queues in memory are lost, the
// AT queue is saved first.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/server_state.h"
#include "platform/unique_fd.h"

namespace server {

// The service threads, the router and what they share. Stop() (or the destructor) asks
// every thread to stop and joins it, the dial threads of every port included, so a test can
// end all it started; a running corvd32 is ended by main without joining anything.
struct ServerThreads {
  core::ServerState* State = nullptr;  // whose ports' dial threads Stop() also ends
  std::string PipePath;
  platform::UniqueFd Listener;
  std::vector<std::jthread> Threads;
  ServerThreads() = default;
  ServerThreads(const ServerThreads&) = delete;
  ServerThreads& operator=(const ServerThreads&) = delete;
  ~ServerThreads();
  void Stop();  // stops and joins the service threads first, then each port's dial thread
};

// The ten pipe threads (on one listening socket at pipePath), then the AT delay, ChangedAt
// and changed-INI threads. A thread that cannot start is reported on the console; start-up
// goes on. A pipe thread whose listening socket fails asks main to end the program
// (platform::RequestProgramStop).
void StartServiceThreads(core::ServerState& state, ServerThreads& threads, const std::string& pipePath);

// Marks the dial threads started, starts one dial thread per port context (each owned by
// its context) and the router thread.
void StartDialThreads(core::ServerState& state, ServerThreads& threads);

// Starts a dial thread for every port context that has none yet (ports first named by a
// reload); their contexts own them, so ServerThreads::Stop ends them too. Does nothing
// before StartDialThreads ran.
void StartNewDialThreads(core::ServerState& state);

// corvd32 as main owns it: the state first, so the threads go before it.
struct Server {
  std::unique_ptr<core::ServerState> State;
  ServerThreads Threads;
};

// The start-up sequence above, up to all threads running. 0, or 1 when the state could not
// be made ("Calloc error" printed).
int StartServer(int argc, char** argv, Server& server);

// Saves a changed AT table and logs "Paging server ended successfully".
void Shutdown(core::ServerState& state);

// Waits for a stop signal, then shuts down. Returns the exit status (0) for main, which
// ends the process at once without waiting for the threads. When a pipe thread asked for
// the end (its socket failed, already logged) only the AT table is saved.
int WaitForStop(Server& server);

}  // namespace server
