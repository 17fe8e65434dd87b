// corvd32 - the paging server.
#include "platform/signals.h"
#include "server/server.h"

int main(int argc, char** argv) {
  platform::BlockStopSignals();  // before the first thread starts: every thread inherits the mask
  return server::RunServer(argc, argv);
}
