// The page store end to end: pages from four pipe clients to persons on three TAP systems
// behind corvsim pagers while corvd32 is killed (SIGKILL) and restarted at random moments.
// Every page that got "OK" must reach a pager; a page may arrive twice only when it was on
// the line at a kill (logged "resent after a restart"). With SIGTERM instead, nothing
// arrives twice. Also: a second corvd32 in the same folder, and a full disk under the store.
//
// CORVEL_CRASH_PAGES (default 240) and CORVEL_CRASH_SEED choose the run; bench/store_crash.sh
// runs 1000 pages.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "tests/server_harness.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace {

constexpr int kSystems = 3;
constexpr int kClients = 4;
constexpr int kStops = 5;

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

class CrashRig {
 public:
  CrashRig() {
    // A Main queue that takes every page of the run, so the stops hit a long queue.
    std::string ini = "QueueSize = 2000\nMaxReTrys = 0\nPagerSystemsSection\n";
    for (int s = 0; s < kSystems; ++s) {
      ini += "[Sys" + std::to_string(s) + "]\nSystemType = Tap\nPort = '" + Port(s) +
             "'\nSystemPhoneNumber = '5551234'\nBaud = 9600\nParity = Even\nDataBits = 7\nStopBits = 1\n"
             "TapPassWord = 'PW'\n";
    }
    ini += "NameSection\n";
    for (int p = 0; p < 2 * kSystems; ++p) {
      ini += "[P" + std::to_string(p) + "]\nPageID = '" + std::to_string(100 + p) +
             "'\nPagerType = Alphanumeric\nSystemName = 'Sys" + std::to_string(p % kSystems) + "'\n";
    }
    Dir().Write("page.ini", ini);
    for (int s = 0; s < kSystems; ++s) {
      const std::string config = "sim" + std::to_string(s) + ".ini";
      Dir().Write(config,
                  "[modem]\ndial_ms = 50\n[number 5551234]\nresult = CONNECT 9600/ARQ\npassword = PW\n"
                  "baud = 4800\nidle_ms = 5000\n");
      sims_.push_back(std::make_unique<testsupport::ChildProcess>(
          testsupport::ProgramPath("corvsim"),
          std::vector<std::string>{Port(s), Dir().File(config), Dir().File("rec" + std::to_string(s) + ".txt")},
          Dir().Path()));
    }
    for (int s = 0; s < kSystems; ++s) {
      EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::FileExists(Port(s)); }, 5000));
    }
  }

  const testsupport::TempDir& Dir() const { return server_.Dir(); }
  servertest::Server& Server() { return server_; }
  std::string Port(int s) const { return Dir().File("p" + std::to_string(s)); }
  void Start() { server_.Start({}, {{"CORVEL_TIME_SCALE", "10"}}); }

  // How often each text reached a pager with an ACK, over all systems.
  std::map<std::string, int> Delivered() const {
    std::map<std::string, int> count;
    for (int s = 0; s < kSystems; ++s) {
      std::istringstream in(Dir().Read("rec" + std::to_string(s) + ".txt"));
      for (std::string line; std::getline(in, line);) {
        if (line.rfind("PAGE ", 0) != 0 || line.find("verdict=ACK") == std::string::npos) continue;
        const size_t at = line.find(" text=");
        if (at == std::string::npos) continue;
        const size_t start = at + 6;
        ++count[line.substr(start, line.find(' ', start) - start)];
      }
    }
    return count;
  }

 private:
  servertest::Server server_;
  std::vector<std::unique_ptr<testsupport::ChildProcess>> sims_;
};

struct RunResult {
  std::set<std::string> Accepted;
  int Duplicates = 0;
  int Resent = 0;
};

// Pages from kClients threads while the server is stopped with sig and started again
// kStops times at random moments; then waits for every accepted page to arrive.
RunResult RunWithStops(CrashRig& rig, int sig) {
  const int pages = EnvInt("CORVEL_CRASH_PAGES", 240);
  const unsigned seed = static_cast<unsigned>(EnvInt("CORVEL_CRASH_SEED", static_cast<int>(std::random_device{}())));
  std::printf("crash run: %d pages, signal %d, seed %u (CORVEL_CRASH_SEED reruns it)\n", pages, sig, seed);
  rig.Start();
  RunResult result;
  std::mutex mutex;
  std::atomic<int> next{0};
  std::vector<std::jthread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = next++; i < pages; i = next++) {
        // A text of its own per attempt, so an arrival is always traced to its request.
        const std::string text = "m" + std::to_string(i) + "c" + std::to_string(c);
        const std::string reply = rig.Server().Page("P" + std::to_string(i % (2 * kSystems)), text);
        if (reply == "OK") {
          std::lock_guard<std::mutex> hold(mutex);
          result.Accepted.insert(text);
        }
        // Paced, so the pages keep coming while the server is stopped and started.
        std::this_thread::sleep_for(std::chrono::milliseconds(4 * kClients));
      }
    });
  }
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pause(200, 1500);
  for (int k = 0; k < kStops; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    const int status = rig.Server().Stop(sig);
    EXPECT_EQ(status, sig == SIGKILL ? 128 + SIGKILL : 0) << "stop " << k;
    rig.Start();
  }
  clients.clear();
  const bool all = testsupport::WaitUntil(
      [&] {
        const auto got = rig.Delivered();
        for (const std::string& text : result.Accepted) {
          if (!got.contains(text)) return false;
        }
        return true;
      },
      180000, 200);
  const auto got = rig.Delivered();
  std::vector<std::string> missing;
  for (const std::string& text : result.Accepted) {
    if (!got.contains(text)) missing.push_back(text);
  }
  EXPECT_TRUE(all) << missing.size() << " accepted pages never arrived, the first "
                   << (missing.empty() ? "" : missing[0]);
  for (const auto& [text, n] : got) {
    if (n > 1) result.Duplicates += n - 1;
  }
  result.Resent = testsupport::CountInFile(rig.Dir().File("log.txt"), "resent after a restart");
  std::printf("accepted %zu of %d, delivered %zu texts, duplicates %d, pages resent after a restart %d\n",
              result.Accepted.size(), pages, got.size(), result.Duplicates, result.Resent);
  EXPECT_EQ(rig.Server().Stop(SIGTERM), 0);
  return result;
}

