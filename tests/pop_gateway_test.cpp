// corvpop32 against a real dovecot: mails dropped into a maildir become page requests on
// the pipe, with the gateway's log lines, and leave the mailbox.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/pop_support.h"

namespace {

using poptest::Dovecot;
using poptest::FakePagingServer;
using poptest::ReceivedRequest;
using testsupport::ChildProcess;
using testsupport::TempDir;

constexpr int kWaitMs = 20000;

// One corvpop32 in a work folder of its own, with its own paging server on the pipe.
class Gateway {
 public:
  explicit Gateway(const std::string& poppageIni, bool startServer = true) {
    ::chmod(work_.Path().c_str(), 0755);
    pipe_ = work_.File("corvd.sock");
    work_.Write("POPPAGE.INI", poppageIni);
    if (startServer) server_ = std::make_unique<FakePagingServer>(pipe_);
  }
  void Start(const std::vector<std::string>& args = {}, std::map<std::string, std::string> env = {}) {
    env["CORVEL_PIPE"] = pipe_;
    env["CORVEL_TIME_SCALE"] = "4";  // the 2 s pause before USER, the reply waits, PollTime
    process_ = std::make_unique<ChildProcess>(testsupport::ProgramPath("corvpop32"), args, work_.Path(), env);
  }
  FakePagingServer& Server() { return *server_; }
  std::string Log() const { return work_.Read("log.txt"); }
  bool WaitForLog(const std::string& text, int timeoutMs = kWaitMs) const {
    return testsupport::WaitForFileText(work_.File("log.txt"), text, timeoutMs);
  }
  int Count(const std::string& text) const { return testsupport::CountInFile(work_.File("log.txt"), text); }
  ChildProcess& Process() { return *process_; }
  const TempDir& Work() const { return work_; }
  ~Gateway() {
    if (process_) process_->Stop(SIGKILL, 5000);
  }

 private:
  TempDir work_;
  std::string pipe_;
  std::unique_ptr<FakePagingServer> server_;
  std::unique_ptr<ChildProcess> process_;
};

std::string MailboxSection(const std::string& name, uint16_t port, const std::string& user, const std::string& password,
                           int pollTime = 3600) {
  return "[" + name + "]\nPopHostName = \"127.0.0.1\"\nPopUser = \"" + user + "\"\nPopPassword = \"" + password +
         "\"\nPopPort = " + std::to_string(port) + "\nPollTime = " + std::to_string(pollTime) + "\n";
}

int Occurrences(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

std::string Mail(const std::string& headers, const std::string& body) {
  return "Return-Path: <sender@example.org>\r\nDate: Tue, 8 Dec 2026 09:00:00 +0000\r\n" + headers +
         "Message-ID: <t@example.org>\r\n\r\n" + body + "\r\n";
}

class PopGateway : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dovecot_ = new Dovecot();
    for (const char* user : {"two", "comma", "names", "endpage", "nosubject", "from", "replyeq", "replydiff", "empty",
                             "dots", "cp850", "big", "mime", "stopped", "boxa", "boxb", "debug"}) {
      dovecot_->AddUser(user, std::string("pw-") + user);
    }
    started_ = dovecot_->Start();
  }
  static void TearDownTestSuite() {
    delete dovecot_;
    dovecot_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(started_) << "dovecot did not start:\n" << dovecot_->Output() << dovecot_->LogText();
  }

  // Drops mails for user, runs the gateway on that mailbox until the mailbox is empty.
  std::unique_ptr<Gateway> RunOn(const std::string& user, const std::vector<std::string>& mails) {
    for (const std::string& m : mails) dovecot_->Drop(user, m);
    auto g = std::make_unique<Gateway>(MailboxSection(user, dovecot_->Port(), user, "pw-" + user));
    g->Start();
    EXPECT_TRUE(dovecot_->WaitForMailCount(user, 0, kWaitMs)) << g->Log();
    return g;
  }

  static Dovecot* dovecot_;
  static bool started_;
};
Dovecot* PopGateway::dovecot_ = nullptr;
bool PopGateway::started_ = false;

