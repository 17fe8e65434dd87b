// send/send_client.cpp
#include "send/send_client.h"

#include <cstdio>
#include <memory>
#include <new>

#include "common/config_path.h"
#include "common/version.h"
#include "common/format_text.h"
#include "common/log.h"
#include "core/server_state.h"
#include "directory/page_ini.h"
#include "server/at_queue.h"
#include "server/configuration.h"
#include "web/snpp_client.h"

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

// The server's LoadConfiguration, with the one difference the client needs: an
// Alphanumeric person whose system is unknown stays in the directory (the client only
// routes by the system, and sends the ID on unchanged). page.ini, then at.dat, which the
// client reads but never uses or writes. 0, or 1 when page.ini could not be read cleanly.
int LoadClientConfiguration(core::ServerState& state) {
  std::shared_ptr<directory::Directory> dir;
  try {
    dir = std::make_shared<directory::Directory>();
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error getting memeory for PAGE.INI file\n", common::ProgramName());
    return 1;
  }
  dir->CheckPersonSystems = false;
  directory::PageIniSettings settings = core::CurrentSettings(state);
  const int result =
      directory::LoadPageIni(common::ConfigFile(server::kPageIniName), *dir, settings, directory::PageIniHooks{});
  core::InstallDirectory(state, std::move(dir));
  core::InstallSettings(state, settings);
  server::LoadAtFile(state);
  return result;
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
  if (LoadClientConfiguration(*state) != 0) startupError = true;
  const directory::PageIniSettings settings = core::CurrentSettings(*state);
  if (settings.Debug) state->ErrorFile = std::fopen("err.dat", "wb");
  if (startupError) {
    common::WriteConsole("There were startup errors.  Check LOG.TXT file.\n");
    if (state->ErrorFile) std::fclose(state->ErrorFile);
    return 0;
  }

  const SnppServer server = ResolveServer(*core::CurrentDirectory(*state), settings, recipient);
  web::SnppClient client;
  client.ServerHost = server.Host.substr(0, kHostLength);
  client.ServerPort = server.Port;
  client.ReceiveBlockSize = web::kSendBlockSize;
  client.CommandAreaSize = web::kSendCommandArea;
  client.PagerId = recipient;
  client.MessageText = message;
  if (web::SnppSendPage(client) != 0) common::WriteConsole("Error sending page to SNPP server.\n");
  if (state->ErrorFile) std::fclose(state->ErrorFile);
  return 0;
}

}  // namespace send
