// Delivery over IP end to end: pages through the pipe to corvd32, out to simulated carriers
// on 127.0.0.1 (corvsim's WCTP carrier and TAP terminal on the network, Perl's
// Net::SNPP::Server, and a second Corvel's corvnet32), judged by the carriers' records, the
// log and the page store's record of each page.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/request_record.h"
#include "tests/ip_support.h"
#include "tests/modem_harness.h"
#include "tests/server_harness.h"
#include "tests/snpp_test_client.h"
#include "tests/support/wait.h"

namespace {

constexpr int kWaitMs = 20000;
// Retry waits and status polls run a hundred times faster; the protocols' limits stay real.
const std::map<std::string, std::string> kFast = {{"CORVEL_TIME_SCALE", "100"}};

// A port on 127.0.0.1 that nothing listens on right now (a carrier started later takes it).
uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

std::string PersonOn(const std::string& name, const std::string& id, const std::string& system) {
  return "[" + name + "]\nPageID = '" + id + "'\nPagerType = Alphanumeric\nSystemName = '" + system + "'\n";
}

// The page store's record of page number, as `corvadmin status-of` shows it.
std::string PageRecord(const servertest::Server& server, int number) {
  common::RequestRecord head = servertest::Server::Head(common::kPageRecord);
  head.Minute = static_cast<int16_t>(number);
  return server.Request(head, "");
}

bool RecordShows(const servertest::Server& server, int number, const std::string& text, int ms = kWaitMs) {
  return testsupport::WaitUntil([&] { return PageRecord(server, number).find(text) != std::string::npos; }, ms, 50);
}

bool LogShows(const servertest::Server& server, const std::string& text, int ms = kWaitMs) {
  return testsupport::WaitForFileText(server.Dir().File("log.txt"), text, ms);
}

std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

class IpDelivery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ca_ = new iptest::TestCa(); }
  static void TearDownTestSuite() {
    delete ca_;
    ca_ = nullptr;
  }
  void SetUp() override {
    if (!testsupport::FileExists(testsupport::ProgramPath("corvd32"))) GTEST_SKIP() << "corvd32 is not built";
    ASSERT_TRUE(ca_->Ok());
  }

  void StartServer(const std::string& pageIni, const std::map<std::string, std::string>& env = kFast) {
    server_.Dir().Write("page.ini", pageIni);
    server_.Start({}, env);
  }

  static std::string WctpSystem(const std::string& name, uint16_t port, const std::string& extra = "") {
    return "[" + name + "]\nSystemType = Wctp\nWctpUrl = 'http://127.0.0.1:" + std::to_string(port) +
           "/wctp'\nWctpSenderID = 'corvel'\nWctpSecurityCode = 'pw'\n" + extra;
  }

  static iptest::TestCa* ca_;
  servertest::Server server_;
};
iptest::TestCa* IpDelivery::ca_ = nullptr;