TEST(StoreCrash, KilledFiveTimesLosesNoAcceptedPageAndDuplicatesOnlyWhatWasOnTheLine) {
  CrashRig rig;
  const RunResult r = RunWithStops(rig, SIGKILL);
  EXPECT_GT(r.Accepted.size(), 0u);
  // A page arrives twice only when it was `sending` at a kill, and each of those was logged.
  EXPECT_LE(r.Duplicates, r.Resent);
}

TEST(StoreCrash, StoppedInOrderFiveTimesSendsNothingTwice) {
  CrashRig rig;
  const RunResult r = RunWithStops(rig, SIGTERM);
  EXPECT_GT(r.Accepted.size(), 0u);
  EXPECT_EQ(r.Duplicates, 0);
  EXPECT_EQ(r.Resent, 0);
  EXPECT_EQ(testsupport::CountInFile(rig.Dir().File("log.txt"), "Paging server ended successfully"), kStops + 1);
}

TEST(StoreServer, SecondServerInTheSameFolderExitsWithStatusOne) {
  servertest::Server first;
  first.Dir().Write("page.ini", servertest::StandardIni());
  first.Start();
  ASSERT_EQ(first.Page("Ann", "hello"), "OK");
  // A second corvd32 on another pipe path, in the same folder: the lock stops it before it
  // touches the store, the ports or the pipe.
  testsupport::ChildProcess second(testsupport::ProgramPath("corvd32"), {}, first.Dir().Path(),
                                   {{"CORVEL_PIPE", first.Dir().File("CORVD2")}});
  EXPECT_EQ(second.Wait(10000), 1) << second.Output();
  EXPECT_NE(second.Output().find("Another paging server is running in this folder (corvd32.lock is locked)"),
            std::string::npos)
      << second.Output();
  EXPECT_EQ(testsupport::CountInFile(first.Dir().File("log.txt"), "Paging server started successfully"), 1);
  EXPECT_FALSE(testsupport::FileExists(first.Dir().File("CORVD2")));
  EXPECT_EQ(first.Page("Bob", "still here"), "OK");  // the first one serves on
  EXPECT_EQ(first.Stop(SIGTERM), 0);
}

TEST(StoreServer, PipeThatCannotBeCreatedEndsTheServerWithStatusOne) {
  testsupport::TempDir dir;
  dir.Write("page.ini", servertest::StandardIni());
  dir.Write("blocker", "");  // a file where the pipe's folder should be
  testsupport::ChildProcess server(testsupport::ProgramPath("corvd32"), {}, dir.Path(),
                                   {{"CORVEL_PIPE", dir.File("blocker/CORVD")}});
  EXPECT_EQ(server.Wait(10000), 1) << server.Output();
  const std::string log = dir.Read("log.txt");
  EXPECT_NE(log.find("Error: Creat Pipe(ReceiveThread)"), std::string::npos) << log;
  EXPECT_EQ(log.find("started successfully"), std::string::npos) << log;
}

TEST(StoreServer, PageRecordFollowsAPageAndStatusOfPrintsIt) {
  servertest::Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start();
  ASSERT_EQ(server.Page("Ann", "hello\tthere"), "OK");
  common::RequestRecord head = servertest::Server::Head(common::kPageRecord);
  head.Minute = 1;
  const std::string reply = server.Request(head, "");
  EXPECT_EQ(reply.rfind("OK\nnumber=1\tstate=", 0), 0u) << reply;
  EXPECT_NE(reply.find("\tname=Ann\tpageid=1001\tsystem=Metro\t"), std::string::npos) << reply;
  head.Minute = 99;
  EXPECT_EQ(server.Request(head, ""), "ERR - Page not found");
  // The page's record survives a kill.
  EXPECT_EQ(server.Stop(SIGKILL), 128 + SIGKILL);
  server.Start();
  head.Minute = 1;
  EXPECT_EQ(server.Request(head, "").rfind("OK\nnumber=1\t", 0), 0u);
  EXPECT_EQ(server.Page("Bob", "after"), "OK");
  head.Minute = 2;  // numbering goes on after the stored pages
  EXPECT_NE(server.Request(head, "").find("name=Bob"), std::string::npos);
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

}  // namespace
