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
  // Ends at once without joining the threads: a stop signal must not wait for a dial thread
  // in the middle of a call. Pages in the NOW queues are lost; the AT queue was saved.
  std::fflush(nullptr);
  std::_Exit(status);
}