TEST_F(PopGateway, SubjectWithTwoNamesPagesBothWithTheSameTextAndDeletesTheMail) {
  auto g = RunOn("two", {Mail("From: Ops <ops@example.org>\r\nSubject: alice, bob\r\n", "Disk full\r\non db1")});
  ASSERT_TRUE(g->Server().WaitForRequests(2, kWaitMs));
  const std::vector<ReceivedRequest> r = g->Server().Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].Name, "alice");
  EXPECT_EQ(r[1].Name, "bob");
  for (const ReceivedRequest& q : r) {
    EXPECT_EQ(q.Message, "Disk full \non db1");
    EXPECT_EQ(q.RecordKind, 1);
    EXPECT_EQ(q.RequestType, 0);
    EXPECT_EQ(q.TimeMode, 0);
    EXPECT_EQ(q.Bytes, 89 + q.Message.size());
  }
  EXPECT_TRUE(g->WaitForLog("CORVPOP32: Sending Page for 'bob' to Paging Server from Ops  <ops@example.org>\n"));
  EXPECT_EQ(g->Count("CORVPOP32: Sending Page for 'alice' to Paging Server from Ops  <ops@example.org>\n"), 1);
}

TEST_F(PopGateway, EmptyPiecesAreSkippedAndNamesTrimmedAndCut) {
  const std::string longName(40, 'z');
  auto g = RunOn("comma", {Mail("From: a@b.org\r\nSubject: , alice ,   bob   ," + longName + "\r\n", "Hi")});
  ASSERT_TRUE(g->Server().WaitForRequests(3, kWaitMs));
  const std::vector<ReceivedRequest> r = g->Server().Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].Name, "alice");
  EXPECT_EQ(r[1].Name, "bob");
  EXPECT_EQ(r[2].Name, std::string(31, 'z'));
}

TEST_F(PopGateway, EndPageMarkerEndsTheMessage) {
  auto g =
      RunOn("endpage", {Mail("From: a@b.org\r\nSubject: alice\r\n", "Call me\r\n%%EndPage%%\r\n-- \r\nsignature")});
  ASSERT_TRUE(g->Server().WaitForRequests(1, kWaitMs));
  EXPECT_EQ(g->Server().Requests()[0].Message, "Call me \n");
}

TEST_F(PopGateway, MailWithoutSubjectIsLoggedAndDeletedAndNothingIsSent) {
  auto g = RunOn("nosubject", {Mail("From: a@b.org\r\n", "No subject here")});
  EXPECT_TRUE(g->WaitForLog("CORVPOP32: Error - Can not find Subject field in E-Mail.\n"));
  EXPECT_TRUE(g->Server().Requests().empty());
}

TEST_F(PopGateway, FromWithDisplayNameAndAngleBrackets) {
  auto g = RunOn("from", {Mail("From: Alice Smith <alice@example.com>\r\nSubject: bob\r\n", "Hi")});
  EXPECT_TRUE(
      g->WaitForLog("CORVPOP32: Sending Page for 'bob' to Paging Server from Alice Smith  <alice@example.com>\n"))
      << g->Log();
}

TEST_F(PopGateway, ReplyToEqualToFromGivesTheShortLine) {
  auto g = RunOn("replyeq",
                 {Mail("From: Desk <desk@example.com>\r\nReply-To: <desk@example.com>\r\nSubject: bob\r\n", "Hi")});
  EXPECT_TRUE(g->WaitForLog("CORVPOP32: Sending Page for 'bob' to Paging Server from Desk  <desk@example.com>\n"))
      << g->Log();
  EXPECT_EQ(g->Count(" or "), 0);
}

TEST_F(PopGateway, ReplyToDifferentFromFromGivesTheLineWithOr) {
  auto g = RunOn("replydiff",
                 {Mail("From: Desk <desk@example.com>\r\nReply-To: oncall@example.com\r\nSubject: bob\r\n", "Hi")});
  EXPECT_TRUE(g->WaitForLog(
      "CORVPOP32: Sending Page for 'bob' to Paging Server from Desk  <desk@example.com> or oncall@example.com\n"))
      << g->Log();
}

TEST_F(PopGateway, EmptyMailboxSendsOnlyUserPassStatAndQuit) {
  poptest::RecordingProxy proxy(dovecot_->Port());
  Gateway g(MailboxSection("empty", proxy.Port(), "empty", "pw-empty"));
  g.Start();
  // Once the gateway has closed its connection, all it sent is recorded.
  ASSERT_TRUE(proxy.WaitForClientEnd("QUIT", kWaitMs)) << proxy.ClientText();
  EXPECT_EQ(proxy.ClientText(), "USER empty\r\nPASS pw-empty\r\nSTAT\r\nQUIT\r\n");
  EXPECT_TRUE(g.Server().Requests().empty());
}

