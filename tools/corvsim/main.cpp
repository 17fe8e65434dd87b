// tools/corvsim/main.cpp - corvsim LINK CONFIG RECORD: a simulated modem and paging terminal
// on a pseudo-terminal whose device LINK points to, configured by CONFIG, recording every
// call and page to RECORD; with LINK "-" there is no modem. A [tap-tcp] or [wctp] section
// of CONFIG adds the TAP terminal on the network or the WCTP carrier, on 127.0.0.1. Runs
// until SIGINT or SIGTERM, then removes LINK.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/serial_device.h"
#include "platform/signals.h"
#include "tools/corvsim/hayes.h"
#include "tools/corvsim/recorder.h"
#include "tools/corvsim/tap_listener.h"
#include "tools/corvsim/wctp_carrier.h"

// The simulation's configuration file; false (with a line on stderr) when it cannot be used.
bool ReadConfig(const char* path, corvsim::SimConfig& config) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "corvsim: cannot read %s\n", path);
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  if (!corvsim::ParseSimConfig(text.str(), config, error)) {
    std::fprintf(stderr, "corvsim: %s: %s\n", path, error.c_str());
    return false;
  }
  return true;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: corvsim LINK|- CONFIG RECORD\n");
    return 2;
  }
  const std::string link = argv[1];
  const bool withModem = link != "-";
  corvsim::SimConfig config;
  if (!ReadConfig(argv[2], config)) return 1;
  std::string error;
  if (!withModem && !config.TapTcp && !config.Wctp) {
    std::fprintf(stderr, "corvsim: no modem (LINK is -) and neither [tap-tcp] nor [wctp]: nothing to simulate\n");
    return 1;
  }

  platform::BlockStopSignals();  // before the first thread starts: every thread inherits the mask
  corvsim::Recorder recorder(argv[3]);
  std::unique_ptr<corvsim::TapListener> tap;
  std::unique_ptr<corvsim::WctpCarrier> wctp;
  if (config.TapTcp) {
    tap = std::make_unique<corvsim::TapListener>(*config.TapTcp, recorder);
    if (tap->Start(error) != 0) {
      std::fprintf(stderr, "corvsim: %s\n", error.c_str());
      return 1;
    }
    std::printf("corvsim: tap 127.0.0.1:%u\n", static_cast<unsigned>(tap->Port()));
    if (tap->TlsPort() != 0) std::printf("corvsim: tap-tls 127.0.0.1:%u\n", static_cast<unsigned>(tap->TlsPort()));
  }
  if (config.Wctp) {
    wctp = std::make_unique<corvsim::WctpCarrier>(*config.Wctp, recorder);
    if (wctp->Start(error) != 0) {
      std::fprintf(stderr, "corvsim: %s\n", error.c_str());
      return 1;
    }
    std::printf("corvsim: wctp http://127.0.0.1:%u/wctp\n", static_cast<unsigned>(wctp->Port()));
    if (wctp->TlsPort() != 0)
      std::printf("corvsim: wctp https://127.0.0.1:%u/wctp\n", static_cast<unsigned>(wctp->TlsPort()));
  }

  std::unique_ptr<corvsim::SimLine> line;
  std::jthread modem;
  if (withModem) {
    platform::UniqueFd master, slave, watch;
    std::string device;
    if (platform::OpenPseudoTerminal(master, slave, device) != 0 ||
        platform::WatchDeviceOpenClose(device, watch) != 0) {
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
    line = std::make_unique<corvsim::SimLine>(std::move(master), std::move(slave), std::move(watch), argv[3]);
    std::printf("corvsim: %s -> %s\n", link.c_str(), device.c_str());
    modem = std::jthread([&config, l = line.get()] { corvsim::RunModem(*l, config); });
  }
  std::fflush(stdout);
  platform::WaitForStopSignal();
  if (line) {
    line->Stop();  // the call in progress ends as if the port had closed
    modem.join();
    std::error_code ec;
    std::filesystem::remove(link, ec);
  }
  if (tap) tap->Stop();
  if (wctp) wctp->Stop();
  return 0;
}
