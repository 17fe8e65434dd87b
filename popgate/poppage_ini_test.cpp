// POPPAGE.INI grammar: sections, carried settings, value kinds, letter case, bad lines.
#include "popgate/poppage_ini.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/log.h"

namespace popgate {
namespace {

class PopPageIni : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/poppage_ini_test_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    logPath_ = name;
    common::SetLogFileName(logPath_);
    common::SetProgramName("CORVPOP32");
  }
  void TearDown() override {
    std::remove(logPath_.c_str());
    common::SetLogFileName("");
  }
  std::string Log() const {
    std::ifstream in(logPath_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  int Parse(const std::string& text) { return ParsePopPageIniText(text, "POPPAGE.INI", context_); }

  GatewayContext context_;
  std::string logPath_;
};

TEST_F(PopPageIni, TwoSectionsGiveTwoMailboxesWithTheirOwnSettings) {
  EXPECT_EQ(Parse("[Sales]\n"
                  "PopHostName = \"mail.example.com\"\n"
                  "PopUser = \"sales\"\n"
                  "PopPassword = 'se cret'\n"
                  "PopPort = 110\n"
                  "PollTime = 60\n"
                  "\n"
                  "[Support] ; the help desk\n"
                  "PopHostName = \"10.0.0.5\"  PopPort = 995\n"
                  "PollTime = 30\n"),
            0);
  ASSERT_EQ(context_.Mailboxes.size(), 2u);
  const Mailbox& a = context_.Mailboxes[0];
  EXPECT_EQ(a.Name, "Sales");
  EXPECT_EQ(a.PopHostName, "mail.example.com");
  EXPECT_EQ(a.PopUser, "sales");
  EXPECT_EQ(a.PopPassword, "se cret");
  EXPECT_EQ(a.PopPort, 110);
  EXPECT_EQ(a.PollTime, 60);
  const Mailbox& b = context_.Mailboxes[1];
  EXPECT_EQ(b.Name, "Support");
  EXPECT_EQ(b.PopHostName, "10.0.0.5");
  EXPECT_EQ(b.PopPort, 995);
  EXPECT_EQ(b.PollTime, 30);
  EXPECT_TRUE(b.PopUser.empty());  // a new section starts from the start values
  EXPECT_EQ(Log(), "");
}

TEST_F(PopPageIni, SettingsAboveTheFirstSectionStartOnlyTheFirstMailbox) {
  EXPECT_EQ(Parse("PollTime = 15\nPopUser = \"shared\"\n[One]\nPopPort = 111\n[Two]\n"), 0);
  ASSERT_EQ(context_.Mailboxes.size(), 2u);
  EXPECT_EQ(context_.Mailboxes[0].PollTime, 15);
  EXPECT_EQ(context_.Mailboxes[0].PopUser, "shared");
  EXPECT_EQ(context_.Mailboxes[0].PopPort, 111);
  EXPECT_EQ(context_.Mailboxes[1].PollTime, 120);
  EXPECT_TRUE(context_.Mailboxes[1].PopUser.empty());
}

TEST_F(PopPageIni, FileWithoutSectionDefinesNoMailbox) {
  EXPECT_EQ(Parse("PopHostName = \"x\"\nPollTime = 5\n"), 0);
  EXPECT_TRUE(context_.Mailboxes.empty());
}

TEST_F(PopPageIni, EveryKeyAndEnumerationInAnyLetterCase) {
  EXPECT_EQ(Parse("[Box]\n"
                  "pollTIME = 30\n"
                  "pagingservertype = lanserver\n"
                  "MAILTYPE = directory\n"
                  "PageFromTo = 8:15 17:45\n"
                  "IncomingDirectory = 'c:\\in'\n"
                  "PopSaveMessages = ENABLED\n"
                  "PopSaveDircetory = 'c:\\save'\n"
                  "SNPPPort = 444\n"
                  "SNPPHostName = 'snpp.local'\n"
                  "LanServerName = 'lan'\n"
                  "MaxMessageSize = 200\n"
                  "AckEMail = Enabled\n"
                  "SMTPPort = 2525\n"
                  "SMTPHostName = 'smtp.local'\n"
                  "PopPageType = usermail\n"),
            0);
  ASSERT_EQ(context_.Mailboxes.size(), 1u);
  const Mailbox& m = context_.Mailboxes[0];
  EXPECT_EQ(m.PollTime, 30);
  EXPECT_EQ(m.PagingServerType, 2);
  EXPECT_EQ(m.MailType, 1);
  EXPECT_EQ(m.PageFromStartHour, 8);
  EXPECT_EQ(m.PageFromStartMinute, 15);
  EXPECT_EQ(m.PageFromEndHour, 17);
  EXPECT_EQ(m.PageFromEndMinute, 45);
  EXPECT_EQ(m.IncomingDirectory, "c:\\in");
  EXPECT_TRUE(m.PopSaveMessages);
  EXPECT_EQ(m.PopSaveDircetory, "c:\\save");
  EXPECT_EQ(m.SNPPPort, 444);
  EXPECT_EQ(m.SNPPHostName, "snpp.local");
  EXPECT_EQ(m.LanServerName, "lan");
  EXPECT_EQ(m.MaxMessageSize, 200);
  EXPECT_TRUE(m.AckEMail);
  EXPECT_EQ(m.SMTPPort, 2525);
  EXPECT_EQ(m.SMTPHostName, "smtp.local");
  EXPECT_EQ(m.PopPageType, 0);
  EXPECT_EQ(Log(), "");
}

TEST_F(PopPageIni, QuotedPortAndBareHostNameAreSyntaxErrorsAndLaterLinesStillCount) {
  EXPECT_EQ(Parse("[Box]\n"
                  "PopPort = \"110\"\n"
                  "PopHostName = mail.example.com\n"
                  "PollTime = 45\n"),
            1);
  ASSERT_EQ(context_.Mailboxes.size(), 1u);
  EXPECT_EQ(context_.Mailboxes[0].PopPort, 110);  // unchanged start value
  EXPECT_TRUE(context_.Mailboxes[0].PopHostName.empty());
  EXPECT_EQ(context_.Mailboxes[0].PollTime, 45);
  const std::string log = Log();
  EXPECT_NE(log.find("CORVPOP32: File: 'POPPAGE.INI'  Syntax error (110) in line - 2\n"), std::string::npos) << log;
  EXPECT_NE(log.find("CORVPOP32: File: 'POPPAGE.INI'  Syntax error (mail.example.com) in line - 3\n"),
            std::string::npos)
      << log;
}

TEST_F(PopPageIni, UnknownKeyAndUnusedKeywordNameThemselvesInTheError) {
  EXPECT_EQ(Parse("[Box]\nPopServer = 'x'\nOn\nPollTime = 9\n"), 1);
  const std::string log = Log();
  EXPECT_NE(log.find("Syntax error (PopServer) in line - 2\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Syntax error (On) in line - 3\n"), std::string::npos) << log;
  ASSERT_EQ(context_.Mailboxes.size(), 1u);
  EXPECT_EQ(context_.Mailboxes[0].PollTime, 9);
}

TEST_F(PopPageIni, ValuesLongerThanTheirFieldsAreCut) {
  const std::string longHost(150, 'h');  // the lexer keeps 99 characters of a token
  EXPECT_EQ(Parse("[Box]\nPopHostName = '" + longHost + "'\n"), 0);
  ASSERT_EQ(context_.Mailboxes.size(), 1u);
  EXPECT_EQ(context_.Mailboxes[0].PopHostName, std::string(99, 'h'));
}

TEST_F(PopPageIni, TableGrowsByTwentyWhenItFills) {
  std::string text;
  for (int i = 0; i < 26; ++i) text += "[Box" + std::to_string(i) + "]\nPollTime = " + std::to_string(i + 1) + "\n";
  EXPECT_EQ(Parse(text), 0);
  ASSERT_EQ(context_.Mailboxes.size(), 26u);
  EXPECT_EQ(context_.Capacity, 45u);  // 5, then 25 at the fifth, 45 at the 25th
  EXPECT_EQ(context_.Mailboxes[25].PollTime, 26);
  EXPECT_EQ(context_.Mailboxes[25].Name, "Box25");
}

TEST_F(PopPageIni, MissingFileIsLogged) {
  EXPECT_EQ(ReadPopPageIni("/nonexistent/POPPAGE.INI", context_), 1);
  EXPECT_NE(Log().find("CORVPOP32: Error opening POPPAGE.INI file - File not found\n"), std::string::npos);
}

TEST_F(PopPageIni, MapCodePageIsReadFromThePagingServersFile) {
  char name[] = "/tmp/poppage_pageini_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const std::string text = "Debug = Enabled\nMapCodePage = CP850 ; pagers\n[Ann]\nPageID = '1'\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  EXPECT_EQ(ReadMapCodePage(name), 1);
  std::remove(name);
  EXPECT_EQ(ReadMapCodePage("/nonexistent/page.ini"), 0);
  EXPECT_EQ(Log(), "");  // the server's file is read quietly
}

}  // namespace
}  // namespace popgate
