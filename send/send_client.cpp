// send/send_client.cpp
#include "send/send_client.h"

#include <cstdio>
#include <memory>

#include "common/format_text.h"
#include "common/log.h"
#include "common/version.h"
#include "core/configuration_load.h"
#include "core/server_state.h"
#include "snppclient/snpp_client.h"

namespace send {

namespace {

bool ReadFileText(const std::string& name, size_t limit, std::string& text) {
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) return false;
  text.assign(limit, '\0');
  text.resize(std::fread(text.data(), 1, limit, file));
  std::fclose(file);
  return true;
}

}  // namespace

std::string UsageText() {
  return common::FormatText("Corvel.   Version %s\n", common::kVersion) +
         "corvsend [@msgfile.txt] id Message\n"
         "      corvsend \"Bill\" \"My message\"\n"
         "      corvsend @filename.txt\n"
         "      corvsend id @filename.txt";
}

bool ParseArguments(const std::vector<std::string>& args, std::string& recipient, std::string& message) {
  if (args.empty() || args.size() > 2) return false;
  if (args.size() == 1) {
    if (args[0].empty() || args[0][0] != '@') return false;
    std::FILE* file = std::fopen(args[0].c_str() + 1, "r");
    if (file == nullptr) return false;
    char line[kFileLineLength + 1] = {};
    const bool gotLine = std::fgets(line, sizeof line, file) != nullptr;
    std::string rest(kFileMessageLength, '\0');
    rest.resize(gotLine ? std::fread(rest.data(), 1, kFileMessageLength, file) : 0);
    std::fclose(file);
    const std::string first(line);
    recipient = first.substr(0, first.find_first_of("\r\n"));
    message = rest;
    // An empty file or an empty first line names nobody: refused like bad arguments.
    if (recipient.empty()) return false;
  } else {
    recipient = args[0];
    if (!args[1].empty() && args[1][0] == '@') {
      if (!ReadFileText(args[1].substr(1), kFileMessageLength, message)) return false;
    } else {
      message = args[1];
    }
  }
  if (recipient.size() > kRecipientLength) recipient.resize(kRecipientLength);
  return true;
}

SnppServer ResolveServer(const directory::Directory& dir, const directory::PageIniSettings& settings,
                         const std::string& recipientId) {
  SnppServer server{settings.HostName, settings.TcpPort};
  const int person = dir.FindPersonByName(recipientId);
  if (person < 0) return server;
  const int system = dir.FindSystemByName(dir.Persons[static_cast<size_t>(person)].SystemName);
  if (system < 0) return server;
  const directory::SystemRecord& record = dir.Systems[static_cast<size_t>(system)];
  if (record.OverrideHostName.empty()) return server;
  server.Host = record.OverrideHostName;
  // A system that names a host but no port would give port 0; its host's SNPP server is
  // taken to listen where the global one does.
  server.Port = record.OverrideTcpPort != 0 ? record.OverrideTcpPort : settings.TcpPort;
  return server;
}

int RunSend(const std::vector<std::string>& args) {
  std::string recipient;
  std::string message;
  if (!ParseArguments(args, recipient, message)) {
    common::WriteConsole(UsageText());
    return 0;
  }

  std::unique_ptr<core::ServerState> state = core::AllocateServerState();
  if (!state) return 1;  // "Calloc error" has been printed
  bool startupError = false;
  core::ApplyDefaults(*state);
  common::SetProgramName(kSendProgramName);
  // page.ini, then at.dat, which the client reads but never uses or writes.
  if (core::LoadConfiguration(*state, core::PageIniReader::kClient) != 0) startupError = true;
  const directory::PageIniSettings settings = core::CurrentSettings(*state);
  if (settings.Debug) state->ErrorFile = std::fopen("err.dat", "wb");
  if (startupError) {
    common::WriteConsole("There were startup errors.  Check LOG.TXT file.\n");
    if (state->ErrorFile) std::fclose(state->ErrorFile);
    return 0;
  }

  const SnppServer server = ResolveServer(*core::CurrentDirectory(*state), settings, recipient);
  snppclient::SnppClient client;
  client.ServerHost = server.Host.substr(0, kHostLength);
  client.ServerPort = server.Port;
  client.ReceiveBlockSize = kReceiveBlockSize;
  client.CommandAreaSize = kCommandArea;
  client.PagerId = recipient;
  client.MessageText = message;
  if (snppclient::SnppSendPage(client) != 0) common::WriteConsole("Error sending page to SNPP server.\n");
  if (state->ErrorFile) std::fclose(state->ErrorFile);
  return 0;
}

}  // namespace send
