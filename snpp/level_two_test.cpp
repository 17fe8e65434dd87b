// snpp/level_two_test.cpp - the level-2 commands (LOGI, LEVE, ALER, CALL, HOLD, SUBJ) and what
// SEND makes of them, with a stand-in paging server as the session's pipe.
#include <gtest/gtest.h>
#include <cstdio>

#include <crypt.h>

#include <filesystem>
#include <string>

#include "common/log.h"
#include "platform/clock.h"
#include "snpp/commands.h"
#include "snpp/connection.h"
#include "snpp/hold_time.h"
#include "snpp/name_cache.h"
#include "snpp/users.h"
#include "tests/support/fake_paging_server.h"
#include "tests/support/process.h"

namespace snpp {
namespace {

class Captured : public SnppOutput {
 public:
  void Send(std::string_view bytes) override { Text.append(bytes); }
  std::string Text;
};

// A SHA-512 crypt string for password, as mkpasswd -m sha-512 makes one.
std::string Hash(const std::string& password) {
  crypt_data data{};
  return crypt_r(password.c_str(), "$6$testsalt$", &data);
}

class LevelTwo : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetProgramName("CORVNET32");
    common::SetLogFileName(dir_.File("log.txt"));
    std::string problem;
    ASSERT_EQ(users_.Parse("# users\nann:" + Hash("s3cret word") + "\nbob " + Hash("pw") + "\n", problem), 0);
  }
  std::vector<int> Run(std::initializer_list<std::string> lines) {
    std::vector<int> codes;
    for (const std::string& line : lines) codes.push_back(DoCommand(line + "\r\n", &session_));
    return codes;
  }
  std::string Log() const { return dir_.Read("log.txt"); }

  testsupport::TempDir dir_;
  testsupport::DirectPagingServer pipe_;
  NameCache names_;
  UserTable users_;
  SnppServices services_{
      [this](std::span<const char> request, std::span<char> reply) { return pipe_.Call(request, reply); }, &names_,
      &users_, true};
  Captured out_;
  SnppSession session_{out_, services_};
};

TEST_F(LevelTwo, RequiredLoginRefusesPageUntilAGoodPassword) {
  session_.Peer = "192.0.2.7";
  EXPECT_EQ(Run({"PAGE Ann", "LOGI ann wrong", "LOGI nobody pw", "LOGI ann \"s3cret word\"", "PAGE Ann"}),
            (std::vector<int>{kReplyLoginRequired, kReplyLoginInvalid, kReplyLoginInvalid, kReplyLoginOk,
                              kReplyPagerIdAccepted}));
  EXPECT_EQ(ReplyText(kReplyLoginOk), "250 Login Accepted");
  EXPECT_EQ(ReplyText(kReplyLoginRequired), "550 Error, Login Required");
  EXPECT_NE(Log().find("CORVNET32: Login failed for ann from 192.0.2.7\n"), std::string::npos) << Log();
  EXPECT_NE(Log().find("CORVNET32: Login failed for nobody from 192.0.2.7\n"), std::string::npos);
  EXPECT_EQ(Log().find("s3cret"), std::string::npos);  // no password reaches the log
  // The login outlives SEND and RESE: a client sends many pages after one LOGI.
  EXPECT_EQ(Run({"MESS hi", "SEND", "RESE", "PAGE Bob"}),
            (std::vector<int>{kReplyMessageOk, kReplyMessageSent, kReplyResetOk, kReplyPagerIdAccepted}));
  EXPECT_TRUE(session_.LoggedIn);
}

TEST_F(LevelTwo, ThirdFailedLoginEndsTheConnection) {
  SnppConnection connection(out_, services_, "192.0.2.8");
  connection.Greet();
  EXPECT_TRUE(connection.Receive("LOGI ann a\r\nLOGI ann b\r\n"));
  EXPECT_FALSE(connection.Receive("LOGI ann c\r\nLOGI ann s3cret word\r\n"));
  EXPECT_NE(out_.Text.find("550 Error, Invalid Login\r\n550 Error, Invalid Login\r\n550 Error, Invalid Login\r\n"
                           "421 Too Many Errors, Goodbye\r\n"),
            std::string::npos)
      << out_.Text;
  EXPECT_EQ(out_.Text.find("250 Login Accepted"), std::string::npos);
}

TEST_F(LevelTwo, WithoutUsersEveryLoginIsAccepted) {
  SnppServices open{services_.CallPagingServer, &names_};
  SnppSession session(out_, open);
  EXPECT_EQ(DoCommand("LOGI sendpage\r\n", &session), kReplyLoginOk);
  EXPECT_EQ(DoCommand("LOGI\r\n", &session), kReplyLoginInvalid);  // no login id at all
}