TEST_F(IpDelivery, WctpPageAcceptedAndPolledToDeliveredRefusedPageGivenUpAtOnce) {
  iptest::Corvsim carrier(
      "[wctp]\nport = 0\nsender_id = corvel\nsecurity_code = pw\nrefuse_ids = 666\ntracking = on\n"
      "status_steps = QUEUED DELIVERED\n");
  ASSERT_TRUE(carrier.Ok()) << carrier.Output();
  StartServer("MaxReTrys = 5\nPagerSystemsSection\n" +
              WctpSystem("Carrier", carrier.Port("wctp"), "WctpStatus = ClientQuery\n") + "NameSection\n" +
              PersonOn("Ann", "5551234", "Carrier") + PersonOn("Eve", "666", "Carrier"));
  server_.Page("Ann", "Hello <Ann> & co");
  server_.Page("Eve", "Never");

  ASSERT_TRUE(LogShows(server_, "Message(#1) sent to Ann")) << server_.Log();
  EXPECT_TRUE(RecordShows(server_, 1, "state=sent")) << PageRecord(server_, 1);
  EXPECT_NE(PageRecord(server_, 1).find("carrier reference T"), std::string::npos) << PageRecord(server_, 1);
  // Refused for good: given up on its first attempt, with the carrier's code and text.
  ASSERT_TRUE(LogShows(server_, "Error - Paging carrier refused message(#2) for Eve: 403")) << server_.Log();
  EXPECT_TRUE(RecordShows(server_, 2, "state=given up")) << PageRecord(server_, 2);
  EXPECT_NE(PageRecord(server_, 2).find("attempts=1"), std::string::npos) << PageRecord(server_, 2);
  // The carrier is asked what became of the accepted page until it says DELIVERED.
  ASSERT_TRUE(LogShows(server_, "Message(#1) for Ann: carrier reports DELIVERED")) << server_.Log() << carrier.Record();
  EXPECT_TRUE(RecordShows(server_, 1, "carrier status DELIVERED")) << PageRecord(server_, 1);

  const std::vector<std::string> submits = Lines(carrier.Record(), "WCTP submit");
  ASSERT_EQ(submits.size(), 2u) << carrier.Record();
  EXPECT_NE(submits[0].find("recipient=5551234"), std::string::npos);
  EXPECT_NE(submits[0].find("text=Hello\\x20<Ann>\\x20&\\x20co"), std::string::npos) << submits[0];
  EXPECT_NE(submits[1].find("recipient=666"), std::string::npos);
  EXPECT_FALSE(Lines(carrier.Record(), "WCTP query").empty());
}

TEST_F(IpDelivery, WctpServerErrorIsARetriedRoundWithTheSameMessageId) {
  iptest::Corvsim carrier("[wctp]\nport = 0\nfail_first = 1\n");
  ASSERT_TRUE(carrier.Ok()) << carrier.Output();
  StartServer("MaxReTrys = 5\nPagerSystemsSection\n" + WctpSystem("Carrier", carrier.Port("wctp")) + "NameSection\n" +
              PersonOn("Ann", "5551234", "Carrier"));
  server_.Page("Ann", "Try again");
  ASSERT_TRUE(LogShows(server_, "Message(#1) sent to Ann")) << server_.Log() << carrier.Record();
  EXPECT_NE(server_.Log().find("Error - Paging carrier did not take message(#1) for Ann: 500"), std::string::npos);
  EXPECT_TRUE(RecordShows(server_, 1, "attempts=2")) << PageRecord(server_, 1);

  const std::vector<std::string> submits = Lines(carrier.Record(), "WCTP submit");
  ASSERT_EQ(submits.size(), 2u) << carrier.Record();
  EXPECT_EQ(modemtest::Rig::Field(submits[0], "code"), "500");
  EXPECT_EQ(modemtest::Rig::Field(submits[1], "code"), "200");
  EXPECT_FALSE(modemtest::Rig::Field(submits[0], "messageID").empty());
  EXPECT_EQ(modemtest::Rig::Field(submits[0], "messageID"), modemtest::Rig::Field(submits[1], "messageID"));
}

TEST_F(IpDelivery, WctpPollForMessagesRecordsTheCarriersReport) {
  iptest::Corvsim carrier("[wctp]\nport = 0\ntracking = on\nstatus_steps = DELIVERED READ\n");
  ASSERT_TRUE(carrier.Ok()) << carrier.Output();
  StartServer("PagerSystemsSection\n" + WctpSystem("Carrier", carrier.Port("wctp"), "WctpStatus = PollForMessages\n") +
              "NameSection\n" + PersonOn("Ann", "5551234", "Carrier"));
  server_.Page("Ann", "Poll me");
  ASSERT_TRUE(LogShows(server_, "Message(#1) sent to Ann")) << server_.Log();
  ASSERT_TRUE(LogShows(server_, "Message(#1) for Ann: carrier reports")) << server_.Log() << carrier.Record();
  EXPECT_TRUE(RecordShows(server_, 1, "carrier status ")) << PageRecord(server_, 1);
  EXPECT_FALSE(Lines(carrier.Record(), "WCTP poll").empty()) << carrier.Record();
}

