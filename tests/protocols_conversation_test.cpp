// tests/protocols_conversation_test.cpp - the UCP, numeric, TAP manual-mode and script
// drivers talking to the simulator's endpoints over a pseudo-terminal, each behind a
// small Hayes modem run in this process: the bytes on the line, the log lines, the
// counters and what stays in the queue.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/server_state.h"
#include "delivery/delivery.h"
#include "delivery/numeric.h"
#include "delivery/script.h"
#include "delivery/tap_manual.h"
#include "delivery/ucp.h"
#include "directory/directory.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/unique_fd.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"
#include "tools/corvsim/numeric_endpoint.h"
#include "tools/corvsim/script_endpoint.h"
#include "tools/corvsim/tapm_terminal.h"
#include "tools/corvsim/ucp_centre.h"

namespace {

// The calls' fixed pauses (the close, the pause after it, the script's %d) at a tenth of
// their length; the limits on the endpoints' answers stay real. The clock reads the
// variable once, and this runs before the first test.
const bool kShortPauses = [] { return setenv("CORVEL_TIME_SCALE", "10", 1) == 0; }();

using directory::PagerType;
using directory::SystemType;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

enum class Endpoint { Ucp, Numeric, Tapm, Script };

struct LineOptions {
  Endpoint Kind = Endpoint::Ucp;
  std::string DialAnswer = "CONNECT 9600";  // the modem's answer to ATDT before the endpoint talks
  corvsim::UcpCentreOptions Ucp;
  corvsim::TapmOptions Tapm;
  std::vector<corvsim::ScriptStepOptions> Script;
};

// A Hayes modem on a pseudo-terminal with one endpoint behind its dial command, run by a
// thread of its own until the object goes. Records "AT <command>" for each command, the
// endpoint's lines, and "HANGUP" for each close of the port.
class FakeLine {
 public:
  explicit FakeLine(LineOptions options) : options_(std::move(options)) {
    if (platform::OpenPseudoTerminal(master_, slave_, path_) != 0) throw std::runtime_error("no pty");
    if (platform::WatchDeviceOpenClose(path_, watch_) != 0) throw std::runtime_error("no inotify");
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
  }
  ~FakeLine() { thread_.request_stop(); }
  FakeLine(const FakeLine&) = delete;
  FakeLine& operator=(const FakeLine&) = delete;

  const std::string& Path() const { return path_; }

  std::vector<std::string> Records() {
    std::lock_guard<std::mutex> hold(lock_);
    return records_;
  }
  std::vector<std::string> RecordsStarting(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& r : Records())
      if (r.rfind(prefix, 0) == 0) out.push_back(r);
    return out;
  }
  bool WaitForRecord(const std::string& text, int timeoutMs) {
    return testsupport::WaitUntil(
        [&] {
          for (const std::string& r : Records())
            if (r.find(text) != std::string::npos) return true;
          return false;
        },
        timeoutMs, 20);
  }

 private:
  enum class Mode { Command, Online, Playing };

  void Add(std::string line) {
    std::lock_guard<std::mutex> hold(lock_);
    records_.push_back(std::move(line));
  }
  void Send(const std::string& bytes) {
    if (!bytes.empty()) (void)platform::WriteSerial(master_, bytes);
  }

  void Command(const std::string& line) {
    if (line.empty()) return;
    Add("AT " + line);
    std::string upper;
    for (char c : line) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    if (upper.rfind("ATD", 0) != 0) {
      Send("\r\nOK\r\n");
      return;
    }
    if (options_.Kind == Endpoint::Numeric) {
      dialled_ = corvsim::NumericDialled(line);
      playStartMs_ = NowMs();
      mode_ = Mode::Playing;
      return;
    }
    Send("\r\n" + options_.DialAnswer + "\r\n");
    if (options_.DialAnswer.rfind("CONNECT", 0) != 0) return;
    mode_ = Mode::Online;
    ucp_ = std::make_unique<corvsim::UcpCentre>(options_.Ucp);
    tapm_ = std::make_unique<corvsim::TapmTerminal>(options_.Tapm);
    script_ = std::make_unique<corvsim::ScriptEndpoint>(options_.Script);
    if (options_.Kind == Endpoint::Tapm) Send(tapm_->OnConnect());
    if (options_.Kind == Endpoint::Script) Send(script_->OnConnect(NowMs()));
  }

