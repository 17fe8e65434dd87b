// SNPP delivery to a third-party carrier: the carrier conversation against Perl's
// Net::SNPP::Server, plain and inside TLS, with and without LOGI.
#include <gtest/gtest.h>

#include "snppclient/snpp_carrier.h"
#include "tests/ip_support.h"
#include "tests/snpp_test_client.h"
#include "tests/support/fake_paging_server.h"
#include "tests/support/wait.h"

namespace {

using snppclient::kCarrierAccepted;
using snppclient::kCarrierFailedRound;
using snppclient::kCarrierRefused;
using snppclient::SnppCarrierResult;
using snppclient::SnppCarrierSettings;

class SnppToPerlCarrier : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ca_ = new iptest::TestCa(); }
  static void TearDownTestSuite() {
    delete ca_;
    ca_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ca_->Ok()); }
  static SnppCarrierSettings To(const iptest::PerlSnppCarrier& carrier) {
    SnppCarrierSettings s;
    s.Host = "127.0.0.1";
    s.Port = carrier.Port();
    s.ReplyLimitMs = 10000;
    return s;
  }
  static iptest::TestCa* ca_;
};
iptest::TestCa* SnppToPerlCarrier::ca_ = nullptr;

TEST_F(SnppToPerlCarrier, ShortAndLongPagesInOneSession) {
  iptest::PerlSnppCarrier carrier({});
  ASSERT_NE(carrier.Port(), 0) << carrier.Output();
  snppclient::SnppCarrierSession session(To(carrier));
  SnppCarrierResult result;
  ASSERT_EQ(session.Open(result), kCarrierAccepted) << result.Reply;
  EXPECT_EQ(session.Send("5551234", "Disk full on db1", result), kCarrierAccepted) << result.Reply;
  EXPECT_EQ(result.Reply, "250 Message Sent Successfully");
  EXPECT_EQ(session.Send("5551234", "first line\n.dot line\n" + std::string(250, 'x'), result), kCarrierAccepted)
      << result.Reply;
  // The module checks its pager IDs (seven digits or more): a refusal, and the session goes on.
  EXPECT_EQ(session.Send("12", "too short an ID", result), kCarrierRefused);
  EXPECT_EQ(result.Command, "PAGE");
  EXPECT_EQ(result.Code, 550);
  EXPECT_EQ(session.Send("7654321", "after the refusal", result), kCarrierAccepted) << result.Reply;
  session.Close();
  EXPECT_TRUE(testsupport::WaitUntil([&] { return carrier.Record().find("after") != std::string::npos; }, 10000));
  const std::string record = carrier.Record();
  EXPECT_NE(record.find("PAGE id=5551234 text=Disk full on db1\n"), std::string::npos) << record;
  EXPECT_NE(record.find("PAGE id=5551234 text=first line|.dot line|" + std::string(250, 'x')), std::string::npos)
      << record;
  EXPECT_NE(record.find("PAGE id=7654321 text=after the refusal\n"), std::string::npos) << record;
}

TEST_F(SnppToPerlCarrier, LoginIsSentFirstAndARefusedOneRefusesThePage) {
  iptest::PerlSnppCarrier carrier({"--login", "gw", "pw-1"});
  ASSERT_NE(carrier.Port(), 0) << carrier.Output();
  SnppCarrierSettings settings = To(carrier);
  SnppCarrierResult result;
  // Without LOGI this carrier takes no page: SEND is answered 554.
  EXPECT_EQ(snppclient::SendPageToCarrier(settings, "5551234", "no login", result), kCarrierRefused);
  EXPECT_EQ(result.Command, "SEND");
  EXPECT_EQ(result.Code, 554);
  settings.Login = "gw";
  settings.Password = "pw-1";
  EXPECT_EQ(snppclient::SendPageToCarrier(settings, "5551234", "with login", result), kCarrierAccepted) << result.Reply;
  settings.Password = "wrong";
  EXPECT_EQ(snppclient::SendPageToCarrier(settings, "5551234", "bad login", result), kCarrierRefused);
  EXPECT_EQ(result.Command, "LOGI");
  EXPECT_EQ(result.Code, 550);
  EXPECT_TRUE(testsupport::WaitUntil([&] { return carrier.Record().find("ok=0") != std::string::npos; }, 10000));
  const std::string record = carrier.Record();
  EXPECT_NE(record.find("LOGI user=gw ok=1\nPAGE id=5551234 text=with login\n"), std::string::npos) << record;
  EXPECT_EQ(record.find("no login"), std::string::npos);
  EXPECT_EQ(record.find("bad login"), std::string::npos);
}

