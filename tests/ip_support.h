// tests/ip_support.h - the simulated carriers of the IP delivery tests: corvsim (the real
// program) with a [tap-tcp] or [wctp] section and no modem, and Perl's Net::SNPP::Server.
// Each stops with its object (and ends by itself when idle).
#pragma once

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/ip_certificates.h"
#include "tests/support/process.h"

namespace iptest {

constexpr int kStartMs = 10000;

// The number after "prefix" in text (the first occurrence), or 0.
inline uint16_t NumberAfter(const std::string& text, const std::string& prefix) {
  const size_t at = text.find(prefix);
  if (at == std::string::npos) return 0;
  return static_cast<uint16_t>(std::atoi(text.c_str() + at + prefix.size()));
}

// corvsim without a modem, serving the given configuration; ports come from its record.
class Corvsim {
 public:
  explicit Corvsim(const std::string& config) {
    dir_.Write("sim.ini", config);
    process_ = std::make_unique<testsupport::ChildProcess>(
        testsupport::ProgramPath("corvsim"),
        std::vector<std::string>{"-", dir_.File("sim.ini"), dir_.File("record.txt")}, dir_.Path());
    ok_ = testsupport::WaitForFileText(dir_.File("record.txt"), "LISTEN", kStartMs);
    if (config.find("tls_port") != std::string::npos)
      ok_ = ok_ && testsupport::WaitForFileText(dir_.File("record.txt"), "-tls port=", kStartMs);
  }
  ~Corvsim() { Stop(); }
  bool Ok() const { return ok_; }
  int Stop() { return process_ ? process_->Stop(SIGTERM, 10000) : 0; }
  std::string Record() const { return dir_.Read("record.txt"); }
  std::string RecordPath() const { return dir_.File("record.txt"); }
  std::string Output() const { return process_->Output(); }
  uint16_t Port(const std::string& kind) const { return NumberAfter(Record(), "LISTEN " + kind + " port="); }
  const testsupport::TempDir& Dir() const { return dir_; }

 private:
  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::ChildProcess> process_;
  bool ok_ = false;
};

// Net::SNPP::Server through tests/ip_snpp_server.pl.
class PerlSnppCarrier {
 public:
  explicit PerlSnppCarrier(const std::vector<std::string>& options) {
    std::vector<std::string> args = {testsupport::SourcePath("tests/ip_snpp_server.pl"), dir_.File("record.txt"),
                                     "--idle", "60"};
    args.insert(args.end(), options.begin(), options.end());
    process_ = std::make_unique<testsupport::ChildProcess>("/usr/bin/perl", args, dir_.Path());
    for (int i = 0; i < kStartMs / 20 && port_ == 0; ++i) {
      port_ = NumberAfter(process_->Output(), "PORT ");
      if (port_ == 0) usleep(20000);
    }
  }
  ~PerlSnppCarrier() { process_->Stop(SIGTERM, 5000); }
  uint16_t Port() const { return port_; }
  std::string Record() const { return dir_.Read("record.txt"); }
  std::string Output() const { return process_->Output(); }

 private:
  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::ChildProcess> process_;
  uint16_t port_ = 0;
};

}  // namespace iptest