  void Online(const std::string& bytes) {
    switch (options_.Kind) {
      case Endpoint::Ucp:
        Send(ucp_->OnBytes(bytes));
        for (std::string& r : ucp_->TakeRecords()) Add(std::move(r));
        break;
      case Endpoint::Tapm:
        Send(tapm_->OnBytes(bytes));
        for (std::string& r : tapm_->TakeRecords()) Add(std::move(r));
        break;
      case Endpoint::Script:
        Send(script_->OnBytes(bytes, NowMs()));
        for (std::string& r : script_->TakeRecords()) Add(std::move(r));
        break;
      case Endpoint::Numeric:
        break;
    }
  }

  void Bytes(const char* data, int n) {
    for (int i = 0; i < n; ++i) {
      const char c = data[i];
      if (mode_ == Mode::Playing) {
        // Any character abandons the dialling: that is how the driver hangs up.
        Add(corvsim::NumericRecord(dialled_, NowMs() - playStartMs_));
        Send("\r\nNO CARRIER\r\n");
        mode_ = Mode::Command;
        continue;
      }
      if (mode_ == Mode::Online) {
        Online(std::string(1, c));
        continue;
      }
      if (c == '\n') continue;
      if (c != '\r') {
        if (line_.size() < 200) line_.push_back(c);
        continue;
      }
      Command(std::exchange(line_, {}));
    }
  }

  void Hangup() {
    if (mode_ == Mode::Online && options_.Kind == Endpoint::Script) {
      script_->OnHangup(NowMs());
      for (std::string& r : script_->TakeRecords()) Add(std::move(r));
    }
    if (mode_ == Mode::Playing) Add(corvsim::NumericRecord(dialled_, NowMs() - playStartMs_));
    Add("HANGUP");
    mode_ = Mode::Command;
    line_.clear();
    (void)platform::ResetPseudoTerminalSlave(slave_);
  }

  void Run(std::stop_token stop) {
    char buf[4096];
    while (!stop.stop_requested()) {
      const int woke = platform::WaitSerialInput(master_, watch_.Get(), 20);
      if (woke == 1) {
        const int n = platform::ReadSerialNow(master_, buf);
        if (n > 0) Bytes(buf, n);
      }
      int opens = 0;
      int closes = 0;
      (void)platform::ReadDeviceOpenClose(watch_, opens, closes);
      if (closes > 0) {
        // What the server wrote before it closed is read first.
        for (int n; (n = platform::ReadSerialNow(master_, buf)) > 0;) Bytes(buf, n);
        Hangup();
      }
    }
  }

  LineOptions options_;
  platform::UniqueFd master_;
  platform::UniqueFd slave_;
  platform::UniqueFd watch_;
  std::string path_;
  std::mutex lock_;
  std::vector<std::string> records_;
  Mode mode_ = Mode::Command;
  std::string line_;
  std::string dialled_;
  int64_t playStartMs_ = 0;
  std::unique_ptr<corvsim::UcpCentre> ucp_;
  std::unique_ptr<corvsim::TapmTerminal> tapm_;
  std::unique_ptr<corvsim::ScriptEndpoint> script_;
  std::jthread thread_;  // last: stopped and joined before the members it uses go
};

// A server record with a directory, port queues and log.txt in a scratch folder.
class Server {
 public:
  Server() : state_(core::AllocateServerState()) {
    core::ApplyDefaults(*state_);
    common::SetProgramName("CORVD32");
    common::SetLogFileName(dir_.File("log.txt"));
  }

