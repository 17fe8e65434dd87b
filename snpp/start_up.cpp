// snpp/start_up.cpp - banner, SNPP.INI, the paging server and its names.
#include "snpp/start_up.h"

#include "common/config_path.h"
#include "common/log.h"
#include "common/pipe_client.h"
#include "common/version.h"

namespace snpp {

int StartUp(SnppSettings& settings, NameCache& names, const PipeCall& call) {
  common::SetProgramName(kSnppProgramName);
  const std::string program = common::ProgramName();
  common::WriteConsole(common::FormatText("Corvel.  Version %s\n", common::kVersion));
  common::WriteConsole("Simple network paging protocol(SNPP) Server.\n");
  common::WriteConsole("For use with Corvel's Paging Server.\n");
  common::LogLine("%t %s: SNPP Server Starting.  Version %s\n", program, common::kVersion);

  if (ReadSnppIni(common::ConfigFile("SNPP.INI"), settings) != 0) {
    common::LogLine("%t %s: Error reading SNPP.INI\n", program);
    return 1;
  }
  if (!settings.BadTcpPort.empty()) {
    common::LogLine("%t %s: SNPP.INI: TcpPort %s is not a port number (1-65535) - ignored\n", program,
                    settings.BadTcpPort);
  }
  if (common::WaitForPagingServer(program) != 0) return 1;
  if (GetNamesAndGroups(names, call) != 0) {
    common::LogLine("%t %s: Error geting Names and Groups from the paging server\n", program);
    return 1;
  }
  return 0;
}

}  // namespace snpp
