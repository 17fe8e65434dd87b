// The delivery dispatch and the TAP driver in-process against corvsim: what the counters,
// the queue and the driver's results say after each kind of verdict.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "common/log.h"
#include "core/now_queue.h"
#include "core/server_state.h"
#include "delivery/delivery.h"
#include "delivery/tap.h"
#include "directory/page_ini.h"
#include "tests/modem_harness.h"
#include "tests/support/process.h"

namespace {

// The calls' fixed pauses (the close, the pause after it, the logon's second) at a tenth of
// their length. The clock reads the variable once, and this runs before the first test.
const bool kShortPauses = [] { return setenv("CORVEL_TIME_SCALE", "10", 1) == 0; }();

using modemtest::SimIni;
using modemtest::TapIni;

class InProcess {
 public:
  InProcess(const std::string& simIni, const std::string& systemExtra = "SystemPhoneNumber = '5551234'\n",
            const std::string& persons = "") {
    dir_.Write("sim.ini", simIni);
    sim_ = std::make_unique<testsupport::ChildProcess>(
        testsupport::ProgramPath("corvsim"),
        std::vector<std::string>{Port(), dir_.File("sim.ini"), dir_.File("rec.txt")}, dir_.Path());
    EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("corvsim.out"), "corvsim:", 5000));
    common::SetProgramName("CORVD32");
    common::SetLogFileName(dir_.File("log.txt"));
    state_ = core::AllocateServerState();
    core::ApplyDefaults(*state_);
    Load(TapIni(Port(), systemExtra) + persons);
    queue_ = core::FindPort(*state_, Port());
    EXPECT_NE(queue_, nullptr);
    work_ = std::make_unique<delivery::DialWork>(*state_, *queue_);
  }

  void Load(const std::string& ini) {
    auto dir = std::make_shared<directory::Directory>();
    directory::PageIniSettings settings;
    directory::PageIniHooks hooks;
    hooks.RegisterPort = [this](std::string_view name) { (void)core::RegisterPort(*state_, name); };
    EXPECT_EQ(directory::ParsePageIniText(ini, "page.ini", *dir, settings, hooks), 0);
    core::InstallSettings(*state_, settings);
    core::InstallDirectory(*state_, dir);
  }

  std::string Port() const { return dir_.File("p"); }
  void Queue(const char* name, const char* message) {
    ASSERT_GE(core::InsertNow(*state_, *queue_, name, message, true), 0);
  }
  core::ServerState& State() { return *state_; }
  core::DialContext& Ports() { return *queue_; }
  delivery::DialWork& Work() { return *work_; }
  int CountRecord(const std::string& text) const { return testsupport::CountInFile(dir_.File("rec.txt"), text); }
  int CountLog(const std::string& text) const { return testsupport::CountInFile(dir_.File("log.txt"), text); }
  std::string Record() const { return dir_.Read("rec.txt"); }

 private:
  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::ChildProcess> sim_;
  std::unique_ptr<core::ServerState> state_;
  core::DialContext* queue_ = nullptr;
  std::unique_ptr<delivery::DialWork> work_;
};

TEST(DeliverQueue, CountersFollowTheVerdicts) {
  InProcess rig(SimIni("nak_first = 1\nrs_ids = 666\n"));
  rig.Queue("Ann", "first");
  rig.Queue("Bob", "refused");
  EXPECT_EQ(delivery::DeliverQueue(rig.Work()), 0);
  EXPECT_FALSE(core::HasPages(rig.Ports()));
  EXPECT_EQ(rig.State().PagesSent.load(), 1);
  EXPECT_EQ(rig.State().FailedPages.load(), 2);  // the NAK and the RS
  EXPECT_EQ(rig.CountRecord("PAGE "), 3) << rig.Record();
}

TEST(DeliverQueue, TerminalEndingTheSessionKeepsThePageUncounted) {
  InProcess rig(SimIni("disconnect_after = 0\n"));
  rig.Queue("Ann", "kept");
  EXPECT_EQ(delivery::DeliverQueue(rig.Work()), delivery::kDeliverDisconnected);
  ASSERT_TRUE(core::HasPages(rig.Ports()));
  const core::QueueEntry* head = core::PeekHead(rig.State(), rig.Ports());
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->Attempts, 1);
  EXPECT_EQ(rig.State().FailedPages.load(), 0);
  EXPECT_EQ(rig.State().PagesSent.load(), 0);
}

TEST(DeliverQueue, RefusedBlockInSingleMessageModeIsAFailedRound) {
  // The call ends normally with the page still at the head; reporting that as success
  // would have the dial thread call again at once, for ever.
  InProcess rig(SimIni("nak_first = 1\n"), "SystemPhoneNumber = '5551234'\nMultipleMessageMode = Disabled\n");
  rig.Queue("Ann", "once per call");
  EXPECT_EQ(delivery::DeliverQueue(rig.Work()), 1);
  EXPECT_TRUE(core::HasPages(rig.Ports()));
  EXPECT_EQ(rig.CountRecord("CALL "), 1);
}

TEST(DeliverQueue, PersonGoneAfterAReloadIsDroppedWithALogFileLine) {
  InProcess rig(SimIni());
  rig.Queue("Ann", "for nobody");
  rig.Load("PagerSystemsSection\n[Sim]\nSystemType = Tap\nPort = '" + rig.Port() + "'\n");
  EXPECT_EQ(delivery::DeliverQueue(rig.Work()), 1);
  EXPECT_FALSE(core::HasPages(rig.Ports()));
  EXPECT_EQ(rig.CountLog("Error - Person not found in list\n"), 1);
  EXPECT_EQ(rig.CountRecord("CALL "), 0);
}

TEST(DeliverTap, NumericPersonQueuedBehindIsNotSentAsABlock) {
  InProcess rig(SimIni(), "SystemPhoneNumber = '5551234'\n",
                "[Carl]\nPageID = '777'\nPagerType = Numeric\nSystemName = 'Sim'\n");
  rig.Queue("Ann", "text");
  rig.Queue("Carl", "42");
  delivery::DialWork& work = rig.Work();
  work.Dir = core::CurrentDirectory(rig.State());
  work.SystemIndex = delivery::HeadSystem(work);
  ASSERT_GE(work.SystemIndex, 0);
  EXPECT_EQ(delivery::DeliverTap(work), 0);
  EXPECT_EQ(rig.CountRecord("PAGE "), 1) << rig.Record();
  ASSERT_TRUE(core::HasPages(rig.Ports()));
  EXPECT_TRUE(delivery::HeadIsNumeric(work));
}

}  // namespace
