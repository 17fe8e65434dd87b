// server/server.cpp - the start-up sequence of corvd32 and its threads.
#include "server/server.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "common/config_path.h"
#include "common/log.h"
#include "common/version.h"
#include "core/configuration_load.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "core/sqlite_page_store.h"
#include "platform/clock.h"
#include "platform/pipe_endpoint.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "platform/state_file.h"
#include "server/at_queue.h"
#include "server/configuration.h"
#include "server/dial_thread.h"
#include "server/ip_worker.h"
#include "server/pipe_server.h"
#include "server/router.h"

namespace server {
namespace {

template <typename Body>
bool StartThread(ServerThreads& threads, Body body) {
  try {
    threads.Threads.emplace_back(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void StartPipeThreads(core::ServerState& state, ServerThreads& threads) {
  for (int i = 0; i < kPipeThreads; ++i) {
    const bool started = StartThread(threads, [&state, &threads](std::stop_token stop) {
      // The listening socket failed: nothing can reach the server any more.
      if (PipeServerThread(state, threads.Listener, stop) == kPipeBroken) platform::RequestProgramStop();
    });
    if (!started) common::WriteConsole("Error Starting NamePipe Thread\n");
  }
}

}  // namespace

ServerThreads::~ServerThreads() { Stop(); }

void ServerThreads::StopOrderly(int64_t boundMs) {
  // Service threads first: once they are joined no request is taken and nothing new reaches
  // the queues.
  std::vector<core::DialContext*> ports;
  if (State != nullptr) {
    const int count = State->PortCount.load();
    for (int p = 0; p < count; ++p) ports.push_back(State->Ports[static_cast<size_t>(p)].get());
  }
  for (core::DialContext* dc : ports) AskDialThreadToFinish(*dc);
  if (State != nullptr) AskIpWorkersToFinish(*State);
  StopServiceThreads();
  const uint64_t deadline = platform::TickMs() + static_cast<uint64_t>(boundMs);
  for (core::DialContext* dc : ports) {
    while (!DialThreadFinished(*dc) && platform::TickMs() < deadline) platform::SleepMs(10);
  }
  for (core::DialContext* dc : ports) StopDialThread(*dc);
  if (State != nullptr) {
    WaitIpWorkers(*State, deadline);
    StopIpWorkers(*State);
  }
}

void ServerThreads::StopServiceThreads() {
  for (auto& t : Threads) t.request_stop();
  // Pipe threads wait in accept (woken here, whether or not the socket file is still there
  // to connect to) or in a receive, which ends within its deadline.
  platform::PipeStopAccepting(Listener);
  for (auto& t : Threads) {
    if (t.joinable()) t.join();
  }
  Threads.clear();
  Listener.Reset();
}

void ServerThreads::Stop() {
  StopServiceThreads();
  // The changed-INI thread, which starts dial threads for new ports, has ended above.
  if (State != nullptr) {
    const int ports = State->PortCount.load();
    for (int p = 0; p < ports; ++p) StopDialThread(*State->Ports[static_cast<size_t>(p)]);
    StopIpWorkers(*State);
  }
}

int StartServiceThreads(core::ServerState& state, ServerThreads& threads, const std::string& pipePath) {
  threads.State = &state;
  threads.PipePath = pipePath;
  if (platform::PipeListen(pipePath, threads.Listener, core::CurrentSettings(state).PipeAccess) != 0) {
    // Nothing could reach this server: it must not run (and take the ports) unseen.
    common::LogLine("%t Error: Creat Pipe(ReceiveThread)\n");
    return 1;
  }
  StartPipeThreads(state, threads);
  if (!StartThread(threads, [&state](std::stop_token stop) { AtDelayThread(state, stop); })) {
    common::WriteConsole("Error Starting AT Delay Thread\n");
  }
  if (!StartThread(threads, [&state](std::stop_token stop) { ChangedAtThread(state, stop); })) {
    common::WriteConsole("Error Starting ChangedAt Thread\n");
  }
  if (!StartThread(threads,
                   [&state](std::stop_token stop) { ChangedIniFileThread(state, StartNewDialThreads, stop); })) {
    common::WriteConsole("Error Starting Changed INI file Thread\n");
  }
  return 0;
}

void StartDialThreads(core::ServerState& state, ServerThreads& threads) {
  threads.State = &state;
  state.DialThreadsStarted = true;
  const int ports = state.PortCount.load();
  for (int p = 0; p < ports; ++p) StartDialThread(state, *state.Ports[static_cast<size_t>(p)]);
  SyncIpWorkers(state);
  (void)StartThread(threads, [&state](std::stop_token stop) { RouterThread(state, stop); });
}

void StartNewDialThreads(core::ServerState& state) {
  if (!state.DialThreadsStarted) return;  // start-up starts them all itself
  const int ports = state.PortCount.load();
  for (int p = 0; p < ports; ++p) StartDialThread(state, *state.Ports[static_cast<size_t>(p)]);
  SyncIpWorkers(state);
}

void Shutdown(core::ServerState& state) {
  platform::NotifyStopping();
  // The ChangedAt thread saved the last change as it ended; this covers a table changed
  // without it (a test's, or one whose thread could not start).
  (void)SaveAtFile(state);
  common::LogLine("%t %s: Paging server ended successfully\n", common::ProgramName());
}

int StartServer(int argc, char** argv, Server& server) {
  common::WriteConsole(common::FormatText("Corvel. Paging Server.  Version %s\n", common::kVersion));
  common::LogLine("%t %s: Paging Server Starting.  Version %s\n", core::kServerProgramName, common::kVersion);
  common::SetProgramName(core::kServerProgramName);
  // One server per folder: a second one would load the same pages and dial the same ports.
  if (const int locked = platform::LockFileExclusive(kLockFileName, server.Lock); locked != 0) {
    if (locked == -EWOULDBLOCK) {
      common::LogLine("%t %s: Error - Another paging server is running in this folder (%s is locked); this one ends\n",
                      common::ProgramName(), kLockFileName);
    } else {
      common::LogLine("%t %s: Error - Can not make the lock file %s (%s); the paging server ends\n",
                      common::ProgramName(), kLockFileName, std::strerror(-locked));
    }
    return 1;
  }
  server.State = core::AllocateServerState();
  if (!server.State) return 1;  // a missing table would leave the server unusable
  core::ServerState& state = *server.State;
  core::ApplyDefaults(state);
  (void)core::LoadDirectory(state, common::ConfigFile(core::kPageIniName));
  const std::string storePath = core::CurrentSettings(state).PageStore;
  if (core::OpenPageStore(state, storePath.empty() ? core::kPageStoreName : storePath, core::kAtFileName) != 0) {
    common::LogLine("%t %s: Error - Paging server can not run without its page store\n", common::ProgramName());
    return 1;
  }
  (void)core::PurgeHistory(state, state.HistoryDays.load(), static_cast<int64_t>(platform::Now()));
  if (state.Debug) state.ErrorFile = std::fopen("err.dat", "wb");

  if (StartServiceThreads(state, server.Threads, platform::PipePath()) != 0) return 1;
  common::LogLine("%t %s: Paging server started successfully\n", common::ProgramName());
  // The stop signals were blocked by main before any thread started; WaitForStop takes them.
  for (int i = 1; i < argc; ++i) {
    if (std::strstr(argv[i], "debug")) core::SetServerDebug(state, true);
  }
  StartDialThreads(state, server.Threads);
  platform::NotifyReady();
  return 0;
}

int WaitForStop(Server& server) {
  const bool asked = platform::WaitForStopSignalFeedingWatchdog() == platform::kStopRequested;
  platform::NotifyStopping();
  server.Threads.StopOrderly(kFinishPageMs);
  // Every thread that records is joined: the store writes what it was handed and closes.
  server.State->Store.reset();
  if (asked) {
    (void)SaveAtFile(*server.State);
    return 0;
  }
  Shutdown(*server.State);
  return 0;
}

}  // namespace server
