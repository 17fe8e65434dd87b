// WCTP delivery against corvsim's simulated carrier (the program, over HTTP and HTTPS on a
// test CA): accepted pages, refusals that give a page up, failures that leave it for a retry
// with the same messageID, certificate checks, a slow carrier, and status by query and poll.
#include <gtest/gtest.h>

#include <chrono>

#include "delivery/wctp_http.h"
#include "platform/net_stream.h"
#include "tests/ip_support.h"

namespace {

using delivery::WctpVerdict;

class WctpCarrierTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ca_ = new iptest::TestCa(); }
  static void TearDownTestSuite() {
    delete ca_;
    ca_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ca_->Ok()); }

  // A carrier with these [wctp] keys, HTTP and HTTPS.
  std::unique_ptr<iptest::Corvsim> Carrier(const std::string& keys) {
    auto sim = std::make_unique<iptest::Corvsim>("[wctp]\nport = 0\ntls_port = 0\ncert = " + ca_->CertFile +
                                                 "\nkey = " + ca_->KeyFile + "\n" + keys);
    EXPECT_TRUE(sim->Ok()) << sim->Output();
    return sim;
  }
  static delivery::WctpEndpoint Http(const iptest::Corvsim& sim) {
    delivery::WctpEndpoint e;
    e.Url = "http://127.0.0.1:" + std::to_string(sim.Port("wctp")) + "/wctp";
    return e;
  }
  static delivery::WctpEndpoint Https(const iptest::Corvsim& sim, const std::string& caFile) {
    delivery::WctpEndpoint e;
    e.Url = "https://127.0.0.1:" + std::to_string(sim.Port("wctp-tls")) + "/wctp";
    e.CaFile = caFile;
    return e;
  }
  static delivery::WctpSubmit Page(const std::string& recipient, const std::string& text, uint64_t key = 1) {
    delivery::WctpSubmit s;
    s.SenderID = "corvel";
    s.SecurityCode = "secret";
    s.MessageID = delivery::WctpMessageId("gw1", key, 0);
    s.RecipientID = recipient;
    s.Text = text;
    s.NotifyWhenDelivered = true;
    return s;
  }
  static iptest::TestCa* ca_;
};
iptest::TestCa* WctpCarrierTest::ca_ = nullptr;

TEST_F(WctpCarrierTest, AcceptedPageArrivesWholeAndItsTrackingNumberIsKept) {
  auto sim = Carrier("sender_id = corvel\nsecurity_code = secret\n");
  const auto outcome = delivery::SubmitWctpPage(Http(*sim), Page("5551234", "Disk <db1> & \"logs\" full"));
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kAccepted) << outcome.Text;
  EXPECT_EQ(outcome.Code, 200);
  EXPECT_EQ(outcome.Reference, "T1");
  const std::string record = sim->Record();
  EXPECT_NE(record.find("WCTP submit n=1 tls=0 sender=corvel security=secret messageID=gw1-1-0 recipient=5551234 "
                        "notify=true len=24 text=Disk\\x20<db1>\\x20&\\x20\"logs\"\\x20full code=200 tracking=T1"),
            std::string::npos)
      << record;

  // Without tracking numbers the page's own messageID is the reference.
  auto quiet = Carrier("tracking = off\n");
  EXPECT_EQ(delivery::SubmitWctpPage(Http(*quiet), Page("5551234", "hi", 7)).Reference, "gw1-7-0");
}

TEST_F(WctpCarrierTest, RefusalsGiveThePageUpAndTheirCodeAndTextAreKept) {
  auto sim = Carrier("sender_id = corvel\nsecurity_code = secret\nrefuse_ids = 666\n");
  auto page = Page("666", "hi");
  auto outcome = delivery::SubmitWctpPage(Http(*sim), page);
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kRefused);
  EXPECT_EQ(outcome.Code, 403);
  EXPECT_EQ(outcome.Text, "Invalid recipientID");
  EXPECT_TRUE(outcome.Reference.empty());
  page = Page("5551234", "hi");
  page.SecurityCode = "wrong";
  outcome = delivery::SubmitWctpPage(Http(*sim), page);
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kRefused);
  EXPECT_EQ(outcome.Code, 402);
  page.SenderID = "someone";
  outcome = delivery::SubmitWctpPage(Http(*sim), page);
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kRefused);
  EXPECT_EQ(outcome.Code, 401);
}

TEST_F(WctpCarrierTest, ServerErrorIsAFailedRoundAndTheRetryKeepsTheMessageId) {
  auto sim = Carrier("fail_first = 1\n");
  const auto page = Page("5551234", "retry me", 42);
  auto outcome = delivery::SubmitWctpPage(Http(*sim), page);
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kFailedRound);
  EXPECT_EQ(outcome.Code, 500);
  outcome = delivery::SubmitWctpPage(Http(*sim), page);
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kAccepted) << outcome.Text;
  EXPECT_EQ(testsupport::CountInFile(sim->RecordPath(), "messageID=gw1-42-0 "), 2);

  // Nothing listening is a failed round too.
  const uint16_t port = sim->Port("wctp");
  sim->Stop();
  delivery::WctpEndpoint gone;
  gone.Url = "http://127.0.0.1:" + std::to_string(port) + "/wctp";
  outcome = delivery::SubmitWctpPage(gone, page);
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kFailedRound);
  EXPECT_FALSE(outcome.Text.empty());
}

