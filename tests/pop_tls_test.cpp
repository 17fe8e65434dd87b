// POP3 inside TLS: dovecot on a test certificate, trusted through a trust store of the
// test's own (SSL_CERT_FILE); a certificate from anyone else fails the login.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include "popgate/pop_connection.h"
#include "tests/pop_support.h"

namespace {

using poptest::Dovecot;
using poptest::FakePagingServer;
using poptest::TestCertificates;
using testsupport::ChildProcess;
using testsupport::TempDir;

constexpr int kWaitMs = 20000;

class PopTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certDir_ = new TempDir();
    ::chmod(certDir_->Path().c_str(), 0755);
    madeCertificates_ = certificates_.Make(certDir_->Path());
    // dovecot reads its key as root before it drops privileges; nothing else needs them.
  }
  static void TearDownTestSuite() {
    delete certDir_;
    certDir_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(madeCertificates_) << "openssl could not make the test certificates"; }

  static TempDir* certDir_;
  static TestCertificates certificates_;
  static bool madeCertificates_;
};
TempDir* PopTls::certDir_ = nullptr;
TestCertificates PopTls::certificates_;
bool PopTls::madeCertificates_ = false;

// Reads from the connection until text arrived, the connection ended or nothing came for
// 10 s (bounded).
std::string ReceiveUntil(popgate::PopConnection& c, const std::string& text) {
  std::string got;
  char buf[1000];
  for (int i = 0; i < 20 && got.find(text) == std::string::npos; ++i) {
    const int n = c.Receive(buf, 10000);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

TEST_F(PopTls, ConnectionVerifiesTheServerAgainstTheTrustStoreAndSpeaksPop3Inside) {
  Dovecot::Options options;
  options.TlsPort = testsupport::FreeTcpPort();
  options.Certificates = &certificates_;
  Dovecot dovecot(options);
  dovecot.AddUser("tls", "pw-tls");
  ASSERT_TRUE(dovecot.Start()) << dovecot.Output() << dovecot.LogText();

  ::setenv("SSL_CERT_FILE", certificates_.CaFile.c_str(), 1);
  popgate::PopConnection c;
  std::string reason;
  ASSERT_EQ(c.Open("127.0.0.1", options.TlsPort, true, 10000, reason), popgate::kOpened) << reason;
  EXPECT_NE(ReceiveUntil(c, "\r\n").find("+OK"), std::string::npos);
  ASSERT_EQ(c.Send("USER tls\r\n"), 0);
  EXPECT_NE(ReceiveUntil(c, "\r\n").find("+OK"), std::string::npos);
  ASSERT_EQ(c.Send("PASS pw-tls\r\n"), 0);
  EXPECT_NE(ReceiveUntil(c, "\r\n").find("Logged in"), std::string::npos);
  ASSERT_EQ(c.Send("QUIT\r\n"), 0);
  ReceiveUntil(c, "\r\n");
  c.Shutdown();
  c.Close();

  // The same server, but the trust store holds only someone else's authority.
  ::setenv("SSL_CERT_FILE", certificates_.OtherCaFile.c_str(), 1);
  popgate::PopConnection refused;
  EXPECT_EQ(refused.Open("127.0.0.1", options.TlsPort, true, 10000, reason), popgate::kTlsFailed);
  EXPECT_NE(reason.find("not verified"), std::string::npos) << reason;
  EXPECT_FALSE(refused.IsOpen());

  // A server that does not speak TLS on the port fails the handshake in bounded time.
  popgate::PopConnection plain;
  EXPECT_EQ(plain.Open("127.0.0.1", dovecot.Port(), true, 3000, reason), popgate::kTlsFailed);
  ::unsetenv("SSL_CERT_FILE");
}

// corvpop32 speaks TLS when PopPort is 995, which only root may listen on.
TEST_F(PopTls, GatewayOnPort995PagesTheMailAndRefusesAnUntrustedCertificate) {
  if (::geteuid() != 0) GTEST_SKIP() << "port 995 needs root for the test's dovecot";
  {
    platform::UniqueFd probe;
    if (platform::TcpConnect("127.0.0.1", 995, 500, probe) == 0) GTEST_SKIP() << "127.0.0.1:995 is taken";
  }
  Dovecot::Options options;
  options.TlsPort = 995;
  options.Certificates = &certificates_;
  Dovecot dovecot(options);
  dovecot.AddUser("secure", "pw-secure");
  ASSERT_TRUE(dovecot.Start()) << dovecot.Output() << dovecot.LogText();
  dovecot.Drop("secure", "From: Ops <ops@example.org>\r\nSubject: alice\r\n\r\nSent over TLS\r\n");

  const std::string ini =
      "[Secure]\nPopHostName = \"127.0.0.1\"\nPopUser = \"secure\"\nPopPassword = \"pw-secure\"\n"
      "PopPort = 995\nPollTime = 3600\n";
  {
    TempDir work;
    work.Write("POPPAGE.INI", ini);
    FakePagingServer server(work.File("corvd.sock"));
    ChildProcess gateway(testsupport::ProgramPath("corvpop32"), {}, work.Path(),
                         {{"CORVEL_PIPE", work.File("corvd.sock")},
                          {"CORVEL_TIME_SCALE", "4"},
                          {"SSL_CERT_FILE", certificates_.OtherCaFile}});
    EXPECT_TRUE(testsupport::WaitForFileText(
        work.File("log.txt"), "CORVPOP32: Error connecting and logging in to the POP server(127.0.0.1)\n", kWaitMs));
    EXPECT_NE(gateway.Output().find("not verified"), std::string::npos) << gateway.Output();
    EXPECT_EQ(dovecot.MailCount("secure"), 1);
    EXPECT_TRUE(server.Requests().empty());
    gateway.Stop(SIGKILL);
  }
  TempDir work;
  work.Write("POPPAGE.INI", ini);
  FakePagingServer server(work.File("corvd.sock"));
  ChildProcess gateway(
      testsupport::ProgramPath("corvpop32"), {}, work.Path(),
      {{"CORVEL_PIPE", work.File("corvd.sock")}, {"CORVEL_TIME_SCALE", "4"}, {"SSL_CERT_FILE", certificates_.CaFile}});
  ASSERT_TRUE(server.WaitForRequests(1, kWaitMs)) << gateway.Output();
  EXPECT_EQ(server.Requests()[0].Name, "alice");
  EXPECT_EQ(server.Requests()[0].Message, "Sent over TLS");
  EXPECT_TRUE(dovecot.WaitForMailCount("secure", 0, kWaitMs));
  EXPECT_NE(dovecot.LogText().find("TLS"), std::string::npos) << dovecot.LogText();
  gateway.Stop(SIGKILL);
}

}  // namespace
