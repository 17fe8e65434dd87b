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
#include "platform/socket_activation.h"
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
  // systemd's socket (corvnet32.socket), taken before anything could start a child.
  std::vector<platform::UniqueFd> passed = platform::TakeSystemdSockets();
  snpp::SnppSettings settings;
  snpp::NameCache names;
  snpp::UserTable users;
  snpp::TlsServerContext tls;
  const int started = snpp::StartUp(settings, names, common::CallPagingServer, users, tls);
  if (started == snpp::kStartUpRefused) return 2;
  if (started != snpp::kStartUpOk) return 0;

  snpp::ServerOptions options;
  options.BindAddress = settings.BindAddress;
  options.AllowFrom = settings.AllowFrom;
  options.ReportsFrom = snpp::ReportsBlocks(settings);
  options.IdleTimeoutMs = settings.IdleTimeout * 1000;
  options.SessionsPerAddress = settings.SessionsPerAddress;
  options.Tls = tls.Loaded() ? &tls : nullptr;
  options.Users = settings.Users.empty() ? nullptr : &users;
  options.RequireLogin = settings.RequireLogin;

  platform::BlockStopSignals();  // before the first thread starts: every thread inherits the mask
  snpp::SnppServer server(names, common::CallPagingServer, options);
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
  if (!passed.empty()) {
    port = platform::LocalTcpPort(passed.front());
    server.AdoptListener(std::move(passed.front()));
    common::LogLine("%t %s: Listening on port %d from systemd\n", common::ProgramName(), static_cast<int>(port));
  } else {
    const int status = server.Listen(settings.TcpPort, port);
    if (status == snpp::kStoppedWhileBinding) stopper.join();  // the stop path is ending the program
    if (status != snpp::kListening) EndProgram(status);
  }
  if (settings.TlsPort != 0) {
    uint16_t tlsPort = 0;
    const int status = server.ListenTls(settings.TlsPort, tlsPort);
    if (status == snpp::kStoppedWhileBinding) stopper.join();
    if (status != snpp::kListening) EndProgram(status);
    common::LogLine("%t %s: SNPP over TLS on port %d\n", common::ProgramName(), static_cast<int>(tlsPort));
  }
  common::LogLine("%t %s: Server started successfully\n", common::ProgramName());
  platform::NotifyReady();
  if (settings.TcpPort == 0 && passed.empty()) {
    common::LogLine("%t %s: No TcpPort in SNPP.INI - listening on port %d\n", common::ProgramName(),
                    static_cast<int>(port));
  }
  server.StartAccepting([](int status) { EndProgram(status); });
  stopper.join();  // the stop thread ends the program
}
