// The SNPP conversation with a carrier, against an RFC 1861 style server on 127.0.0.1 whose
// replies each test sets: which command gets which code, what goes on the wire, and what the
// page's verdict is.
#include "snppclient/snpp_carrier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "platform/tcp.h"

namespace snppclient {
namespace {

// Replies by command word; DATA answers 354 and then the "." line with DataEnd.
struct CarrierScript {
  std::string Greeting = "220 SNPP Gateway Ready";
  std::map<std::string, std::string> Replies = {
      {"LOGI", "250 OK"},          {"PAGE", "250 Pager ID Accepted"},      {"MESS", "250 Message OK"},
      {"DATA", "354 Begin Input"}, {"SEND", "250 Message 928941332 SEND"}, {"RESE", "250 RESET OK"},
      {"QUIT", "221 OK, Goodbye"}};
  std::string DataEnd = "250 Message OK";
  bool CloseAfterPage = false;  // hang up instead of answering PAGE
};

class CarrierServer {
 public:
  explicit CarrierServer(CarrierScript script) : script_(std::move(script)) {
    if (platform::TcpListen("127.0.0.1", 0, 4, listener_, port_) != 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~CarrierServer() {
    stop_ = true;
    platform::TcpShutdown(listener_);
    {
      std::lock_guard lock(mutex_);
      if (conn_ != nullptr) platform::TcpShutdown(*conn_);
    }
    thread_.join();
  }
  uint16_t Port() const { return port_; }
  std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  int Connections() const { return connections_.load(); }

 private:
  void Say(const platform::UniqueFd& c, const std::string& line) { (void)platform::TcpSendAll(c, line + "\r\n"); }
  void Serve() {
    while (!stop_) {
      platform::UniqueFd c;
      std::string peer;
      if (platform::TcpAccept(listener_, c, peer) != 0) return;
      ++connections_;
      {
        std::lock_guard lock(mutex_);
        conn_ = &c;
      }
      Session(c);
      std::lock_guard lock(mutex_);
      conn_ = nullptr;
    }
  }
  void Session(const platform::UniqueFd& c) {
    Say(c, script_.Greeting);
    if (script_.Greeting[0] != '2') return;
    std::string pending;
    bool data = false;
    char buf[2048];
    for (int rounds = 0; rounds < 1000 && !stop_; ++rounds) {
      const int n = platform::TcpReceive(c, buf, 10000);
      if (n <= 0) return;
      {
        std::lock_guard lock(mutex_);
        received_.append(buf, static_cast<size_t>(n));
      }
      pending.append(buf, static_cast<size_t>(n));
      size_t eol;
      while ((eol = pending.find("\r\n")) != std::string::npos) {
        const std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 2);
        if (data) {
          if (line == ".") {
            data = false;
            Say(c, script_.DataEnd);
          }
          continue;
        }
        const std::string word = line.substr(0, 4);
        if (word == "PAGE" && script_.CloseAfterPage) return;
        const auto it = script_.Replies.find(word);
        Say(c, it == script_.Replies.end() ? "500 Command Not Implemented" : it->second);
        if (word == "DATA" && it != script_.Replies.end() && it->second.rfind("354", 0) == 0) data = true;
        if (word == "QUIT") return;
      }
    }
  }

  CarrierScript script_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  const platform::UniqueFd* conn_ = nullptr;
  std::string received_;
};

SnppCarrierSettings SettingsFor(const CarrierServer& server) {
  SnppCarrierSettings s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.ReplyLimitMs = 3000;
  return s;
}

TEST(SnppCarrierText, DataBlockEndsLinesWithCrLfAndStuffsDots) {
  EXPECT_EQ(SnppDataBlock("one"), "one\r\n.\r\n");
  EXPECT_EQ(SnppDataBlock("one\ntwo\r\nthree\rfour\r\n"), "one\r\ntwo\r\nthree\r\nfour\r\n.\r\n");
  EXPECT_EQ(SnppDataBlock(".\n..x\nend."), "..\r\n...x\r\nend.\r\n.\r\n");  // no line can end the text early
  EXPECT_EQ(SnppDataBlock("a\n\nb"), "a\r\n\r\nb\r\n.\r\n");
  EXPECT_TRUE(FitsMess(std::string(kMessLineMax, 'x')));
  EXPECT_FALSE(FitsMess(std::string(kMessLineMax + 1, 'x')));
  EXPECT_FALSE(FitsMess("two\nlines"));
}

TEST(SnppCarrierText, ReplyClasses) {
  EXPECT_EQ(JudgeSnppReply(250), kCarrierAccepted);
  EXPECT_EQ(JudgeSnppReply(220), kCarrierAccepted);
  for (int code : {500, 550, 554}) EXPECT_EQ(JudgeSnppReply(code), kCarrierRefused) << code;
  for (int code : {0, 354, 421, 450, 960}) EXPECT_EQ(JudgeSnppReply(code), kCarrierFailedRound) << code;
}

TEST(SnppCarrier, ShortPageGoesWithMessAndLongOneWithDataAfterTheLogin) {
  CarrierServer server(CarrierScript{});
  SnppCarrierSettings settings = SettingsFor(server);
  settings.Login = "gw";
  settings.Password = "secret";
  SnppCarrierSession session(settings);
  SnppCarrierResult result;
  ASSERT_EQ(session.Open(result), kCarrierAccepted) << result.Reply;
  ASSERT_EQ(session.Send("5551234", "Disk full", result), kCarrierAccepted) << result.Reply;
  EXPECT_EQ(result.Command, "SEND");
  EXPECT_EQ(result.Code, 250);
  EXPECT_EQ(result.Reference, "Message 928941332 SEND");
  const std::string longText = "line one\n." + std::string(300, 'x');
  ASSERT_EQ(session.Send("5551235", longText, result), kCarrierAccepted) << result.Reply;
  session.Close();
  EXPECT_EQ(server.Received(),
            "LOGI gw secret\r\nPAGE 5551234\r\nMESS Disk full\r\nSEND\r\n"
            "PAGE 5551235\r\nDATA\r\nline one\r\n.." +
                std::string(300, 'x') + "\r\n.\r\nSEND\r\nQUIT\r\n");
  EXPECT_EQ(server.Connections(), 1);  // both pages on one session
}

TEST(SnppCarrier, RefusalGivesThePageUpAndTheSessionGoesOn) {
  CarrierScript script;
  script.Replies["PAGE"] = "550 Error, Invalid Pager ID";
  CarrierServer server(script);
  SnppCarrierSession session(SettingsFor(server));
  SnppCarrierResult result;
  ASSERT_EQ(session.Open(result), kCarrierAccepted);
  EXPECT_EQ(session.Send("12", "hi", result), kCarrierRefused);
  EXPECT_EQ(result.Command, "PAGE");
  EXPECT_EQ(result.Code, 550);
  EXPECT_EQ(result.Reply, "550 Error, Invalid Pager ID");
  EXPECT_TRUE(session.IsOpen());
  session.Close();
  EXPECT_EQ(server.Received(), "PAGE 12\r\nRESE\r\nQUIT\r\n");  // the half page was reset
}

TEST(SnppCarrier, TemporaryRepliesSilenceAndHangUpsFailTheRound) {
  {
    CarrierScript script;
    script.Replies["SEND"] = "421 Too busy, try later";
    CarrierServer server(script);
    SnppCarrierResult result;
    EXPECT_EQ(SendPageToCarrier(SettingsFor(server), "1", "hi", result), kCarrierFailedRound);
    EXPECT_EQ(result.Command, "SEND");
    EXPECT_EQ(result.Code, 421);
  }
  {
    CarrierScript script;
    script.Greeting = "421 Service not available";
    CarrierServer server(script);
    SnppCarrierResult result;
    EXPECT_EQ(SendPageToCarrier(SettingsFor(server), "1", "hi", result), kCarrierFailedRound);
    EXPECT_EQ(result.Command, "greeting");
    EXPECT_EQ(result.Code, 421);
  }
  {
    CarrierScript script;
    script.CloseAfterPage = true;
    CarrierServer server(script);
    SnppCarrierResult result;
    EXPECT_EQ(SendPageToCarrier(SettingsFor(server), "1", "hi", result), kCarrierFailedRound);
    EXPECT_EQ(result.Command, "PAGE");
    EXPECT_EQ(result.Code, 0);
    EXPECT_EQ(result.Reply, "the carrier closed the connection");
  }
  {
    // Nothing listens: a network failure is a failed round too.
    uint16_t closedPort = 0;
    {
      platform::UniqueFd probe;
      ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, probe, closedPort), 0);
    }
    SnppCarrierSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = closedPort;
    SnppCarrierResult result;
    EXPECT_EQ(SendPageToCarrier(settings, "1", "hi", result), kCarrierFailedRound);
    EXPECT_EQ(result.Command, "connect");
    EXPECT_NE(result.Reply.find("refused"), std::string::npos) << result.Reply;
  }
}

TEST(SnppCarrier, RefusedLoginRefusesAndALevelOneCarrierGetsLongTextsWithMess) {
  {
    CarrierScript script;
    script.Replies["LOGI"] = "550 Login refused";
    CarrierServer server(script);
    SnppCarrierSettings settings = SettingsFor(server);
    settings.Login = "gw";
    SnppCarrierResult result;
    EXPECT_EQ(SendPageToCarrier(settings, "1", "hi", result), kCarrierRefused);
    EXPECT_EQ(result.Command, "LOGI");
    EXPECT_EQ(server.Received(), "LOGI gw\r\nQUIT\r\n");
  }
  {
    CarrierScript script;
    script.Replies.erase("DATA");  // answered 500 Command Not Implemented
    CarrierServer server(script);
    SnppCarrierResult result;
    EXPECT_EQ(SendPageToCarrier(SettingsFor(server), "1", "two\r\nlines", result), kCarrierAccepted) << result.Reply;
    EXPECT_EQ(server.Received(), "PAGE 1\r\nDATA\r\nMESS two lines\r\nSEND\r\nQUIT\r\n");
  }
  {
    // A 250 where DATA's go-ahead belongs: sending the text would put it out of step.
    CarrierScript script;
    script.Replies["DATA"] = "250 OK";
    CarrierServer server(script);
    SnppCarrierResult result;
    EXPECT_EQ(SendPageToCarrier(SettingsFor(server), "1", std::string(300, 'y'), result), kCarrierFailedRound);
    EXPECT_EQ(server.Received().find("yyy"), std::string::npos);
  }
}

TEST(SnppCarrier, PagerIdWithALineEndCannotStartACommand) {
  CarrierServer server(CarrierScript{});
  SnppCarrierResult result;
  EXPECT_EQ(SendPageToCarrier(SettingsFor(server), "123\r\nRESE", "hi", result), kCarrierAccepted);
  EXPECT_EQ(server.Received().rfind("PAGE 123\r\nMESS hi\r\n", 0), 0u) << server.Received();
}

}  // namespace
}  // namespace snppclient