// The pages are queued while the terminal is not there yet, so its first session finds them
// all: NAK answered by sending the block again, RS giving the page up, ESC EOT ending the
// session with the page on the line kept for the next one.
void TapSessionCase(servertest::Server& server, bool tls, iptest::TestCa& ca) {
  const uint16_t port = FreePort();
  ASSERT_NE(port, 0);
  const std::string tapHost = "TapHost = '127.0.0.1:" + std::to_string(port) + "'\n";
  const std::string tlsKeys = tls ? "TapTls = Enabled\nTapCaFile = '" + ca.CaFile + "'\n" : "";
  server.Dir().Write("page.ini", "MaxReTrys = 0\nPagerSystemsSection\n[Net]\nSystemType = Tap\nTapPassWord = 'PW1'\n" +
                                     tapHost + tlsKeys + "NameSection\n" + PersonOn("Ann", "123", "Net") +
                                     PersonOn("Eve", "666", "Net"));
  server.Start({}, kFast);
  for (const char* text : {"one", "two", "bad", "three", "four"})
    server.Page(std::string(text) == "bad" ? "Eve" : "Ann", text);
  ASSERT_TRUE(LogShows(server, "Page Queued(#5)"));
  const std::string listen = tls ? "port = 0\ntls_port = " + std::to_string(port) : "port = " + std::to_string(port);
  iptest::Corvsim terminal("[tap-tcp]\n" + listen + "\ncert = " + ca.CertFile + "\nkey = " + ca.KeyFile +
                           "\npassword = PW1\nnak_first = 1\nrs_ids = 666\ndisconnect_after = 3\n");
  ASSERT_TRUE(terminal.Ok()) << terminal.Output();
  ASSERT_TRUE(LogShows(server, "Message(#5) sent to Ann")) << server.Log() << terminal.Record();
  const std::string record = terminal.Record();
  for (const char* text : {"one", "two", "three", "four"})
    EXPECT_EQ(testsupport::CountInFile(terminal.RecordPath(), std::string("text=") + text + " checksum=ok verdict=ACK"),
              1)
        << text << "\n"
        << record;
  EXPECT_NE(record.find("verdict=NAK"), std::string::npos) << record;
  EXPECT_NE(record.find("text=bad checksum=ok verdict=RS"), std::string::npos) << record;
  EXPECT_NE(record.find("verdict=ESC"), std::string::npos) << record;
  EXPECT_NE(record.find(tls ? "CONNECT call=2 tls=1" : "CONNECT call=2 tls=0"), std::string::npos) << record;
  EXPECT_TRUE(RecordShows(server, 3, "state=given up")) << PageRecord(server, 3);
  EXPECT_NE(server.Log().find("Error - Pager system disconnected on message(#5)"), std::string::npos) << server.Log();
}

TEST_F(IpDelivery, TapOverTcpSeveralPagesPerSessionNakRsAndEscEot) { TapSessionCase(server_, false, *ca_); }

TEST_F(IpDelivery, TapOverTlsSeveralPagesPerSessionNakRsAndEscEot) { TapSessionCase(server_, true, *ca_); }

TEST_F(IpDelivery, TapManualModeOverTcp) {
  iptest::Corvsim terminal("[tap-tcp]\nport = 0\nterminal = tapm\n");
  ASSERT_TRUE(terminal.Ok()) << terminal.Output();
  StartServer(
      "PagerSystemsSection\n[Desk]\nSystemType = TapM\nTapHost = '127.0.0.1:" + std::to_string(terminal.Port("tap")) +
      "'\nNameSection\n" + PersonOn("Ann", "123", "Desk") + PersonOn("Bob", "456", "Desk"));
  server_.Page("Ann", "manual one");
  server_.Page("Bob", "manual two");
  ASSERT_TRUE(LogShows(server_, "Paged Bob")) << server_.Log() << terminal.Record();
  EXPECT_TRUE(RecordShows(server_, 1, "state=sent"));
  // The terminal writes its record as the session ends.
  EXPECT_TRUE(testsupport::WaitForFileText(terminal.RecordPath(), "id=456 msg=manual two", kWaitMs))
      << terminal.Record();
  EXPECT_NE(terminal.Record().find("id=123 msg=manual one"), std::string::npos) << terminal.Record();
}

