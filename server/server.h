// server/server.h - corvd32 from start to running: the start-up sequence, the threads and
// their owners, and the end.
//
// Start-up, in order: banner and first log line, the folder's lock (one server per folder),
// the server state with its defaults, page.ini, the page store with the pages it holds (or
// at.dat's on a first start), err.dat (when page.ini asks for Debug), the pipe and the
// service threads, the "started successfully" line, the command line's debug switch, then
// the dial threads and the router. The server runs until a stop signal and then stops in
// order: no more requests, each dial thread finishes the page on the line and records its
// outcome, at.dat and the store are written, and the "ended successfully" line.
#pragma once

#include <cstdint>
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
  // An orderly stop: the service threads as in Stop, then each dial thread finishes the page
  // on its line (for at most boundMs of program time) before it is stopped and joined.
  void StopOrderly(int64_t boundMs);

 private:
  void StopServiceThreads();  // the pipe, AT, changed-INI and router threads
};

// How long an orderly stop waits for the dial threads to finish their pages.
constexpr int64_t kFinishPageMs = 30000;
// The lock file that keeps a second server out of the working folder.
constexpr const char* kLockFileName = "corvd32.lock";

// The ten pipe threads (on one listening socket at pipePath), then the AT delay, ChangedAt
// and changed-INI threads. A thread that cannot start is reported on the console; start-up
// goes on. A pipe thread whose listening socket fails asks main to end the program
// (platform::RequestProgramStop). 0, or 1 when the pipe could not be created ("Error: Creat
// Pipe(ReceiveThread)" logged; no thread started).
int StartServiceThreads(core::ServerState& state, ServerThreads& threads, const std::string& pipePath);

// Marks the dial threads started, starts one dial thread per port context (each owned by
// its context) and the router thread.
void StartDialThreads(core::ServerState& state, ServerThreads& threads);

// Starts a dial thread for every port context that has none yet (ports first named by a
// reload); their contexts own them, so ServerThreads::Stop ends them too. Does nothing
// before StartDialThreads ran.
void StartNewDialThreads(core::ServerState& state);

// corvd32 as main owns it: the lock first, then the state, so the threads go before it and
// the lock is let go last.
struct Server {
  platform::UniqueFd Lock;
  std::unique_ptr<core::ServerState> State;
  ServerThreads Threads;
};

// The start-up sequence above, up to all threads running. 0, or 1 when the server must not
// run: another server holds the folder's lock, the state could not be made ("Calloc error"
// printed), the page store cannot be had, or the pipe cannot be created (each logged).
int StartServer(int argc, char** argv, Server& server);

// Saves a changed AT table and logs "Paging server ended successfully".
void Shutdown(core::ServerState& state);

// Waits for a stop signal, then stops in order and shuts down. Returns the exit status (0)
// for main. When a pipe thread asked for the end (its socket failed, already logged), the
// same orderly stop runs without the "ended successfully" line.
int WaitForStop(Server& server);

}  // namespace server
