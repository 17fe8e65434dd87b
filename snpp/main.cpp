// snpp/main.cpp - corvnet32, the SNPP server: arguments and start-up are in RunSnppServer.
#include "common/config_path.h"
#include "snpp/server.h"

int main(int argc, char** argv) {
  if ((argc = common::TakeConfigDirOption(argc, argv)) < 0) return 2;
  return snpp::RunSnppServer(argc, argv);
}