TEST_F(IpDelivery, SnppToNetSnppServerWithAndWithoutTlsAndLogin) {
  iptest::PerlSnppCarrier plain({});
  iptest::PerlSnppCarrier secured({"--tls", ca_->CertFile, ca_->KeyFile, "--login", "gw", "secret"});
  ASSERT_NE(plain.Port(), 0) << plain.Output();
  ASSERT_NE(secured.Port(), 0) << secured.Output();
  StartServer("MaxReTrys = 3\nPagerSystemsSection\n[Plain]\nSystemType = Snpp\nSnppHost = '127.0.0.1'\nSnppPort = " +
                  std::to_string(plain.Port()) + "\n[Secured]\nSystemType = Snpp\nSnppHost = '127.0.0.1'\nSnppPort = " +
                  std::to_string(secured.Port()) + "\nSnppTls = Enabled\nSnppCaFile = '" + ca_->CaFile +
                  "'\nSnppLogin = 'gw'\nSnppPassword = 'secret'\nNameSection\n" + PersonOn("Ann", "5551001", "Plain") +
                  PersonOn("Cy", "12", "Plain") + PersonOn("Bob", "5551002", "Secured"),
              {});
  server_.Page("Ann", "first");
  server_.Page("Cy", "too short an ID");
  server_.Page("Ann", "second");
  server_.Page("Bob", "over TLS");
  ASSERT_TRUE(LogShows(server_, "Message(#3) sent to Ann")) << server_.Log() << plain.Output();
  ASSERT_TRUE(LogShows(server_, "Message(#4) sent to Bob")) << server_.Log() << secured.Output();
  EXPECT_TRUE(RecordShows(server_, 4, "state=sent"));
  // 5xx: given up at once, and the pages behind it still go.
  EXPECT_NE(server_.Log().find("Error - Paging carrier refused message(#2) for Cy: 550"), std::string::npos)
      << server_.Log();
  EXPECT_TRUE(RecordShows(server_, 2, "state=given up"));
  EXPECT_NE(PageRecord(server_, 2).find("attempts=1"), std::string::npos) << PageRecord(server_, 2);
  EXPECT_NE(plain.Record().find("PAGE id=5551001 text=first"), std::string::npos) << plain.Record();
  EXPECT_NE(plain.Record().find("PAGE id=5551001 text=second"), std::string::npos) << plain.Record();
  EXPECT_NE(secured.Record().find("LOGI user=gw ok=1"), std::string::npos) << secured.Record();
  EXPECT_NE(secured.Record().find("PAGE id=5551002 text=over TLS"), std::string::npos) << secured.Record();
}

TEST_F(IpDelivery, SnppRelayedToAnotherCorvel) {
  // The second Corvel: corvd32 behind corvnet32, paging a modem system that is not there,
  // so what it accepted stays in its queue and log.
  servertest::Server relay;
  relay.Dir().Write("page.ini",
                    "MaxReTrys = 0\nPagerSystemsSection\n[Far]\nSystemType = Tap\nPort = "
                    "'/nonexistent/tty9'\nNameSection\n" +
                        PersonOn("Zed", "7007", "Far"));
  relay.Start();
  const uint16_t snppPort = FreePort();
  snpptest::Corvnet corvnet(relay.Dir(), relay.Pipe(), snppPort);
  ASSERT_TRUE(corvnet.Started()) << relay.Log();
  StartServer("PagerSystemsSection\n[Relay]\nSystemType = Snpp\nSnppHost = '127.0.0.1'\nSnppPort = " +
              std::to_string(snppPort) + "\nNameSection\n" + PersonOn("Ann", "7007", "Relay"));
  server_.Page("Ann", "Through two gateways");
  ASSERT_TRUE(LogShows(server_, "Message(#1) sent to Ann")) << server_.Log() << relay.Log();
  EXPECT_TRUE(testsupport::WaitForFileText(relay.Dir().File("log.txt"), "Page Queued(#1), Will page 7007", kWaitMs))
      << relay.Log();
  EXPECT_NE(PageRecord(relay, 1).find("pageid=7007"), std::string::npos) << PageRecord(relay, 1);
}

