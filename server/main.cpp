// corvd32 - the paging server.
#include <cstdio>
#include <cstdlib>

#include "common/config_path.h"
#include "platform/signals.h"
#include "server/server.h"

int main(int argc, char** argv) {
  if ((argc = common::TakeConfigDirOption(argc, argv)) < 0) return 2;
  platform::BlockStopSignals();  // before the first thread starts: every thread inherits the mask
  server::Server server;
  if (server::StartServer(argc, argv, server) != 0) return 1;
  const int status = server::WaitForStop(server);
  // Every thread was stopped in order and the page store closed; what remains in the
  // queues is in the store and comes back at the next start.
  std::fflush(nullptr);
  std::_Exit(status);
}