TEST_F(LevelTwo, SubjectCallerIdAndLevelShapeThePage) {
  Run({"LOGI bob pw"});
  EXPECT_EQ(
      Run({"PAGE Ann", "LEVE 3", "ALER 1", "COVE north", "SUBJ Disk full", "CALL 555 1234", "MESS on db1", "SEND"}),
      (std::vector<int>{kReplyPagerIdAccepted, kReplyLevelOk, kReplyAlertOk, kReplyAreaSelected, kReplySubjectOk,
                        kReplyCallerIdOk, kReplyMessageOk, kReplyMessageSent}));
  const auto pages = pipe_.Pages();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].Message, "Disk full: on db1 Call 555 1234");
  EXPECT_EQ(int{pages[0].Head.TimeMode}, 0);
  EXPECT_NE(Log().find("CORVNET32: Queued page for: Ann, service level 3\n"), std::string::npos) << Log();
  // Out of range or malformed: refused in the RFC's words and counted.
  EXPECT_EQ(Run({"LEVE 12", "LEVE x", "ALER 2", "CALL"}),
            (std::vector<int>{kReplyLevelInvalid, kReplyLevelInvalid, kReplyAlertInvalid, kReplyFailed550}));
  EXPECT_EQ(session_.CommandErrors, 4);
}

TEST_F(LevelTwo, HoldMakesAnAtPageInLocalTimeAndAPastTimePagesNow) {
  Run({"LOGI bob pw"});
  // Net::SNPP's form: PAGE first, then HOLD in GMT with +0000.
  const std::time_t at = platform::Now() + 3 * 86400;
  std::tm gmt{};
  gmtime_r(&at, &gmt);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%y%m%d%H%M%S", &gmt);
  EXPECT_EQ(Run({"PAGE Ann", std::string("HOLD ") + stamp + " +0000", "MESS later", "SEND"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyDelayedOk, kReplyMessageOk, kReplyMessageSent}));
  // The 4-digit-year form, an hour ahead of GMT, long past: paged now.
  EXPECT_EQ(Run({"HOLD 20010203040506 +0100", "PAGE Bob", "MESS now", "SEND"}),
            (std::vector<int>{kReplyDelayedOk, kReplyPagerIdAccepted, kReplyMessageOk, kReplyMessageSent}));
  const auto pages = pipe_.Pages();
  ASSERT_EQ(pages.size(), 2u);
  const std::tm local = platform::LocalTime(at);
  EXPECT_EQ(int{pages[0].Head.TimeMode}, 1);
  EXPECT_EQ(int{pages[0].Head.Year}, local.tm_year + 1900);
  EXPECT_EQ(int{pages[0].Head.Month}, local.tm_mon + 1);
  EXPECT_EQ(int{pages[0].Head.Day}, local.tm_mday);
  EXPECT_EQ(int{pages[0].Head.Hour}, local.tm_hour);
  EXPECT_EQ(int{pages[0].Head.Minute}, local.tm_min);
  EXPECT_EQ(int{pages[1].Head.TimeMode}, 0);
  char until[80];
  std::snprintf(until, sizeof until, ", held until %d-%02d-%02d %02d:%02d\n", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min);
  EXPECT_NE(Log().find(std::string("CORVNET32: Queued page for: Ann") + until), std::string::npos) << Log();
  EXPECT_NE(Log().find("CORVNET32: Queued page for: Bob\n"), std::string::npos);
  // A time that does not exist, or garbage after it.
  EXPECT_EQ(Run({"HOLD 260230120000", "HOLD 2612241200", "HOLD 261224120000 +1500", "HOLD 261224120000 +01 x"}),
            (std::vector<int>{kReplyHoldInvalid, kReplyDelayedOk, kReplyHoldInvalid, kReplyHoldInvalid}));
}

TEST(HoldTime, FormsAndOffsets) {
  HoldTime h;
  ASSERT_TRUE(ParseHoldTime("261224080000 -0600\r\n", h));
  EXPECT_EQ(h.Year, 2026);
  EXPECT_EQ(h.OffsetMinutes, -360);
  EXPECT_EQ(HoldEpoch(h), 1798120800);          // 14:00 GMT; 08:00 GMT is 1798099200
  ASSERT_TRUE(ParseHoldTime("2412310930", h));  // the RFC's 10 digits: no seconds
  EXPECT_EQ(h.Minute, 30);
  EXPECT_FALSE(h.HasOffset);
  ASSERT_TRUE(ParseHoldTime("20240229235959 +5", h));  // a leap day; one-digit hours
  EXPECT_EQ(h.OffsetMinutes, 300);
  EXPECT_FALSE(ParseHoldTime("20230229000000", h));
  EXPECT_FALSE(ParseHoldTime("241231093", h));
  EXPECT_FALSE(ParseHoldTime("241231096000", h));
  EXPECT_FALSE(ParseHoldTime("", h));
}

TEST(UserTableFile, OpenToOthersIsRefusedAndBadLinesAreNamed) {
  testsupport::TempDir dir;
  dir.Write("users", "ann:" + Hash("pw") + "\njunk\n");
  UserTable users;
  std::string problem;
  namespace fs = std::filesystem;
  fs::permissions(dir.File("users"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  EXPECT_EQ(users.Load(dir.File("users"), problem), UserTable::kOpenToOthers);
  fs::permissions(dir.File("users"), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(users.Load(dir.File("users"), problem), UserTable::kMalformedLines);
  EXPECT_EQ(problem, "Users file line 2 holds no user:hash pair");
  EXPECT_TRUE(users.Check("ann", "pw"));
  EXPECT_FALSE(users.Check("ann", "pw "));
  EXPECT_FALSE(users.Check("junk", ""));
  EXPECT_EQ(users.Load(dir.File("missing"), problem), UserTable::kUnreadable);
}

}  // namespace
}  // namespace snpp