TEST_F(IpDelivery, SystemFirstNamedByAReloadGetsItsWorkers) {
  iptest::Corvsim carrier("[wctp]\nport = 0\n");
  ASSERT_TRUE(carrier.Ok()) << carrier.Output();
  StartServer(
      "MaxReTrys = 0\nPagerSystemsSection\n[Other]\nSystemType = Tap\nPort = '/nonexistent/tty9'\n"
      "NameSection\n" +
      PersonOn("Zed", "9", "Other"));
  // The first check (2 minutes, 1.2 s here) takes the file's time as its baseline.
  testsupport::FileCloseWatch ini(server_.Dir().File("page.ini"));
  ASSERT_TRUE(ini.Ok());
  ASSERT_TRUE(servertest::WaitForIniBaseline(ini, kWaitMs));
  server_.Dir().Write("page.ini", "PagerSystemsSection\n" +
                                      WctpSystem("Carrier", carrier.Port("wctp"), "Connections = 2\n") +
                                      "NameSection\n" + PersonOn("Ann", "5551234", "Carrier"));
  std::filesystem::last_write_time(server_.Dir().File("page.ini"),
                                   std::filesystem::file_time_type::clock::now() + std::chrono::minutes(3));
  ASSERT_TRUE(LogShows(server_, "PAGE.INI has changed - Re-reading file")) << server_.Log();
  ASSERT_EQ(server_.Page("Ann", "after the reload"), "OK");
  ASSERT_TRUE(LogShows(server_, "Message(#1) sent to Ann")) << server_.Log() << carrier.Record();
}

TEST_F(IpDelivery, ModemAndThreeIpSystemsDeliverOnePageEach) {
  iptest::Corvsim net("[tap-tcp]\nport = 0\npassword = PW1\n[wctp]\nport = 0\n");
  ASSERT_TRUE(net.Ok()) << net.Output();
  ASSERT_TRUE(testsupport::WaitForFileText(net.RecordPath(), "LISTEN wctp", kWaitMs));
  ASSERT_TRUE(testsupport::WaitForFileText(net.RecordPath(), "LISTEN tap ", kWaitMs));
  iptest::PerlSnppCarrier snpp({});
  ASSERT_NE(snpp.Port(), 0) << snpp.Output();
  modemtest::Rig rig;
  const std::string ini =
      "MaxReTrys = 3\nPagerSystemsSection\n[Sim]\nSystemType = Tap\nPort = '" + rig.Port() +
      "'\nBaud = 9600\nParity = Even\nDataBits = 7\nStopBits = 1\nTapPassWord = 'PW'\n"
      "SystemPhoneNumber = '5551234'\n" +
      WctpSystem("Carrier", net.Port("wctp")) +
      "[Snpp]\nSystemType = Snpp\nSnppHost = '127.0.0.1'\nSnppPort = " + std::to_string(snpp.Port()) +
      "\n[Net]\nSystemType = Tap\nTapPassWord = 'PW1'\nTapHost = '127.0.0.1:" + std::to_string(net.Port("tap")) +
      "'\nNameSection\n" + PersonOn("Ann", "123", "Sim") + PersonOn("Wes", "2002", "Carrier") +
      PersonOn("Sue", "5553003", "Snpp") + PersonOn("Tom", "4004", "Net");
  rig.Start(ini, modemtest::SimIni());
  for (const char* name : {"Ann", "Wes", "Sue", "Tom"}) rig.Page(name, std::string("to ") + name);
  for (const char* name : {"Ann", "Wes", "Sue", "Tom"})
    EXPECT_TRUE(rig.WaitLog(std::string(") sent to ") + name, kWaitMs)) << name << "\n" << rig.Log();
  EXPECT_TRUE(rig.WaitRecord("PAGE call=1 id=123", kWaitMs)) << rig.Record();
  EXPECT_NE(net.Record().find("recipient=2002"), std::string::npos) << net.Record();
  EXPECT_NE(net.Record().find("id=4004"), std::string::npos) << net.Record();
  EXPECT_NE(snpp.Record().find("PAGE id=5553003 text=to Sue"), std::string::npos) << snpp.Record();
}

}  // namespace
