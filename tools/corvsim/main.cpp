// tools/corvsim/main.cpp - corvsim LINK CONFIG RECORD: a simulated modem and paging terminal
// on a pseudo-terminal whose device LINK points to, configured by CONFIG, recording every
// call and page to RECORD. Runs until SIGINT or SIGTERM, then removes LINK.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/serial_device.h"
#include "platform/signals.h"
#include "tools/corvsim/hayes.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: corvsim LINK CONFIG RECORD\n");
    return 2;
  }
  const std::string link = argv[1];
  std::ifstream in(argv[2]);
  if (!in) {
    std::fprintf(stderr, "corvsim: cannot read %s\n", argv[2]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  corvsim::SimConfig config;
  std::string error;
  if (!corvsim::ParseSimConfig(text.str(), config, error)) {
    std::fprintf(stderr, "corvsim: %s: %s\n", argv[2], error.c_str());
    return 1;
  }

  platform::UniqueFd master, slave, watch;
  std::string device;
  if (platform::OpenPseudoTerminal(master, slave, device) != 0 || platform::WatchDeviceOpenClose(device, watch) != 0) {
    std::fprintf(stderr, "corvsim: cannot make a pseudo-terminal\n");
    return 1;
  }
  std::error_code ec;
  if (std::filesystem::is_symlink(link, ec)) std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(device, link, ec);
  if (ec) {
    std::fprintf(stderr, "corvsim: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
    return 1;
  }
  platform::BlockStopSignals();  // before the modem's thread starts: it inherits the mask
  corvsim::SimLine line(std::move(master), std::move(slave), std::move(watch), argv[3]);
  std::printf("corvsim: %s -> %s\n", link.c_str(), device.c_str());
  std::fflush(stdout);
  std::jthread modem([&] { corvsim::RunModem(line, config); });
  platform::WaitForStopSignal();
  line.Stop();  // the call in progress ends as if the port had closed
  modem.join();
  std::filesystem::remove(link, ec);
  return 0;
}
