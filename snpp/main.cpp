// snpp/main.cpp - corvnet32, the SNPP server: start-up, then the server until a stop signal.
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "common/config_path.h"
#include "common/log.h"
#include "common/pipe_client.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "snpp/server.h"
#include "snpp/start_up.h"

namespace {

// Ends the process at once: session threads may be waiting on a client or on the pipe,
// and a stop must not wait for them.
[[noreturn]] void EndProgram(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc = common::TakeConfigDirOption(argc, argv)) < 0) return 2;
  snpp::SnppSettings settings;
  snpp::NameCache names;
  if (snpp::StartUp(settings, names, common::CallPagingServer) != 0) return 0;

  platform::BlockStopSignals();  // before the first thread starts: every thread inherits the mask
  snpp::SnppServer server(names, common::CallPagingServer);
  server.StartWatch(common::ConfigFile("page.ini"));
  // Ctrl+C or SIGTERM, from here on (also while a bind is being retried): the sockets are
  // closed first, then the line is logged and the program ends.
  std::jthread stopper([&server] {
    platform::WaitForStopSignalFeedingWatchdog();
    platform::NotifyStopping();
    server.CloseSockets();
    common::LogLine("%t %s: Server ended successfully\n", common::ProgramName());
    EndProgram(0);
  });
  common::SetDebug(argc > 1 && std::string_view(argv[1]).find("debug") != std::string_view::npos);

  uint16_t port = 0;
  const int status = server.Listen(settings.TcpPort, port);
  if (status == snpp::kStoppedWhileBinding) stopper.join();  // the stop path is ending the program
  if (status != snpp::kListening) EndProgram(status);
  common::LogLine("%t %s: Server started successfully\n", common::ProgramName());
  platform::NotifyReady();
  if (settings.TcpPort == 0) {
    common::LogLine("%t %s: No TcpPort in SNPP.INI - listening on port %d\n", common::ProgramName(),
                    static_cast<int>(port));
  }
  server.StartAccepting([](int status) { EndProgram(status); });
  stopper.join();  // the stop thread ends the program
}