  core::ServerState& State() { return *state_; }
  const testsupport::TempDir& Dir() const { return dir_; }
  core::DialContext& Port(const std::string& path) { return *core::FindPort(*state_, path); }

  directory::SystemRecord& AddSystem(const std::string& name, SystemType type, const std::string& port,
                                     const std::string& phone) {
    directory::SystemRecord system = directory::DefaultSystem();
    system.SystemName = name;
    system.SystemType = type;
    system.Port[0] = port;
    system.PortCount = 1;
    system.Baud = 9600;
    system.Parity = 'N';
    system.DataBits = 8;
    system.StopBits = 1;
    system.SystemPhoneNumber = phone;
    systems_.push_back(system);
    return systems_.back();
  }
  void AddPerson(const std::string& name, const std::string& pageId, const std::string& system,
                 PagerType type = PagerType::Alphanumeric) {
    directory::PersonRecord person;
    person.Name = name;
    person.PageID = pageId;
    person.SystemName = system;
    person.PagerType = type;
    persons_.push_back(person);
  }
  void Install() {
    auto dir = std::make_shared<directory::Directory>();
    for (const directory::SystemRecord& s : systems_)
      dir->AddSystem(s, [this](std::string_view port) { (void)core::RegisterPort(*state_, port); });
    for (const directory::PersonRecord& p : persons_) dir->AddPerson(p, "");
    core::InstallDirectory(*state_, dir);
  }
  void Queue(const std::string& port, const std::string& name, const std::string& message) {
    ASSERT_GE(core::InsertNow(*state_, Port(port), name.c_str(), message.c_str(), true), 0) << name;
  }
  std::string HeadName(const std::string& port) {
    const core::QueueEntry* head = core::PeekHead(*state_, Port(port));
    return head ? common::FieldText(head->Name) : std::string();
  }

  std::string Log() const { return dir_.Read("log.txt"); }
  int CountLog(const std::string& text) const { return testsupport::CountInFile(dir_.File("log.txt"), text); }

 private:
  testsupport::TempDir dir_;
  std::unique_ptr<core::ServerState> state_;
  std::deque<directory::SystemRecord> systems_;
  std::deque<directory::PersonRecord> persons_;
};

// ---------------------------------------------------------------------------------------
// UCP

TEST(ProtocolsUcp, SecondOfThreePagesRejectedFirstSentThirdWaits) {
  LineOptions o;
  o.Kind = Endpoint::Ucp;
  o.Ucp.RejectAdc = {"01722222222"};
  FakeLine line(o);
  Server s;
  s.AddSystem("Centre", SystemType::UCP, line.Path(), "5550100");
  s.AddPerson("Ann", "0172-1111111", "Centre");
  s.AddPerson("Bob", "0172-2222222", "Centre");
  s.AddPerson("Cyd", "0172-3333333", "Centre");
  s.Install();
  s.Queue(line.Path(), "Ann", "AB");
  s.Queue(line.Path(), "Bob", "CD");
  s.Queue(line.Path(), "Cyd", "EF");

  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 1);
  EXPECT_EQ(s.State().PagesSent.load(), 1);
  EXPECT_EQ(s.State().FailedPages.load(), 1);
  EXPECT_EQ(s.HeadName(line.Path()), "Cyd");
  EXPECT_EQ(core::QueuedCount(s.Port(line.Path())), 1);
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann\n"), 1);
  EXPECT_EQ(s.CountLog("CORVD32: Error - System rejected pager\n"), 1);
  EXPECT_EQ(s.CountLog("Paged Bob"), 0);

  // One call per page, each dialled; the rejected frame reached the centre intact.
  EXPECT_EQ(line.RecordsStarting("AT ATDT 5550100").size(), 2u);
  const std::vector<std::string> frames = line.RecordsStarting("UCP ");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_NE(frames[0].find("adc=01721111111 msg=AB answer=A"), std::string::npos);
  EXPECT_NE(frames[1].find("len=ok sum=ok adc=01722222222 msg=CD answer=N"), std::string::npos);
}

