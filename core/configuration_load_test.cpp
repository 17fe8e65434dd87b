// core/configuration_load_test.cpp - page.ini loads into the state: the swap, what survives
// a reload, a vanished file, and the client's reading.
#include "core/configuration_load.h"

#include <gtest/gtest.h>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "tests/support/process.h"

namespace core {
namespace {

const std::string kIni =
    "PagerSystemsSection\n"
    "[Metro]\nSystemType = Tap\nPort = 'COM1'\nPort = 'COM2'\n"
    "[Numeric]\nPort = 'COM3'\n"
    "NameSection\n"
    "[Ann]\nPageID = '1001'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n"
    "[Bob]\nPageID = '1002'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n";

class ConfigurationLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetProgramName(kServerProgramName);
    common::SetLogFileName(dir_.File("log.txt"));
    state_ = AllocateServerState();
    ASSERT_TRUE(state_);
    ApplyDefaults(*state_);
    dir_.Write("page.ini", kIni);
    ASSERT_EQ(LoadDirectory(*state_, Ini()), 0);
  }
  void TearDown() override { common::SetDebug(false); }  // the debug switch is process-wide
  std::string Ini() const { return dir_.File("page.ini"); }
  std::string Log() const { return dir_.Read("log.txt"); }

  testsupport::TempDir dir_;
  std::unique_ptr<ServerState> state_;
};

TEST_F(ConfigurationLoad, ServerRegistersEachPortOnce) {
  EXPECT_EQ(state_->PortCount.load(), 3);
  EXPECT_NE(FindPort(*state_, "COM2"), nullptr);
  ASSERT_EQ(LoadDirectory(*state_, Ini()), 0);
  EXPECT_EQ(state_->PortCount.load(), 3);
}

TEST_F(ConfigurationLoad, QueuesAtSlotsAndDebugSurviveAReload) {
  dir_.Write("page.ini", "Debug = Enabled\n" + kIni);
  ASSERT_EQ(LoadDirectory(*state_, Ini()), 0);
  EXPECT_TRUE(state_->Debug);
  ASSERT_GE(InsertNow(*state_, *state_->Main, "Ann", "queued", true), 0);
  state_->AtTable[0].InUse = 1;
  common::CopyField(state_->AtTable[0].Name, "Bob");
  dir_.Write("page.ini", kIni + "PagerSystemsSection\n[Far]\nPort = 'COM9'\n");
  ASSERT_EQ(LoadDirectory(*state_, Ini()), 0);
  EXPECT_TRUE(state_->Debug);  // removing the line does not switch debug off
  EXPECT_EQ(QueuedCount(*state_->Main), 1);
  EXPECT_EQ(+state_->AtTable[0].InUse, 1);
  EXPECT_NE(FindPort(*state_, "COM9"), nullptr);
  EXPECT_EQ(state_->PortCount.load(), 4);
}

TEST_F(ConfigurationLoad, VanishedFileKeepsTheDirectory) {
  std::remove(Ini().c_str());
  EXPECT_EQ(LoadDirectory(*state_, Ini()), 1);
  EXPECT_NE(Log().find("CORVD32: Error opening PAGE.INI file - File not found\n"), std::string::npos);
  EXPECT_GE(CurrentDirectory(*state_)->FindPersonByName("Ann"), 0);
}

TEST_F(ConfigurationLoad, QueueSizeWaitsForAnEmptyMainQueue) {
  ASSERT_GE(InsertNow(*state_, *state_->Main, "Ann", "waiting", true), 0);
  dir_.Write("page.ini", "QueueSize = 400\n" + kIni);
  (void)LoadDirectory(*state_, Ini());
  EXPECT_EQ(state_->Main->Capacity.load(), 100);
  EXPECT_NE(Log().find("CORVD32: QueueSize 400 not applied - pages are waiting in the Main queue\n"),
            std::string::npos);
  ASSERT_EQ(DropHead(*state_->Main), 0);
  (void)LoadDirectory(*state_, Ini());
  EXPECT_EQ(state_->Main->Capacity.load(), 400);
}

TEST_F(ConfigurationLoad, ReaderKeepsItsSnapshotWhileTheDirectorySwaps) {
  const auto before = CurrentDirectory(*state_);
  dir_.Write("page.ini", "NameSection\n[Zoe]\nPageID = '9'\nPagerType = Numeric\n");
  ASSERT_EQ(LoadDirectory(*state_, Ini()), 0);
  EXPECT_GE(before->FindPersonByName("Ann"), 0);
  EXPECT_LT(CurrentDirectory(*state_)->FindPersonByName("Ann"), 0);
  EXPECT_GE(CurrentDirectory(*state_)->FindPersonByName("Zoe"), 0);
}

TEST_F(ConfigurationLoad, ClientKeepsPersonsOfUnknownSystemsAndRegistersNoPort) {
  const std::string ini = kIni + "[Cy]\nPageID = '1003'\nPagerType = Alphanumeric\nSystemName = 'Elsewhere'\n";
  dir_.Write("page.ini", ini);
  auto client = AllocateServerState();
  ASSERT_TRUE(client);
  ApplyDefaults(*client);
  EXPECT_EQ(LoadDirectory(*client, Ini(), PageIniReader::kClient), 0);
  EXPECT_GE(CurrentDirectory(*client)->FindPersonByName("Cy"), 0);
  EXPECT_EQ(client->PortCount.load(), 0);
  EXPECT_EQ(Log().find("System Name not valid"), std::string::npos);

  ASSERT_EQ(LoadDirectory(*state_, Ini()), 0);  // the server drops her, and says so
  EXPECT_LT(CurrentDirectory(*state_)->FindPersonByName("Cy"), 0);
  EXPECT_NE(Log().find("System Name not valid"), std::string::npos);
}

}  // namespace
}  // namespace core
