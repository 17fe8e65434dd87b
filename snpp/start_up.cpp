// snpp/start_up.cpp - banner, SNPP.INI, users and TLS, the paging server and its names.
#include "snpp/start_up.h"

#include "common/config_path.h"
#include "common/log.h"
#include "common/pipe_client.h"
#include "common/version.h"

namespace snpp {

namespace {

// The login and TLS settings: each is checked before the server opens a port, since a
// server that ran without the protection its settings ask for would be worse than none.
int LoadProtections(const SnppSettings& settings, UserTable& users, TlsServerContext& tls, const std::string& program) {
  if (settings.AllowFromBad) {
    common::LogLine("%t %s: SNPP.INI: AllowFrom holds an item that is no address - not starting\n", program);
    return kStartUpRefused;
  }
  if (settings.RequireLogin && settings.Users.empty()) {
    common::LogLine("%t %s: SNPP.INI: RequireLogin needs a Users file - not starting\n", program);
    return kStartUpRefused;
  }
  if (!settings.Users.empty()) {
    std::string problem;
    const int rc = users.Load(common::ConfigFile(settings.Users), problem);
    if (rc == UserTable::kUnreadable || rc == UserTable::kOpenToOthers) {
      common::LogLine("%t %s: %s - not starting\n", program, problem);
      return kStartUpRefused;
    }
    if (rc == UserTable::kMalformedLines) common::LogLine("%t %s: %s - skipped\n", program, problem);
    if (settings.RequireLogin && users.Empty()) {
      common::LogLine("%t %s: RequireLogin with no user in the Users file - not starting\n", program);
      return kStartUpRefused;
    }
    common::LogLine("%t %s: %d users for LOGI%s\n", program, static_cast<int>(users.Size()),
                    settings.RequireLogin ? ", login required" : "");
  }
  if (settings.TlsPort != 0) {
    std::string problem;
    if (settings.TlsCertificate.empty() || settings.TlsKey.empty()) {
      common::LogLine("%t %s: SNPP.INI: TlsPort needs TlsCertificate and TlsKey - not starting\n", program);
      return kStartUpRefused;
    }
    if (tls.Load(common::ConfigFile(settings.TlsCertificate), common::ConfigFile(settings.TlsKey), problem) != 0) {
      common::LogLine("%t %s: TLS %s - not starting\n", program, problem);
      return kStartUpRefused;
    }
  }
  return kStartUpOk;
}

}  // namespace

int StartUp(SnppSettings& settings, NameCache& names, const PipeCall& call, UserTable& users, TlsServerContext& tls) {
  common::SetProgramName(kSnppProgramName);
  const std::string program = common::ProgramName();
  common::WriteConsole(common::FormatText("Corvel.  Version %s\n", common::kVersion));
  common::WriteConsole("Simple network paging protocol(SNPP) Server.\n");
  common::WriteConsole("For use with Corvel's Paging Server.\n");
  common::LogLine("%t %s: SNPP Server Starting.  Version %s\n", program, common::kVersion);

  if (ReadSnppIni(common::ConfigFile("SNPP.INI"), settings) != 0) {
    common::LogLine("%t %s: Error reading SNPP.INI\n", program);
    return kStartUpEnd;
  }
  if (!settings.BadTcpPort.empty()) {
    common::LogLine("%t %s: SNPP.INI: TcpPort %s is not a port number (1-65535) - ignored\n", program,
                    settings.BadTcpPort);
  }
  for (const std::string& problem : settings.Problems) {
    common::LogLine("%t %s: SNPP.INI: %s - ignored\n", program, problem);
  }
  if (const int rc = LoadProtections(settings, users, tls, program); rc != kStartUpOk) return rc;
  if (common::WaitForPagingServer(program) != 0) return kStartUpEnd;
  if (GetNamesAndGroups(names, call) != 0) {
    common::LogLine("%t %s: Error geting Names and Groups from the paging server\n", program);
    return kStartUpEnd;
  }
  return kStartUpOk;
}

}  // namespace snpp