TEST(ProtocolsUcp, FrameAndChecksumAsReceivedAndCp850Byte81SentAs7E) {
  LineOptions o;
  o.Kind = Endpoint::Ucp;
  FakeLine line(o);
  Server s;
  s.State().MapCodePage = 1;
  s.AddSystem("Centre", SystemType::UCP, line.Path(), "5550100");
  s.AddPerson("Ann", "0172-1234567", "Centre");
  s.Install();
  s.Queue(line.Path(), "Ann", "AB");
  s.Queue(line.Path(), "Ann", "\x81");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 0);
  const std::vector<std::string> frames = line.RecordsStarting("UCP ");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0],
            "UCP frame=00/00046/O/30/01721234567///1//0139////4142/ checksum=9D len=ok sum=ok "
            "adc=01721234567 msg=AB answer=A");
  EXPECT_NE(frames[1].find("frame=00/00044/O/30/01721234567///1//0139////7E/ "), std::string::npos);
  EXPECT_NE(frames[1].find("len=ok sum=ok adc=01721234567 msg=~ answer=A"), std::string::npos);
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann\n"), 2);
  EXPECT_EQ(s.State().PagesSent.load(), 2);
}

TEST(ProtocolsUcp, NoConnectKeepsThePageWithoutALogLine) {
  LineOptions o;
  o.Kind = Endpoint::Ucp;
  o.DialAnswer = "BUSY";
  FakeLine line(o);
  Server s;
  s.AddSystem("Centre", SystemType::UCP, line.Path(), "5550100");
  s.AddPerson("Ann", "0172-1234567", "Centre");
  s.Install();
  s.Queue(line.Path(), "Ann", "AB");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 1);
  EXPECT_EQ(s.HeadName(line.Path()), "Ann");
  EXPECT_EQ(s.CountLog("Error"), 0);
  EXPECT_EQ(s.State().FailedPages.load(), 0);
}

TEST(ProtocolsUcp, SilenceOrABrokenResultKeepsThePageAsAFailedRound) {
  for (const bool silent : {true, false}) {
    LineOptions o;
    o.Kind = Endpoint::Ucp;
    o.Ucp.Silent = silent;
    o.Ucp.Garble = !silent;
    FakeLine line(o);
    Server s;
    s.AddSystem("Centre", SystemType::UCP, line.Path(), "5550100");
    s.AddPerson("Ann", "0172-1234567", "Centre");
    s.Install();
    s.Queue(line.Path(), "Ann", "AB");
    delivery::DialWork work(s.State(), s.Port(line.Path()));
    // The frame reached the centre, but nothing says it took the page: the round failed and
    // the page waits at the head for the retry policy.
    EXPECT_EQ(delivery::DeliverQueue(work), 1) << silent;
    EXPECT_EQ(s.HeadName(line.Path()), "Ann");
    EXPECT_EQ(line.RecordsStarting("UCP ").size(), 1u);
    EXPECT_EQ(
        s.CountLog(silent
                       ? "CORVD32: Error - No answer from the paging centre on message(#1) for Ann - page kept\n"
                       : "CORVD32: Error - Broken answer from the paging centre on message(#1) for Ann - page kept\n"),
        1)
        << s.Log();
    EXPECT_EQ(s.CountLog("rejected"), 0);
    EXPECT_EQ(s.CountLog("Paged"), 0);
    EXPECT_EQ(s.State().FailedPages.load(), 0);
    EXPECT_EQ(s.State().PagesSent.load(), 0);
  }
}

// ---------------------------------------------------------------------------------------
// Numeric

