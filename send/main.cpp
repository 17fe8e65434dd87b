// send/main.cpp - corvsend [@msgfile.txt] id Message
#include <string>
#include <vector>

#include "common/config_path.h"
#include "send/send_client.h"

int main(int argc, char** argv) {
  if ((argc = common::TakeConfigDirOption(argc, argv)) < 0) return 2;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return send::RunSend(args);
}
