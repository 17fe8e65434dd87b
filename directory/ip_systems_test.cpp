// page.ini's systems reached over IP: WCTP, SNPP and TAP over TCP, their keywords, bounds,
// refusals and the rule that they take no serial port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "directory/page_ini.h"

namespace directory {
namespace {

class IpSystems : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvipini.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    common::SetProgramName("CORVD32");
    common::SetLogFileName(dir_ + "/log.txt");
    hooks_.RegisterPort = [this](std::string_view port) { ports_.emplace_back(port); };
  }
  void TearDown() override {
    common::SetLogFileName("");
    std::filesystem::remove_all(dir_);
  }
  int Parse(const std::string& text) { return ParsePageIniText(text, "page.ini", d_, s_, hooks_); }
  std::string Log() {
    std::ifstream in(dir_ + "/log.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }
  const SystemRecord* System(std::string_view name) {
    const int i = d_.FindSystemByName(name);
    return i < 0 ? nullptr : &d_.Systems[i];
  }

  std::string dir_;
  Directory d_;
  PageIniSettings s_;
  PageIniHooks hooks_;
  std::vector<std::string> ports_;
};

TEST_F(IpSystems, TheThreeKindsAreReadWithTheirSettingsAndNoPorts) {
  const std::string text =
      "PagerSystemsSection\n"
      "[Modem]\nSystemType = Tap\nPort = 'COM1'\n"
      "[Carrier]\n"
      "SystemType = Wctp\n"
      "WctpUrl = 'https://wctp.example.net/wctp'\n"
      "WctpSenderID = 'corvel'\n"
      "WctpSecurityCode = 'se cret'\n"
      "WctpMiscInfo = 'Night desk'\n"
      "WctpStatus = PollForMessages\n"
      "WctpCaFile = '/etc/corvel/carrier-ca.pem'\n"
      "MaxMessageLength = 500\n"
      "Connections = 4\n"
      "[Relay]\n"
      "systemtype = snpp\n"
      "SnppHost = 'snpp.example.net'\n"
      "SnppTls = Enabled\n"
      "SnppLogin = 'gw'\n"
      "SnppPassword = 'pw'\n"
      "SnppCaFile = 'ca.pem'\n"
      "Port = 'COM9'\n"  // ignored: an SNPP carrier is not dialled
      "[Hospital]\n"
      "SystemType = TapM\n"
      "TapHost = 'tap.example.net:18101'\n"
      "TapTls = Enabled\n"
      "TapCaFile = 'tap-ca.pem'\n";
  EXPECT_EQ(Parse(text), 0) << Log();
  EXPECT_EQ(ports_, std::vector<std::string>{"COM1"});

  const SystemRecord* wctp = System("Carrier");
  ASSERT_NE(wctp, nullptr);
  EXPECT_EQ(wctp->SystemType, SystemType::Wctp);
  EXPECT_TRUE(IsIpSystem(*wctp));
  EXPECT_EQ(wctp->WctpUrl, "https://wctp.example.net/wctp");
  EXPECT_EQ(wctp->WctpSenderID, "corvel");
  EXPECT_EQ(wctp->WctpSecurityCode, "se cret");
  EXPECT_EQ(wctp->WctpMiscInfo, "Night desk");
  EXPECT_EQ(wctp->WctpStatus, WctpStatus::PollForMessages);
  EXPECT_EQ(wctp->WctpCaFile, "/etc/corvel/carrier-ca.pem");
  EXPECT_EQ(wctp->MaxMessageLength, 500);
  EXPECT_EQ(wctp->Connections, 4);

  const SystemRecord* snpp = System("Relay");
  ASSERT_NE(snpp, nullptr);
  EXPECT_EQ(snpp->SystemType, SystemType::Snpp);
  EXPECT_EQ(snpp->SnppHost, "snpp.example.net");
  EXPECT_EQ(snpp->SnppPort, 444);  // the carriers' usual port
  EXPECT_TRUE(snpp->SnppTls);
  EXPECT_EQ(snpp->SnppLogin, "gw");
  EXPECT_EQ(snpp->SnppPassword, "pw");
  EXPECT_EQ(snpp->SnppCaFile, "ca.pem");
  EXPECT_EQ(snpp->Connections, 1);
  EXPECT_EQ(snpp->WctpStatus, WctpStatus::None);

  const SystemRecord* tap = System("Hospital");
  ASSERT_NE(tap, nullptr);
  EXPECT_EQ(tap->SystemType, SystemType::TapM);
  EXPECT_EQ(tap->TapHost, "tap.example.net:18101");
  EXPECT_TRUE(tap->TapTls);
  EXPECT_EQ(tap->TapCaFile, "tap-ca.pem");
  EXPECT_TRUE(IsIpSystem(*tap));
  EXPECT_FALSE(IsIpSystem(*System("Modem")));
  SystemRecord ucp = *tap;
  ucp.SystemType = SystemType::UCP;  // a UCP system is dialled, TapHost or not
  EXPECT_FALSE(IsIpSystem(ucp));
}

TEST_F(IpSystems, BadValuesAreLoggedAndLeaveTheDefaults) {
  const std::string text =
      "[T]\nSystemType = Tap\nTapHost = 'tap.example.net'\nPort = 'COM2'\n"
      "[S]\nSystemType = Snpp\nSnppHost = 'h'\nSnppPort = 70000\nConnections = 99\n"
      "[S0]\nSystemType = Snpp\nSnppHost = 'h'\nSnppPort = 0\nConnections = -3\nSnppPort = 7777\n"
      "[W]\nSystemType = Wctp\nWctpUrl = 'file:///etc/passwd'\nWctpUrl = 'HTTP://carrier/wctp'\n"
      "WctpSenderID = 'x'\nWctpStatus = None\n"
      "[Q]\nWctpStatus = Sometimes\n";
  EXPECT_EQ(Parse(text), 1);  // Sometimes is no value of WctpStatus
  EXPECT_TRUE(Logged("CORVD32: TapHost(tap.example.net) is not name:port, ignored\n")) << Log();
  EXPECT_TRUE(Logged("CORVD32: SnppPort(70000) is not a port number, ignored\n"));
  EXPECT_TRUE(Logged("CORVD32: SnppPort(0) is not a port number, ignored\n"));
  EXPECT_TRUE(Logged("CORVD32: WctpUrl(file:///etc/passwd) is not an http or https address, ignored\n"));
  EXPECT_TRUE(Logged("Syntax error (Sometimes) in line - 23\n"));
  // The TAP system without a usable TapHost stays a modem system with its port.
  EXPECT_TRUE(System("T")->TapHost.empty());
  EXPECT_EQ(ports_, std::vector<std::string>{"COM2"});
  EXPECT_EQ(System("S")->SnppPort, 444);
  EXPECT_EQ(System("S")->Connections, kMaxConnections);
  EXPECT_EQ(System("S0")->SnppPort, 7777);
  EXPECT_EQ(System("S0")->Connections, 1);
  EXPECT_EQ(System("W")->WctpUrl, "HTTP://carrier/wctp");  // the scheme's case does not matter
}

TEST_F(IpSystems, SystemWithoutItsAddressIsRefusedWhereTheMistakeIsMade) {
  const std::string text =
      "[NoUrl]\nSystemType = Wctp\nWctpSenderID = 'corvel'\n"
      "[NoSender]\nSystemType = Wctp\nWctpUrl = 'http://127.0.0.1:1/wctp'\n"
      "[NoHost]\nSystemType = Snpp\nSnppLogin = 'gw'\n"
      "NameSection\n[Ann]\nPageID = '1'\nPagerType = Alphanumeric\nSystemName = 'NoUrl'\n";
  EXPECT_EQ(Parse(text), 0);
  EXPECT_TRUE(Logged("CORVD32: System(NoUrl) needs WctpUrl, not stored\n")) << Log();
  EXPECT_TRUE(Logged("CORVD32: System(NoSender) needs WctpSenderID, not stored\n"));
  EXPECT_TRUE(Logged("CORVD32: System(NoHost) needs SnppHost, not stored\n"));
  EXPECT_EQ(d_.SystemCount, 0);
  // A person of a refused system is refused in turn, as for any unknown system.
  EXPECT_TRUE(Logged("CORVD32: System Name not valid for name(Ann)\n"));
}

TEST_F(IpSystems, LongTextsAreCutToTheirFields) {
  const std::string longText(190, 'x');
  const std::string text = "[W]\nSystemType = Wctp\nWctpUrl = 'http://c/w'\nWctpSenderID = '" + longText +
                           "'\nWctpSecurityCode = '" + longText + "'\nSnppLogin = '" + longText +
                           "'\nSnppPassword = '" + longText + "'\nSnppHost = '" + longText + "'\n";
  EXPECT_EQ(Parse(text), 0);
  const SystemRecord* w = System("W");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->WctpSenderID.size(), kWctpSenderIdMax);
  EXPECT_EQ(w->WctpSecurityCode.size(), kWctpSecurityCodeMax);
  EXPECT_EQ(w->SnppLogin.size(), kSnppLoginMax);
  EXPECT_EQ(w->SnppPassword.size(), kSnppPasswordMax);
  EXPECT_EQ(w->SnppHost.size(), kIpHostMax);
}

TEST(SplitHostPort, NameAndPortOrNothing) {
  std::string host = "kept";
  uint16_t port = 7;
  EXPECT_TRUE(SplitHostPort("tap.example.net:18101", host, port));
  EXPECT_EQ(host, "tap.example.net");
  EXPECT_EQ(port, 18101);
  EXPECT_TRUE(SplitHostPort("127.0.0.1:1", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  for (const char* bad : {"tap.example.net", "tap.example.net:", ":18101", "host:0", "host:65536", "host:18a01",
                          "host:123456", "two words:444", ""}) {
    host = "kept";
    port = 7;
    EXPECT_FALSE(SplitHostPort(bad, host, port)) << bad;
    EXPECT_EQ(host, "kept");
    EXPECT_EQ(port, 7);
  }
}

}  // namespace
}  // namespace directory