TEST(ProtocolsNumeric, PrefixNumberPagerIdAndTonesAllPlayedBeforeTheHangUp) {
  LineOptions o;
  o.Kind = Endpoint::Numeric;
  FakeLine line(o);
  Server s;
  directory::PageIniSettings settings = core::CurrentSettings(s.State());
  settings.DialingPrefix = "9";
  core::InstallSettings(s.State(), settings);
  s.AddSystem("Numeric", SystemType::Tap, line.Path(), "5551212");
  s.AddPerson("Ann", "1234567", "", PagerType::Numeric);
  s.Install();
  s.Queue(line.Path(), "Ann", "42");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  const int64_t start = NowMs();
  EXPECT_EQ(delivery::DeliverQueue(work), 0);
  // The modem has 20 s (real time: it plays at its own pace) before the CR, then the
  // hang-up pause and the close.
  EXPECT_GE(NowMs() - start, 20000 + platform::ScaledMs(500 + 2000));
  EXPECT_FALSE(core::HasPages(s.Port(line.Path())));
  EXPECT_EQ(line.RecordsStarting("AT ATDT").at(0), "AT ATDT 9,5551212,,1234567,,,42");
  const std::vector<std::string> calls = line.RecordsStarting("NUMERIC ");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("dial=9,5551212,,1234567,,,42 played=9,5551212,,1234567,,,42 complete=yes"),
            std::string::npos);
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann\n"), 1);
  EXPECT_EQ(s.State().PagesSent.load(), 1);
}

TEST(ProtocolsNumeric, HundredFiftyDigitsCutTo99AndEveryOnePlayedWithoutNumberOrPrefix) {
  LineOptions o;
  o.Kind = Endpoint::Numeric;
  FakeLine line(o);
  Server s;
  s.AddSystem("Numeric", SystemType::Tap, line.Path(), "");
  s.AddPerson("Ann", "1234567", "", PagerType::Numeric);
  s.Install();
  std::string digits;
  for (int i = 0; i < 150; ++i) digits.push_back(static_cast<char>('0' + (i * 7) % 10));
  s.Queue(line.Path(), "Ann", digits);
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 0);
  const std::string dialled = "1234567,," + digits.substr(0, 99);
  EXPECT_EQ(line.RecordsStarting("AT ATDT").at(0), "AT ATDT " + dialled);
  const std::vector<std::string> calls = line.RecordsStarting("NUMERIC ");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("played=" + dialled + " complete=yes"), std::string::npos) << calls[0];
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann\n"), 1);
}

TEST(ProtocolsNumeric, NumericPersonOnATapSystemIsDialledNumericallyWithItsSettings) {
  LineOptions o;
  o.Kind = Endpoint::Numeric;
  FakeLine line(o);
  Server s;
  directory::SystemRecord& tap = s.AddSystem("Metro", SystemType::Tap, line.Path(), "5550199");
  tap.ModemInitString = "ATX4";
  s.AddPerson("Num", "7654321", "Metro", PagerType::Numeric);
  s.Install();
  s.Queue(line.Path(), "Num", "Call 555-1234 #");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 0);
  const std::vector<std::string> commands = line.RecordsStarting("AT ");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], "AT ATX4");
  EXPECT_EQ(commands[1], "AT ATDT 5550199,,7654321,,,5551234#");
  EXPECT_NE(line.RecordsStarting("NUMERIC ").at(0).find("complete=yes"), std::string::npos);
  EXPECT_EQ(s.CountLog("CORVD32: Paged Num\n"), 1);
  EXPECT_EQ(s.CountLog("TAP"), 0);
}

TEST(ProtocolsNumeric, PortThatCannotBeOpenedKeepsThePage) {
  Server s;
  s.AddSystem("Numeric", SystemType::Tap, s.Dir().File("no-such-tty"), "5551212");
  s.AddPerson("Ann", "1234567", "", PagerType::Numeric);
  s.Install();
  s.Queue(s.Dir().File("no-such-tty"), "Ann", "42");
  delivery::DialWork work(s.State(), s.Port(s.Dir().File("no-such-tty")));
  EXPECT_EQ(delivery::DeliverQueue(work), 1);
  EXPECT_EQ(s.HeadName(s.Dir().File("no-such-tty")), "Ann");
  EXPECT_EQ(s.CountLog("Paged"), 0);
}

