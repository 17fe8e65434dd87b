// server/server.cpp - the start-up sequence of corvd32 and its threads.
#include "server/server.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "common/version.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "platform/pipe_endpoint.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "server/at_queue.h"
#include "server/configuration.h"
#include "server/pipe_server.h"
#include "server/router.h"
#if __has_include("server/dial_thread.h")
#include "server/dial_thread.h"
#define CORVEL_HAS_DIAL_THREAD 1
#endif

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

void StartDialThreadFor(core::ServerState& state, core::DialContext& dc) {
#ifdef CORVEL_HAS_DIAL_THREAD
  if (dc.DialThreadRunning.exchange(true)) return;
  StartDialThread(state, dc);
#else
  // Until the modem module provides dial threads, nothing claims to deliver: pages wait in
  // their port queue, where the status report shows them.
  (void)state;
  (void)dc;
#endif
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
}

void StartServiceThreads(core::ServerState& state, ServerThreads& threads, const std::string& pipePath) {
  threads.PipePath = pipePath;
  const int listened = platform::PipeListen(pipePath, threads.Listener);
  if (listened != 0) {
    common::LogLine("%t Error: Creat Pipe(ReceiveThread)\n");
  } else {
    for (int i = 0; i < kPipeThreads; ++i) {
      const bool started = StartThread(threads, [&state, &threads](std::stop_token stop) {
        PipeServerThread(state, threads.Listener, stop);
      });
      if (!started) common::WriteConsole("Error Starting NamePipe Thread\n");
    }
  }
  if (!StartThread(threads, [&state](std::stop_token stop) { AtDelayThread(state, stop); })) {
    common::WriteConsole("Error Starting AT Delay Thread\n");
  }
  if (!StartThread(threads, [&state](std::stop_token stop) { ChangedAtThread(state, stop); })) {
    common::WriteConsole("Error Starting ChangedAt Thread\n");
  }
  if (!StartThread(threads, [&state](std::stop_token stop) {
        ChangedIniFileThread(state, StartNewDialThreads, stop);
      })) {
    common::WriteConsole("Error Starting Changed INI file Thread\n");
  }
}

void StartDialThreads(core::ServerState& state, ServerThreads& threads) {
  state.DialThreadsStarted = true;
  const int ports = state.PortCount.load();
  for (int p = 0; p < ports; ++p) StartDialThreadFor(state, *state.Ports[static_cast<size_t>(p)]);
  (void)StartThread(threads, [&state](std::stop_token stop) { RouterThread(state, stop); });
}

void StartNewDialThreads(core::ServerState& state) {
  if (!state.DialThreadsStarted) return;  // start-up starts them all itself
  const int ports = state.PortCount.load();
  for (int p = 0; p < ports; ++p) StartDialThreadFor(state, *state.Ports[static_cast<size_t>(p)]);
}

void Shutdown(core::ServerState& state) {
  platform::NotifyStopping();
  // A page scheduled since the last periodic save would otherwise be lost on an orderly stop.
  (void)SaveAtFile(state);
  common::LogLine("%t %s: Paging server ended successfully\n", common::ProgramName());
  std::fflush(nullptr);
  std::_Exit(0);
}

int RunServer(int argc, char** argv) {
  common::WriteConsole(common::FormatText("Corvel. Paging Server.  Version %s\n", common::kVersion));
  common::LogLine("%t %s: Paging Server Starting.  Version %s\n", core::kServerProgramName, common::kVersion);
  std::unique_ptr<core::ServerState> state = core::AllocateServerState();
  if (!state) return 1;  // a missing table would leave the server unusable
  core::ApplyDefaults(*state);
  common::SetProgramName(core::kServerProgramName);
  (void)LoadConfiguration(*state);
  if (state->Debug) state->ErrorFile = std::fopen("err.dat", "wb");

  ServerThreads threads;
  StartServiceThreads(*state, threads, platform::PipePath());
  common::LogLine("%t %s: Paging server started successfully\n", common::ProgramName());
  // The stop signals were blocked by main before any thread started; they are taken below.
  for (int i = 1; i < argc; ++i) {
    if (std::strstr(argv[i], "debug")) core::SetServerDebug(*state, true);
  }
  StartDialThreads(*state, threads);
  if (threads.Listener.Valid()) platform::NotifyReady();
  (void)platform::WaitForStopSignalFeedingWatchdog();
  Shutdown(*state);
}

}  // namespace server
