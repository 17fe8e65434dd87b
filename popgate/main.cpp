// corvpop32: the POP3 mail gateway. Polls the mailboxes of POPPAGE.INI and pages each
// mail's recipients through the paging server.
#include <cstdio>
#include <cstdlib>

#include "common/config_path.h"
#include "common/log.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "popgate/gateway.h"

int main(int argc, char** argv) {
  if ((argc = common::TakeConfigDirOption(argc, argv)) < 0) return 2;
  popgate::Gateway gateway;
  if (popgate::StartGateway(argc, argv, gateway) != popgate::kGatewayRunning) return 0;
  platform::NotifyReady();
  (void)platform::WaitForStopSignalFeedingWatchdog();
  platform::NotifyStopping();
  common::LogLine("%t %s: Server ended successfully\n", gateway.Context.ProgramName);
  std::fflush(stdout);
  // A stop ends the program at once: a poll in progress is cut off wherever it stands
  // instead of being waited for (a connect or a call to the paging server takes seconds).
  std::_Exit(0);
}