// ---------------------------------------------------------------------------------------
// TAP manual mode

TEST(ProtocolsTapManual, OneMThreePagesInOneCallFourthForAnotherSystemWaits) {
  LineOptions o;
  o.Kind = Endpoint::Tapm;
  FakeLine line(o);
  Server s;
  s.AddSystem("Manual", SystemType::TapM, line.Path(), "5550001");
  s.AddSystem("Other", SystemType::TapM, line.Path(), "5550002");
  s.AddPerson("Ann", "111", "Manual");
  s.AddPerson("Bob", "222", "Manual");
  s.AddPerson("Cyd", "333", "Manual");
  s.AddPerson("Dan", "444", "Other");
  s.Install();
  s.Queue(line.Path(), "Ann", "first");
  s.Queue(line.Path(), "Bob", "second");
  s.Queue(line.Path(), "Cyd", "third");
  s.Queue(line.Path(), "Dan", "fourth");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverHead(work), 0);
  EXPECT_EQ(line.RecordsStarting("AT ATDT").size(), 1u);
  const std::vector<std::string> pages = line.RecordsStarting("TAPM page");
  const std::vector<std::string> expected = {"TAPM page id=111 msg=first", "TAPM page id=222 msg=second",
                                             "TAPM page id=333 msg=third"};
  EXPECT_EQ(pages, expected);
  EXPECT_EQ(line.RecordsStarting("TAPM mode").size(), 1u);
  EXPECT_EQ(s.HeadName(line.Path()), "Dan");
  EXPECT_EQ(s.CountLog("CORVD32: Paged "), 3);
  EXPECT_EQ(s.State().PagesSent.load(), 3);
}

TEST(ProtocolsTapManual, TerminalNeedingTwoMGetsTheSecondAndThePage) {
  LineOptions o;
  o.Kind = Endpoint::Tapm;
  o.Tapm.MNeeded = 2;
  FakeLine line(o);
  Server s;
  s.State().MapCodePage = 1;
  s.AddSystem("Manual", SystemType::TapM, line.Path(), "5550001");
  s.AddPerson("Ann", "111", "Manual");
  s.Install();
  s.Queue(line.Path(), "Ann",
          "\x81"
          "ber");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 0);
  EXPECT_EQ(line.RecordsStarting("TAPM mode").size(), 2u);
  // The TAP character map applies to manual mode too.
  EXPECT_EQ(line.RecordsStarting("TAPM page"), std::vector<std::string>{"TAPM page id=111 msg=}ber"});
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann\n"), 1);
}

TEST(ProtocolsTapManual, NoGreetingAfterConnectKeepsThePage) {
  LineOptions o;
  o.Kind = Endpoint::Tapm;
  o.Tapm.Greeting = false;
  FakeLine line(o);
  Server s;
  s.AddSystem("Manual", SystemType::TapM, line.Path(), "5550001");
  s.AddPerson("Ann", "111", "Manual");
  s.Install();
  s.Queue(line.Path(), "Ann", "hello");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 1);
  EXPECT_EQ(s.CountLog("CORVD32: Error - No ID message\n"), 1);
  EXPECT_TRUE(line.RecordsStarting("TAPM mode").empty());  // no "M" was sent
  EXPECT_EQ(s.HeadName(line.Path()), "Ann");
  EXPECT_EQ(s.State().FailedPages.load(), 0);
}