TEST_F(WctpCarrierTest, HttpsIsVerifiedAgainstTheGivenAuthority) {
  auto sim = Carrier("");
  auto outcome = delivery::SubmitWctpPage(Https(*sim, ca_->CaFile), Page("5551234", "over TLS"));
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kAccepted) << outcome.Text;
  EXPECT_NE(sim->Record().find("WCTP submit n=1 tls=1 "), std::string::npos);
  outcome = delivery::SubmitWctpPage(Https(*sim, ca_->OtherCaFile), Page("5551234", "not trusted"));
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kFailedRound);
  EXPECT_EQ(testsupport::CountInFile(sim->RecordPath(), "WCTP submit"), 1);  // it never reached the carrier

  std::string xml;
  ASSERT_EQ(delivery::BuildWctpClientQuery("corvel", "1", "T1", xml), 0);
  delivery::WctpHttpResult http;
  EXPECT_EQ(delivery::PostWctp(Https(*sim, ca_->OtherCaFile), xml, http), platform::kTlsNotTrusted) << http.Error;
  auto bad = Http(*sim);
  bad.Url = "file:///etc/passwd";
  EXPECT_EQ(delivery::PostWctp(bad, xml, http), -EINVAL);
}

TEST_F(WctpCarrierTest, SlowCarrierFailsTheRoundWithinTheLimit) {
  auto sim = Carrier("slow_ms = 4000\n");
  auto endpoint = Http(*sim);
  endpoint.TotalLimitMs = 800;
  const auto start = std::chrono::steady_clock::now();
  const auto outcome = delivery::SubmitWctpPage(endpoint, Page("5551234", "slow"));
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(outcome.Verdict, WctpVerdict::kFailedRound);
  EXPECT_LT(ms, 3500);

  delivery::WctpHttpResult http;
  std::stop_source stop;
  endpoint.TotalLimitMs = 20000;
  endpoint.Stop = stop.get_token();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.request_stop();
  });
  std::string xml;
  ASSERT_EQ(delivery::BuildWctpClientQuery("corvel", "1", "T1", xml), 0);
  EXPECT_EQ(delivery::PostWctp(endpoint, xml, http), -ECANCELED);  // a stopping dial thread is not held
  stopper.join();
}

TEST_F(WctpCarrierTest, StatusIsFollowedByQueryAndByPoll) {
  auto sim = Carrier("status_steps = QUEUED DELIVERED\n");
  const auto outcome = delivery::SubmitWctpPage(Http(*sim), Page("5551234", "status", 5));
  ASSERT_EQ(outcome.Verdict, WctpVerdict::kAccepted);
  std::string xml, failure;
  ASSERT_EQ(delivery::BuildWctpClientQuery("corvel", "5551234", outcome.Reference, xml), 0);
  delivery::WctpReply reply;
  ASSERT_EQ(delivery::QueryWctp(Http(*sim), xml, reply, failure), 0) << failure;
  EXPECT_EQ(reply.Status, delivery::WctpPageStatus::Queued);
  ASSERT_EQ(delivery::QueryWctp(Http(*sim), xml, reply, failure), 0) << failure;
  EXPECT_EQ(reply.Status, delivery::WctpPageStatus::Delivered);

  auto polled = Carrier("status_steps = QUEUED DELIVERED\n");
  ASSERT_EQ(delivery::SubmitWctpPage(Http(*polled), Page("5551234", "poll me", 6)).Verdict, WctpVerdict::kAccepted);
  ASSERT_EQ(delivery::BuildWctpPollForMessages("corvel", "secret", {}, xml), 0);
  ASSERT_EQ(delivery::QueryWctp(Http(*polled), xml, reply, failure), 0) << failure;
  ASSERT_EQ(reply.Reports.size(), 1u);
  EXPECT_EQ(reply.Reports[0].MessageID, "gw1-6-0");
  EXPECT_EQ(reply.Reports[0].Status, delivery::WctpPageStatus::Queued);
  ASSERT_EQ(delivery::BuildWctpPollForMessages("corvel", "secret", {reply.Reports[0].SequenceNo}, xml), 0);
  ASSERT_EQ(delivery::QueryWctp(Http(*polled), xml, reply, failure), 0) << failure;
  ASSERT_EQ(reply.Reports.size(), 1u);
  EXPECT_EQ(reply.Reports[0].Status, delivery::WctpPageStatus::Delivered);
  ASSERT_EQ(delivery::QueryWctp(Http(*polled), xml, reply, failure), 0) << failure;
  EXPECT_TRUE(reply.NoMessages);
  EXPECT_NE(polled->Record().find("WCTP poll tls=0 poller=corvel acks=1 reports=1"), std::string::npos)
      << polled->Record();
}

}  // namespace
