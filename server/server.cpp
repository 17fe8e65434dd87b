// server/server.cpp - the start-up sequence of corvd32 and its threads.
#include "server/server.h"

#include <cstdio>
#include <cstring>
#include <system_error>

#include "common/log.h"
#include "common/version.h"
#include "core/now_queue.h"
#include "platform/pipe_endpoint.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "server/at_queue.h"
#include "server/configuration.h"
#include "server/dial_thread.h"
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

void ServerThreads::Stop() {
  for (auto& t : Threads) t.request_stop();
  // Pipe threads wait in accept or receive: one connection each lets them see the stop.
  if (Listener.Get() >= 0) {
    for (int i = 0; i < kPipeThreads; ++i) (void)platform::PipeAnswers(PipePath);
  }
  for (auto& t : Threads) {
    if (t.joinable()) t.join();
  }
  Threads.clear();
  Listener.Reset();
  // The changed-INI thread, which starts dial threads for new ports, has ended above.
  if (State != nullptr) {
    const int ports = State->PortCount.load();
    for (int p = 0; p < ports; ++p) StopDialThread(*State->Ports[static_cast<size_t>(p)]);
  }
}

void StartServiceThreads(core::ServerState& state, ServerThreads& threads, const std::string& pipePath) {
  threads.State = &state;
  threads.PipePath = pipePath;
  if (platform::PipeListen(pipePath, threads.Listener, core::CurrentSettings(state).PipeAccess) != 0) {
    common::LogLine("%t Error: Creat Pipe(ReceiveThread)\n");
  } else {
    StartPipeThreads(state, threads);
  }
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
}

void StartDialThreads(core::ServerState& state, ServerThreads& threads) {
  threads.State = &state;
  state.DialThreadsStarted = true;
  const int ports = state.PortCount.load();
  for (int p = 0; p < ports; ++p) StartDialThread(state, *state.Ports[static_cast<size_t>(p)]);
  (void)StartThread(threads, [&state](std::stop_token stop) { RouterThread(state, stop); });
}

void StartNewDialThreads(core::ServerState& state) {
  if (!state.DialThreadsStarted) return;  // start-up starts them all itself
  const int ports = state.PortCount.load();
  for (int p = 0; p < ports; ++p) StartDialThread(state, *state.Ports[static_cast<size_t>(p)]);
}

void Shutdown(core::ServerState& state) {
  platform::NotifyStopping();
  // A page scheduled since the last periodic save would otherwise be lost on an orderly stop.
  (void)SaveAtFile(state);
  common::LogLine("%t %s: Paging server ended successfully\n", common::ProgramName());
}

int StartServer(int argc, char** argv, Server& server) {
  common::WriteConsole(common::FormatText("Corvel. Paging Server.  Version %s\n", common::kVersion));
  common::LogLine("%t %s: Paging Server Starting.  Version %s\n", core::kServerProgramName, common::kVersion);
  server.State = core::AllocateServerState();
  if (!server.State) return 1;  // a missing table would leave the server unusable
  core::ServerState& state = *server.State;
  core::ApplyDefaults(state);
  common::SetProgramName(core::kServerProgramName);
  (void)LoadConfiguration(state);
  if (state.Debug) state.ErrorFile = std::fopen("err.dat", "wb");

  StartServiceThreads(state, server.Threads, platform::PipePath());
  common::LogLine("%t %s: Paging server started successfully\n", common::ProgramName());
  // The stop signals were blocked by main before any thread started; WaitForStop takes them.
  for (int i = 1; i < argc; ++i) {
    if (std::strstr(argv[i], "debug")) core::SetServerDebug(state, true);
  }
  StartDialThreads(state, server.Threads);
  if (server.Threads.Listener.Valid()) platform::NotifyReady();
  return 0;
}

int WaitForStop(Server& server) {
  if (platform::WaitForStopSignalFeedingWatchdog() == platform::kStopRequested) {
    (void)SaveAtFile(*server.State);
    return 0;
  }
  Shutdown(*server.State);
  return 0;
}

}  // namespace server