TEST(ProtocolsTapManual, NoIdPromptAfterTwoMKeepsThePage) {
  LineOptions o;
  o.Kind = Endpoint::Tapm;
  o.Tapm.IdPrompt = false;
  FakeLine line(o);
  Server s;
  s.AddSystem("Manual", SystemType::TapM, line.Path(), "5550001");
  s.AddPerson("Ann", "111", "Manual");
  s.Install();
  s.Queue(line.Path(), "Ann", "hello");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 1);
  EXPECT_EQ(line.RecordsStarting("TAPM mode").size(), 2u);
  EXPECT_EQ(s.CountLog("CORVD32: Error - Pager ID prompt not seen\n"), 1);
  EXPECT_EQ(s.HeadName(line.Path()), "Ann");
}

// The terminal's prompt for the next pager ID also ends in RETURN. Left unread, it would
// pass for the message prompt of the next page, and a refused ID would be logged "Paged".
TEST(ProtocolsTapManual, RefusedIdAfterADeliveredPageIsLostAndLoggedNotPaged) {
  LineOptions o;
  o.Kind = Endpoint::Tapm;
  o.Tapm.NoMessagePrompt = {"222"};
  FakeLine line(o);
  Server s;
  s.AddSystem("Manual", SystemType::TapM, line.Path(), "5550001");
  s.AddPerson("Ann", "111", "Manual");
  s.AddPerson("Bob", "222", "Manual");
  s.AddPerson("Cyd", "333", "Manual");
  s.Install();
  s.Queue(line.Path(), "Ann", "first");
  s.Queue(line.Path(), "Bob", "second");
  s.Queue(line.Path(), "Cyd", "third");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 1);
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann\n"), 1);
  EXPECT_EQ(s.CountLog("Paged Bob"), 0);
  EXPECT_EQ(s.CountLog("CORVD32: Error - Pager message prompt not seen\n"), 1);
  EXPECT_EQ(s.State().FailedPages.load(), 1);
  EXPECT_EQ(s.HeadName(line.Path()), "Cyd");
}

TEST(ProtocolsTapManual, NumericPersonQueuedBehindIsLeftForNumericDialling) {
  LineOptions o;
  o.Kind = Endpoint::Tapm;
  FakeLine line(o);
  Server s;
  s.AddSystem("Manual", SystemType::TapM, line.Path(), "5550001");
  s.AddPerson("Ann", "111", "Manual");
  s.AddPerson("Num", "999", "Manual", PagerType::Numeric);
  s.Install();
  s.Queue(line.Path(), "Ann", "first");
  s.Queue(line.Path(), "Num", "42");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverHead(work), 0);
  EXPECT_EQ(line.RecordsStarting("TAPM page").size(), 1u);
  EXPECT_EQ(s.HeadName(line.Path()), "Num");
}

// ---------------------------------------------------------------------------------------
// Scripts

std::string WriteScript(Server& s, const std::string& name, const std::string& text) {
  s.Dir().Write(name, text);
  return s.Dir().File(name);
}

TEST(ProtocolsScript, DialConnectIdAndLineFeedWithoutMessageIsUnableToSend) {
  LineOptions o;
  o.Kind = Endpoint::Script;
  o.Script = corvsim::ParseScriptSteps("\\r=>OK\\r\\n");
  FakeLine line(o);
  Server s;
  directory::SystemRecord& sys = s.AddSystem("Scripted", SystemType::Script, line.Path(), "5551212");
  sys.ScriptFileName = WriteScript(s, "dial.scr", "ATDT%p\\r\nCONNECT\n%i\\r\n\n");
  s.AddPerson("Ann", "1234567", "Scripted");
  s.Install();
  s.Queue(line.Path(), "Ann", "hello");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 0);  // every wait succeeded
  EXPECT_EQ(line.RecordsStarting("AT ATDT"), std::vector<std::string>{"AT ATDT5551212"});
  EXPECT_EQ(line.RecordsStarting("SCRIPT end"), std::vector<std::string>{"SCRIPT end received=1234567\\x0D steps=1/1"});
  EXPECT_EQ(s.CountLog("CORVD32: Error - Unalbe to send page.\n"), 1);
  EXPECT_EQ(s.State().FailedPages.load(), 1);
  EXPECT_EQ(s.State().PagesSent.load(), 0);
  EXPECT_FALSE(core::HasPages(s.Port(line.Path())));
}

