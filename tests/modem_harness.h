// tests/modem_harness.h - corvd32 with a TAP system whose port is a corvsim pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/server_harness.h"
#include "tests/support/process.h"

namespace modemtest {

// The program-time scale the rig's corvd32 runs at unless a test names its own: the dial
// threads' waits and a call's fixed pauses (the close, the pause after it, the logon's
// second) take a tenth of their time, so a TAP call costs about half a second of pauses
// instead of four and a half. The limits on the simulator's answers stay real.
constexpr int kTimeScale = 10;

// The TAP system "Sim" on the simulator's port with persons Ann (ID 123) and Bob (ID 666).
// systemExtra and globalExtra add page.ini lines to the system entry and the file's head.
inline std::string TapIni(const std::string& port, const std::string& systemExtra = "",
                          const std::string& globalExtra = "MaxReTrys = 3\n") {
  return globalExtra +
         "PagerSystemsSection\n"
         "[Sim]\nSystemType = Tap\nPort = '" +
         port +
         "'\nBaud = 9600\nParity = Even\nDataBits = 7\nStopBits = 1\n"
         "TapPassWord = 'PW'\n" +
         systemExtra +
         "NameSection\n"
         "[Ann]\nPageID = '123'\nPagerType = Alphanumeric\nSystemName = 'Sim'\n"
         "[Bob]\nPageID = '666'\nPagerType = Alphanumeric\nSystemName = 'Sim'\n";
}

// A simulator configuration with the number 5551234 behind a fast modem.
inline std::string SimIni(const std::string& numberExtra = "", const std::string& modemExtra = "") {
  return "[modem]\ndial_ms = 100\n" + modemExtra + "[number 5551234]\nresult = CONNECT 9600/ARQ\npassword = PW\n" +
         numberExtra;
}

class Rig {
 public:
  // The port's path: short, since the port field holds 29 characters.
  std::string Port() const { return server_.Dir().File("p"); }
  const testsupport::TempDir& Dir() const { return server_.Dir(); }
  servertest::Server& Server() { return server_; }

  void StartSim(const std::string& simIni) {
    Dir().Write("sim.ini", simIni);
    sim_ = std::make_unique<testsupport::ChildProcess>(
        testsupport::ProgramPath("corvsim"),
        std::vector<std::string>{Port(), Dir().File("sim.ini"), Dir().File("rec.txt")}, Dir().Path());
    ASSERT_TRUE(testsupport::WaitForFileText(Dir().File("corvsim.out"), "corvsim:", 5000)) << sim_->Output();
  }

  // Starts the simulator and the server with a page.ini (at kTimeScale unless env sets
  // CORVEL_TIME_SCALE).
  void Start(const std::string& pageIni, const std::string& simIni,
             const std::map<std::string, std::string>& env = {}) {
    StartSim(simIni);
    Dir().Write("page.ini", pageIni);
    StartServer(env);
  }

  // Starts the server on the page.ini in place (at kTimeScale unless env says otherwise).
  void StartServer(const std::map<std::string, std::string>& env = {}) {
    std::map<std::string, std::string> all = env;
    all.emplace("CORVEL_TIME_SCALE", std::to_string(kTimeScale));
    server_.Start({}, all);
  }

  std::string Page(const std::string& name, const std::string& text) { return server_.Page(name, text); }

  // "hold_until = FILE" for a simulator number: its dial is answered only once Release ran.
  std::string Hold() const { return "hold_until = " + Dir().File("go") + "\n"; }

  // Lets held calls connect once `pages` pages wait in the port's queue, so a call starts
  // with the whole batch queued, however slowly the test posted it. Fails the test when
  // they do not arrive within 10 s.
  void ReleaseWhenQueued(int pages) {
    const std::string queued = "Total Pages in " + Port() + " Queue: " + std::to_string(pages) + "\n";
    const std::string status = servertest::StatusWhen(
        server_, 0, [&](const std::string& report) { return report.find(queued) != std::string::npos; }, 10000);
    EXPECT_NE(status.find(queued), std::string::npos) << status;
    Dir().Write("go", "");
  }

  std::string Log() const { return server_.Log(); }
  std::string Record() const { return Dir().Read("rec.txt"); }
  bool WaitLog(const std::string& text, int ms) const {
    return testsupport::WaitForFileText(Dir().File("log.txt"), text, ms);
  }
  bool WaitRecord(const std::string& text, int ms) const {
    return testsupport::WaitForFileText(Dir().File("rec.txt"), text, ms);
  }
  int CountLog(const std::string& text) const { return testsupport::CountInFile(Dir().File("log.txt"), text); }
  int CountRecord(const std::string& text) const { return testsupport::CountInFile(Dir().File("rec.txt"), text); }

  // The record's lines that begin with prefix.
  std::vector<std::string> RecordLines(const std::string& prefix) const {
    std::vector<std::string> lines;
    std::istringstream in(Record());
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  // The value of key=VALUE in a record line ("" when missing).
  static std::string Field(const std::string& line, const std::string& key) {
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    const size_t start = at + key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
  }

 private:
  servertest::Server server_;
  std::unique_ptr<testsupport::ChildProcess> sim_;
};

}  // namespace modemtest
