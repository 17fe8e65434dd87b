// http/main.cpp - corvhttp, the HTTP API and webhook receiver: HTTP.INI, the paging server,
// then the server until a stop signal.
#include <fstream>
#include <iterator>
#include <string_view>

#include "common/config_path.h"
#include "common/log.h"
#include "common/pipe_client.h"
#include "common/version.h"
#include "http/http_ini.h"
#include "http/http_server.h"
#include "http/message_limits.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "platform/socket_activation.h"
#include "platform/tcp.h"

namespace {

constexpr const char* kProgramName = "CORVHTTP";
constexpr int kListenBacklog = 64;

bool ReadText(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  text.assign((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc = common::TakeConfigDirOption(argc, argv)) < 0) return 2;
  std::vector<platform::UniqueFd> passed = platform::TakeSystemdSockets();
  common::SetProgramName(kProgramName);
  const std::string program = common::ProgramName();
  common::SetDebug(argc > 1 && std::string_view(argv[1]).find("debug") != std::string_view::npos);
  common::WriteConsole(common::FormatText("Corvel.  Version %s\nHTTP API and webhooks.\n", common::kVersion));
  common::LogLine("%t %s: HTTP Server Starting.  Version %s\n", program, common::kVersion);

  corvhttp::HttpSettings settings;
  if (corvhttp::ReadHttpIni(common::ConfigFile("HTTP.INI"), settings) != 0) {
    common::LogLine("%t %s: Error reading HTTP.INI\n", program);
    return 0;
  }
  for (const std::string& problem : settings.Problems)
    common::LogLine("%t %s: HTTP.INI: %s - ignored\n", program, problem);

  corvhttp::TokenSet tokens;
  if (!settings.Tokens.empty()) {
    std::string problem;
    const int rc = tokens.Load(common::ConfigFile(settings.Tokens), problem);
    if (rc != corvhttp::TokenSet::kLoaded) {
      common::LogLine("%t %s: %s - not starting\n", program, problem);
      return 2;
    }
  } else {
    common::LogLine("%t %s: No Tokens file in HTTP.INI - only /metrics from this machine is served\n", program);
  }
  std::string certificate;
  std::string key;
  if (!settings.TlsCertificate.empty() || !settings.TlsKey.empty()) {
    if (!ReadText(common::ConfigFile(settings.TlsCertificate), certificate) ||
        !ReadText(common::ConfigFile(settings.TlsKey), key)) {
      common::LogLine("%t %s: TlsCertificate and TlsKey must both name readable files - not starting\n", program);
      return 2;
    }
  }

  if (common::WaitForPagingServer(program) != 0) return 0;

  corvhttp::ApiContext context;
  context.Call = common::CallPagingServer;
  context.CallLarge = common::CallPagingServerLarge;
  context.Tokens = &tokens;
  context.HookMessageLength = settings.HookMessageLength;
  corvhttp::MessageLimits limits(common::ConfigFile("page.ini"));
  context.MessageLimit = [&limits](const std::string& name) { return limits.For(name); };
  context.HiddenPerson = [&limits](const std::string& name, std::string& person) {
    return limits.HiddenPerson(name, person);
  };

  platform::UniqueFd listener;
  uint16_t port = settings.HttpPort;
  if (!passed.empty()) {
    listener = std::move(passed.front());
    port = platform::LocalTcpPort(listener);
  } else if (platform::TcpListen(settings.BindAddress, settings.HttpPort, kListenBacklog, listener, port) != 0) {
    common::LogLine("%t %s: Error Binding to port %d\n", program, static_cast<int>(settings.HttpPort));
    return 3;
  }
  platform::BlockStopSignals();  // before the library starts its threads: they inherit the mask
  corvhttp::HttpServer server(context);
  std::string problem;
  if (server.Start(std::move(listener), certificate, key, problem) != 0) {
    common::LogLine("%t %s: %s\n", program, problem);
    return 4;
  }
  common::LogLine("%t %s: Server started successfully on port %d%s\n", program, static_cast<int>(port),
                  certificate.empty() ? "" : " (HTTPS)");
  platform::NotifyReady();
  platform::WaitForStopSignalFeedingWatchdog();
  platform::NotifyStopping();
  server.Stop();
  common::LogLine("%t %s: Server ended successfully\n", program);
  return 0;
}