TEST(ProtocolsScript, IdCrPauseMessageCrWithTheTwoSecondPause) {
  LineOptions o;
  o.Kind = Endpoint::Script;
  o.Script = corvsim::ParseScriptSteps("Call me\\r=>ACCEPTED\\r\\n");
  FakeLine line(o);
  Server s;
  s.State().LogMessages = true;
  directory::SystemRecord& sys = s.AddSystem("Scripted", SystemType::Script, line.Path(), "5551212");
  sys.ScriptFileName = WriteScript(s, "pause.scr", "ATDT%p\\r\nCONNECT\n%i\\r%d%m\\r\nACCEPTED\\r\n");
  s.AddPerson("Ann", "1234567", "Scripted");
  s.Install();
  s.Queue(line.Path(), "Ann", "Call me");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 0);
  const std::vector<std::string> lines = line.RecordsStarting("SCRIPT line");
  ASSERT_EQ(lines.size(), 2u);
  auto at = [](const std::string& r) { return std::stoll(r.substr(r.find("t=") + 2)); };
  EXPECT_NE(lines[0].find(" 1234567\\x0D"), std::string::npos);
  EXPECT_NE(lines[1].find(" Call me\\x0D"), std::string::npos);
  // The %d pause: 2000 ms of program time, and not much more.
  EXPECT_GE(at(lines[1]) - at(lines[0]), platform::ScaledMs(2000) - 10);
  EXPECT_LT(at(lines[1]) - at(lines[0]), platform::ScaledMs(2000) + 2000);
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann with Message \"Call me\"\n"), 1);
  EXPECT_EQ(s.State().PagesSent.load(), 1);
}

TEST(ProtocolsScript, MissingScriptFileDropsThePageAsUnableToSend) {
  LineOptions o;
  o.Kind = Endpoint::Script;
  FakeLine line(o);
  Server s;
  directory::SystemRecord& sys = s.AddSystem("Scripted", SystemType::Script, line.Path(), "5551212");
  sys.ScriptFileName = s.Dir().File("missing.scr");
  s.AddPerson("Ann", "1234567", "Scripted");
  s.Install();
  s.Queue(line.Path(), "Ann", "hello");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 0);
  EXPECT_EQ(s.CountLog("Error - Unable to open up script file(" + s.Dir().File("missing.scr") + ")"), 1);
  EXPECT_EQ(s.CountLog("CORVD32: Error - Unalbe to send page.\n"), 1);
  EXPECT_TRUE(line.RecordsStarting("AT ATDT").empty());
  EXPECT_FALSE(core::HasPages(s.Port(line.Path())));
}

TEST(ProtocolsScript, WaitThatTimesOutStopsTheScriptButThePageCountsAsSent) {
  LineOptions o;
  o.Kind = Endpoint::Script;
  FakeLine line(o);
  Server s;
  directory::SystemRecord& sys = s.AddSystem("Scripted", SystemType::Script, line.Path(), "5551212");
  sys.ScriptFileName = WriteScript(s, "stuck.scr", "ATDT%p\\r\nCONNECT\n%i %m\\r\nNEVER\nAFTER\\r\nX\n");
  s.AddPerson("Ann", "1234567", "Scripted");
  s.Install();
  s.Queue(line.Path(), "Ann", "hello");
  delivery::DialWork work(s.State(), s.Port(line.Path()));
  EXPECT_EQ(delivery::DeliverQueue(work), 1);
  EXPECT_EQ(line.RecordsStarting("SCRIPT end"),
            std::vector<std::string>{"SCRIPT end received=1234567 hello\\x0D steps=0/0"});
  EXPECT_EQ(s.CountLog("CORVD32: Paged Ann\n"), 1);
  EXPECT_FALSE(core::HasPages(s.Port(line.Path())));
}

}  // namespace