TEST_F(SnppToPerlCarrier, TlsCarrierIsVerifiedAndTakesPagesWithAndWithoutLogin) {
  iptest::PerlSnppCarrier carrier({"--tls", ca_->CertFile, ca_->KeyFile, "--login", "gw", "pw"});
  ASSERT_NE(carrier.Port(), 0) << carrier.Output();
  SnppCarrierSettings settings = To(carrier);
  settings.Tls = true;
  settings.CaFile = ca_->CaFile;
  settings.Login = "gw";
  settings.Password = "pw";
  SnppCarrierResult result;
  EXPECT_EQ(snppclient::SendPageToCarrier(settings, "5551234", "inside TLS", result), kCarrierAccepted)
      << result.Command << ": " << result.Reply;
  settings.CaFile = ca_->OtherCaFile;
  EXPECT_EQ(snppclient::SendPageToCarrier(settings, "5551234", "untrusted", result), kCarrierFailedRound);
  EXPECT_EQ(result.Command, "connect");
  EXPECT_NE(result.Reply.find("not verified"), std::string::npos) << result.Reply;
  EXPECT_TRUE(testsupport::WaitUntil([&] { return carrier.Record().find("TLS failed") != std::string::npos; }, 10000));
  const std::string record = carrier.Record();
  EXPECT_NE(record.find("LOGI user=gw ok=1\nPAGE id=5551234 text=inside TLS\n"), std::string::npos) << record;
  EXPECT_EQ(record.find("untrusted"), std::string::npos);

  iptest::PerlSnppCarrier plainLogin({"--tls", ca_->CertFile, ca_->KeyFile});
  ASSERT_NE(plainLogin.Port(), 0);
  SnppCarrierSettings noLogin = To(plainLogin);
  noLogin.Tls = true;
  noLogin.CaFile = ca_->CaFile;
  EXPECT_EQ(snppclient::SendPageToCarrier(noLogin, "5551234", "TLS without login", result), kCarrierAccepted)
      << result.Command << ": " << result.Reply;
}

// One Corvel relaying to another: the carrier conversation against corvnet32, whose pages
// reach a paging server on its pipe (a stand-in here).
TEST(SnppToCorvnet, OneCorvelRelaysToAnother) {
  testsupport::TempDir dir;
  testsupport::FakePagingServer pipe(dir.File("pipe"));
  ASSERT_TRUE(pipe.Listening());
  pipe.StandIn().SetPersons({"ann", "bob"});
  pipe.StandIn().RefuseName("bob");
  snpptest::Corvnet corvnet(dir, dir.File("pipe"), testsupport::FreeTcpPort());
  ASSERT_TRUE(corvnet.Started()) << corvnet.Process().Output();

  SnppCarrierSettings settings;
  settings.Host = "127.0.0.1";
  settings.Port = corvnet.Port();
  settings.ReplyLimitMs = 10000;
  snppclient::SnppCarrierSession session(settings);
  SnppCarrierResult result;
  ASSERT_EQ(session.Open(result), kCarrierAccepted) << result.Reply;
  EXPECT_EQ(session.Send("ann", "Relayed page", result), kCarrierAccepted) << result.Command << ": " << result.Reply;
  EXPECT_EQ(result.Reply, "250 Message Sent OK");
  EXPECT_EQ(session.Send("ann", "two\nlines " + std::string(200, 'z'), result), kCarrierAccepted)
      << result.Command << ": " << result.Reply;
  EXPECT_EQ(session.Send("bob", "refused by the paging server", result), kCarrierRefused);
  EXPECT_EQ(result.Command, "SEND");
  EXPECT_EQ(result.Code / 100, 5);
  session.Close();
  ASSERT_TRUE(pipe.WaitForRequests(3, 10000));
  const auto pages = pipe.Pages();
  ASSERT_GE(pages.size(), 2u);
  EXPECT_EQ(pages[0].Name, "ann");
  // corvnet32 keeps the end of a MESS line in the text (its CR as a blank, and the LF).
  EXPECT_EQ(pages[0].Message.rfind("Relayed page", 0), 0u) << pages[0].Message;
  EXPECT_EQ(pages[1].Name, "ann");
  EXPECT_EQ(pages[1].Message.rfind("two", 0), 0u) << pages[1].Message;
}

}  // namespace
