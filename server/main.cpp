// corvd32 - the paging server.
#include "common/config_path.h"
#include "platform/signals.h"
#include "server/server.h"

int main(int argc, char** argv) {
  if ((argc = common::TakeConfigDirOption(argc, argv)) < 0) return 2;
  platform::BlockStopSignals();  // before the first thread starts: every thread inherits the mask
  return server::RunServer(argc, argv);
}