TEST_F(PopGateway, BodyLineBeginningWithADotArrivesWithoutTheStuffedDot) {
  auto g = RunOn("dots", {Mail("Subject: alice\r\n", ".hidden starts with a dot\r\n..two dots\r\nend")});
  ASSERT_TRUE(g->Server().WaitForRequests(1, kWaitMs));
  EXPECT_EQ(g->Server().Requests()[0].Message, ".hidden starts with a dot \n..two dots \nend");
}

TEST_F(PopGateway, MailOfFortyThousandBytesIsReadToItsEndAndTheNextMailStillWorks) {
  std::string body;
  for (int i = 0; body.size() < 40000; ++i) body += "line " + std::to_string(i) + " of a very long report\r\n";
  const std::string big = Mail("From: big@example.org\r\nSubject: alice\r\n", body + "LAST LINE");
  ASSERT_GT(big.size(), 40000u);
  auto g = RunOn("big", {big, Mail("Subject: bob\r\n", "after the big one")});
  ASSERT_TRUE(g->Server().WaitForRequests(2, kWaitMs));
  const std::vector<ReceivedRequest> r = g->Server().Requests();
  EXPECT_EQ(r[0].Name, "alice");
  ASSERT_EQ(r[0].Message.size(), 3999u);
  EXPECT_EQ(r[0].Message.substr(0, 30), "line 0 of a very long report \n");
  EXPECT_EQ(r[1].Name, "bob");
  EXPECT_EQ(r[1].Message, "after the big one");
  EXPECT_EQ(g->Count("Error geting Mail message"), 0);
}

TEST_F(PopGateway, MimeMailsFromACommonMailClientPageTheTextTheirSendersWrote) {
  const std::string alternative =
      "MIME-Version: 1.0\r\nUser-Agent: Mozilla Thunderbird\r\nContent-Language: en-US\r\n"
      "From: =?UTF-8?Q?Ren=C3=A9_Dubois?= <rene@example.org>\r\n"
      "Subject: =?UTF-8?Q?J=C3=B6rg?=\r\n"
      "Content-Type: multipart/alternative;\r\n boundary=\"------------AbCdEf123\"\r\n";
  const std::string alternativeBody =
      "This is a multi-part message in MIME format.\r\n"
      "--------------AbCdEf123\r\n"
      "Content-Type: text/plain; charset=UTF-8; format=flowed\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
      "Caf=C3=A9 machine is broken, please call the vendor before noon. This line i=\r\n"
      "s long.\r\n\r\n"
      "--------------AbCdEf123\r\n"
      "Content-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
      "<html><body><p>Caf&eacute; machine is broken</p></body></html>\r\n\r\n"
      "--------------AbCdEf123--";
  const std::string base64 =
      "MIME-Version: 1.0\r\nFrom: ops@example.org\r\nSubject: =?ISO-8859-1?B?Q2Fyb2wsIEFubmE=?=\r\n"
      "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n";
  auto g = RunOn("mime", {Mail(alternative, alternativeBody),
                          Mail(base64, "QmFja3VwIGZhaWxlZCBvbiBob3N0ICJuYXMxIi4=")});  // Backup failed on host "nas1".
  ASSERT_TRUE(g->Server().WaitForRequests(3, kWaitMs));
  const std::vector<ReceivedRequest> r = g->Server().Requests();
  EXPECT_EQ(r[0].Name, "J\x94rg");  // CP437
  EXPECT_EQ(r[0].Message, "Caf\x82 machine is broken, please call the vendor before noon. This line is long.");
  EXPECT_EQ(r[1].Name, "Carol");
  EXPECT_EQ(r[2].Name, "Anna");
  EXPECT_EQ(r[1].Message, "Backup failed on host \"nas1\".");
  EXPECT_TRUE(g->WaitForLog("Sending Page for 'J\x94rg' to Paging Server from Ren\x82 Dubois  <rene@example.org>\n"))
      << g->Log();
}

TEST_F(PopGateway, MimeTextGoesIntoTheCodePageThePagingServerIsSetTo) {
  dovecot_->Drop("cp850", Mail("MIME-Version: 1.0\r\nSubject: alice\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                               "Content-Transfer-Encoding: 8bit\r\n",
                               "S\xC3\xB8ren \xE2\x82\xAC"
                               "5"));
  Gateway g(MailboxSection("cp850", dovecot_->Port(), "cp850", "pw-cp850"));
  g.Work().Write("page.ini", "MapCodePage = CP850\n");
  g.Start();
  ASSERT_TRUE(g.Server().WaitForRequests(1, kWaitMs));
  EXPECT_EQ(g.Server().Requests()[0].Message, "S\x9Bren ?5");  // o-slash in CP850; no euro sign there
}

TEST_F(PopGateway, RecipientNotTakenKeepsTheMailAndLaterPollsPageOnlyHim) {
  dovecot_->Drop("stopped", Mail("Subject: alice, bob, carol\r\n", "Server room too hot"));
  Gateway g(MailboxSection("stopped", dovecot_->Port(), "stopped", "pw-stopped", 2));
  g.Server().DropName("bob");  // the server dies in the middle of bob's request, every time
  g.Start();
  ASSERT_TRUE(g.Server().WaitForRequests(5, kWaitMs)) << g.Log();
  EXPECT_TRUE(g.WaitForLog("CORVPOP32: Error queuing page for: bob\n")) << g.Log();
  EXPECT_TRUE(g.WaitForLog("CORVPOP32: Mail kept for the next poll - not every page was accepted\n")) << g.Log();
  const std::vector<ReceivedRequest> r = g.Server().Requests();
  EXPECT_EQ(r[0].Name, "alice");
  EXPECT_EQ(r[1].Name, "bob");
  EXPECT_EQ(r[2].Name, "carol");  // one failure does not stop the others
  EXPECT_EQ(r[3].Name, "bob");    // the next poll asks again for bob alone
  EXPECT_EQ(r[4].Name, "bob");
  EXPECT_EQ(dovecot_->MailCount("stopped"), 1);
}

TEST_F(PopGateway, TwoSectionsArePolledEachWithItsOwnPollTime) {
  dovecot_->Drop("boxa", Mail("Subject: alice\r\n", "first for a"));
  dovecot_->Drop("boxb", Mail("Subject: bob\r\n", "first for b"));
  // PollTime 2 s (half a second at the test's time scale) for A; an hour for B. Each
  // mailbox is reached through a proxy of its own, which counts its polls.
  poptest::RecordingProxy proxyA(dovecot_->Port());
  poptest::RecordingProxy proxyB(dovecot_->Port());
  Gateway g(MailboxSection("A", proxyA.Port(), "boxa", "pw-boxa", 2) +
            MailboxSection("B", proxyB.Port(), "boxb", "pw-boxb", 3600));
  g.Start();
  ASSERT_TRUE(g.Server().WaitForRequests(2, kWaitMs));
  ASSERT_TRUE(dovecot_->WaitForMailCount("boxa", 0, kWaitMs));
  ASSERT_TRUE(dovecot_->WaitForMailCount("boxb", 0, kWaitMs));
  dovecot_->Drop("boxa", Mail("Subject: carol\r\n", "second for a"));
  dovecot_->Drop("boxb", Mail("Subject: dave\r\n", "second for b"));
  ASSERT_TRUE(g.Server().WaitForRequests(3, kWaitMs));
  EXPECT_EQ(g.Server().Requests()[2].Name, "carol");
  EXPECT_TRUE(dovecot_->WaitForMailCount("boxa", 0, kWaitMs));
  // Three more polls of A: had B polled at A's pace, it would have polled again by then.
  const int polledA = Occurrences(proxyA.ClientText(), "STAT\r\n");
  EXPECT_TRUE(
      testsupport::WaitUntil([&] { return Occurrences(proxyA.ClientText(), "STAT\r\n") >= polledA + 3; }, kWaitMs));
  EXPECT_EQ(Occurrences(proxyB.ClientText(), "STAT\r\n"), 1);  // B's next poll is an hour away
  EXPECT_EQ(dovecot_->MailCount("boxb"), 1);
  EXPECT_EQ(g.Server().Requests().size(), 3u);
}

TEST_F(PopGateway, DebugModeKeepsEachMailAsReceivedAndPrintsTheDialogue) {
  dovecot_->Drop("debug", Mail("Subject: alice\r\n", ".dotted"));
  Gateway g(MailboxSection("debug", dovecot_->Port(), "debug", "pw-debug"));
  g.Start({"debug"});
  ASSERT_TRUE(g.Server().WaitForRequests(1, kWaitMs));
  EXPECT_EQ(g.Server().Requests()[0].Message, ".dotted");
  ASSERT_TRUE(dovecot_->WaitForMailCount("debug", 0, kWaitMs));
  const std::string kept = g.Work().Read("debug.txt");
  EXPECT_NE(kept.find("\r\n\r\n..dotted\r\n.\r\n\n----------------------------------------\n"), std::string::npos)
      << kept;
  EXPECT_EQ(kept.rfind("+OK ", 0), 0u);  // as received: it begins with the RETR reply
  const std::string out = g.Process().Output();
  for (const char* line :
       {"Sizeof work: ", "Sizeof MPS: ", "I Saw greeting\n", "Sending user name\n", "Sending password\n",
        "Number of messages in mail box: 1\n", "Starting to work on message: 1\n", "Will Page: 'alice'\n",
        "With: '.dotted'\n", "Done with message: 1\n", "buf:'+OK Logged in.'\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
}

// A dovecot of its own: after a failed login dovecot holds back further logins from the
// same address for a while, which would slow the other cases down.
TEST(PopGatewayLogin, WrongPasswordFailsTheLoginAndLeavesTheMail) {
  Dovecot dovecot;
  dovecot.AddUser("wrongpass", "pw-wrongpass");
  ASSERT_TRUE(dovecot.Start()) << dovecot.Output() << dovecot.LogText();
  Dovecot* dovecot_ = &dovecot;
  dovecot_->Drop("wrongpass", Mail("Subject: alice\r\n", "Hi"));
  poptest::RecordingProxy proxy(dovecot_->Port());
  Gateway g(MailboxSection("wrongpass", proxy.Port(), "wrongpass", "not-the-password"));
  g.Start();
  EXPECT_TRUE(g.WaitForLog("CORVPOP32: Error connecting and logging in to the POP server(127.0.0.1)\n")) << g.Log();
  EXPECT_EQ(dovecot_->MailCount("wrongpass"), 1);
  EXPECT_TRUE(g.Server().Requests().empty());
  EXPECT_TRUE(proxy.WaitForClientEnd("QUIT", kWaitMs)) << proxy.ClientText();
  EXPECT_EQ(proxy.ClientText(), "USER wrongpass\r\nPASS not-the-password\r\nQUIT\r\n");
}

TEST(PopGatewayStartUp, BannerStartLinesMissingFileAndStopSignal) {
  Gateway g("", true);
  std::remove(g.Work().File("POPPAGE.INI").c_str());
  g.Start();
  ASSERT_TRUE(g.WaitForLog("CORVPOP32: Gateway started successfully\n")) << g.Log();
  const std::string log = g.Log();
  EXPECT_NE(log.find("CORVPOP32: Corvel Internet Mail Gateway Starting.  Version 1.8 Rev 5\n"), std::string::npos);
  EXPECT_NE(log.find("CORVPOP32: Error opening POPPAGE.INI file - File not found\n"), std::string::npos);
  EXPECT_NE(log.find("CORVPOP32: Error reading POPPAGE.INI\n"), std::string::npos);
  EXPECT_LT(log.find("Error reading POPPAGE.INI"), log.find("Gateway started successfully"));
  EXPECT_EQ(g.Process().Stop(SIGTERM, 5000), 0);
  EXPECT_NE(g.Log().find("CORVPOP32: Server ended successfully\n"), std::string::npos);
  EXPECT_EQ(g.Process().Output().rfind("Corvel.  Version 1.8 Rev 5\nPost Office Protocol(POP) Paging Gateway\nFor use "
                                       "with OS/2 or NT Pager Server\n",
                                       0),
            0u);
}

TEST(PopGatewayStartUp, WaitsForThePagingServerBeforeStarting) {
  Gateway g("", false);
  g.Start();
  EXPECT_TRUE(g.WaitForLog("CORVPOP32: Waiting for Paging Server to start\n", 5000)) << g.Log();
  EXPECT_EQ(g.Count("Gateway started successfully"), 0);
  FakePagingServer late(g.Work().File("corvd.sock"));
  EXPECT_TRUE(g.WaitForLog("CORVPOP32: Gateway started successfully\n", 5000)) << g.Log();
  EXPECT_EQ(g.Count("Waiting for Paging Server to start"), 1);
}

}  // namespace
