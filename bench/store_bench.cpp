// bench/store_bench.cpp - figures of the page store and of corvd32 around it, printed:
//   fsync     the raw rate of small synced writes on the file system of the scratch folder
//             (what one durable page costs at least), to set beside pipe_bench's figures;
//   commit    one caller's one-page commits straight into the page store (no pipe);
//   history   corvd32's resident memory and start-up time with 1,000,000 finished pages in
//             its store, against an empty store;
//   queue     corvd32's resident memory with QueueSize = 29999 (full Main queue ring);
//   idle      corvd32's CPU time over 30 s with empty queues and three ports.
// Usage: store_bench [fsync|commit|history|queue|idle]... (none: all). CORVD32 names another build
// of corvd32 to measure (the history figure needs a build with the page store).
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/log.h"
#include "common/request_record.h"
#include "core/sqlite_page_store.h"
#include "platform/pipe_endpoint.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ServerProgram() {
  const char* program = std::getenv("CORVD32");
  return program && *program ? program : testsupport::ProgramPath("corvd32");
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A field of /proc/PID/status in kB ("VmRSS").
long StatusKb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return -1;
}

// utime + stime of a process in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; rest >> field; ++i) {
    if (i == 14) utime = std::atol(field.c_str());
    if (i == 15) {
      stime = std::atol(field.c_str());
      break;
    }
  }
  return utime + stime;
}

std::string PersonsIni(const std::string& head, int ports) {
  std::string ini = head + "MaxReTrys = 0\nPagerSystemsSection\n";
  for (int p = 0; p < ports; ++p) {
    ini += "[S" + std::to_string(p) + "]\nPort = '/nonexistent/tty" + std::to_string(p) + "'\n";
  }
  ini += "NameSection\n";
  for (int i = 0; i < 120; ++i) {
    ini += "[Person" + std::to_string(i) + "]\nPageID = '" + std::to_string(1000 + i) +
           "'\nPagerType = Alphanumeric\nSystemName = 'S" + std::to_string(i % ports) + "'\n";
  }
  return ini;
}

struct Started {
  std::unique_ptr<testsupport::ChildProcess> Process;
  double StartMs = 0;
};

Started StartServer(const testsupport::TempDir& dir) {
  Started s;
  const auto start = Clock::now();
  s.Process = std::make_unique<testsupport::ChildProcess>(
      ServerProgram(), std::vector<std::string>{}, dir.Path(),
      std::map<std::string, std::string>{{"CORVEL_PIPE", dir.File("CORVD")}});
  testsupport::WaitForPipe(dir.File("CORVD"), 60000);
  s.StartMs = Ms(Clock::now() - start);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let every thread settle
  return s;
}

void Fsync() {
  testsupport::TempDir dir;
  const std::string path = dir.File("probe");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
  const std::string block(65536, 'x');
  (void)!::write(fd, block.data(), block.size());
  ::fsync(fd);
  const std::string small(100, 'y');
  constexpr int kSyncs = 2000;
  const auto start = Clock::now();
  for (int i = 0; i < kSyncs; ++i) {
    (void)!::pwrite(fd, small.data(), small.size(), static_cast<off_t>((i * 100) % 65536));
    ::fdatasync(fd);
  }
  const double ms = Ms(Clock::now() - start);
  ::close(fd);
  std::printf("fsync: %d small writes each followed by fdatasync in %s: %.0f per second, %.3f ms each\n", kSyncs,
              dir.Path().c_str(), kSyncs / (ms / 1000), ms / kSyncs);
}

// A page store of its own in dir (its log lines in bench.log there); null, said under what,
// when none can be had.
std::unique_ptr<core::SqlitePageStore> OpenStore(const testsupport::TempDir& dir, const char* what) {
  common::SetLogFileName(dir.File("bench.log"));
  std::unique_ptr<core::SqlitePageStore> store;
  core::StoreOpenResult opened;
  std::string cause;
  if (core::SqlitePageStore::Open(dir.File("pages.db"), store, opened, cause) != 0) {
    std::printf("%s: no store: %s\n", what, cause.c_str());
  }
  return store;
}

// One caller's commits of a one-page batch straight into the store, without the pipe: what
// the store adds to a sync.
void Commits() {
  testsupport::TempDir dir;
  auto store = OpenStore(dir, "commit");
  if (!store) return;
  std::string cause;
  constexpr int kCommits = 3000;
  const auto start = Clock::now();
  for (int i = 1; i <= kCommits; ++i) {
    core::StoreBatch batch;
    core::PageRecord r;
    r.Number = i;
    r.Name = "Person7";
    r.PageId = "1007";
    r.System = "Metro";
    r.Text = "Benchmark page, short enough for one piece";
    batch.Add.push_back(std::move(r));
    if (store->Commit(std::move(batch), cause) != 0) {
      std::printf("commit: failed: %s\n", cause.c_str());
      return;
    }
  }
  const double ms = Ms(Clock::now() - start);
  std::printf("commit: %d one-page commits by one caller: %.0f per second, %.3f ms each\n", kCommits,
              kCommits / (ms / 1000), ms / kCommits);
}

void History() {
  constexpr int kFinished = 1000000;
  testsupport::TempDir empty;
  empty.Write("page.ini", PersonsIni("", 1));
  Started bare = StartServer(empty);
  const long bareRss = StatusKb(bare.Process->Pid(), "VmRSS");
  bare.Process->Stop(SIGTERM, 20000);
  // The same start, again, so both are measured warm.
  bare = StartServer(empty);
  const double bareMs = bare.StartMs;
  bare.Process->Stop(SIGTERM, 20000);

  testsupport::TempDir full;
  full.Write("page.ini", PersonsIni("", 1));
  {
    auto store = OpenStore(full, "history");
    if (!store) return;
    std::string cause;
    const auto start = Clock::now();
    for (int first = 1; first <= kFinished; first += 10000) {
      core::StoreBatch batch;
      for (int n = first; n < first + 10000; ++n) {
        core::PageRecord r;
        r.Number = n;
        r.State = core::PageState::kSent;
        r.Name = "Person" + std::to_string(n % 120);
        r.PageId = std::to_string(1000 + n % 120);
        r.System = "S0";
        r.Text = "History page number " + std::to_string(n) + ", a line of ordinary length";
        r.Attempts = 1;
        r.Accepted = 1700000000 + n;
        r.Finished = 4102444800;  // far ahead, so the start-up purge keeps them all
        r.Result = "Message(#" + std::to_string(n) + ") sent to " + r.Name;
        batch.Add.push_back(std::move(r));
      }
      if (store->Commit(std::move(batch), cause) != 0) {
        std::printf("history: filling failed: %s\n", cause.c_str());
        return;
      }
    }
    store.reset();
    std::printf("history: %d finished pages written in %.1f s, store %.1f MB\n", kFinished,
                Ms(Clock::now() - start) / 1000,
                static_cast<double>(testsupport::ReadFile(full.File("pages.db")).size()) / 1e6);
  }
  Started loaded = StartServer(full);
  const long loadedRss = StatusKb(loaded.Process->Pid(), "VmRSS");
  loaded.Process->Stop(SIGTERM, 60000);
  loaded = StartServer(full);
  const double loadedMs = loaded.StartMs;
  loaded.Process->Stop(SIGTERM, 60000);
  std::printf("history: RSS %ld kB with an empty store, %ld kB with %d finished pages (+%.1f MB)\n", bareRss, loadedRss,
              kFinished, (loadedRss - bareRss) / 1024.0);
  std::printf("history: start-up until the pipe answers: %.0f ms empty, %.0f ms with the history\n", bareMs, loadedMs);
}

void Queue() {
  testsupport::TempDir dir;
  dir.Write("page.ini", PersonsIni("QueueSize = 29999\n", 1));
  Started s = StartServer(dir);
  const long emptyRss = StatusKb(s.Process->Pid(), "VmRSS");
  // Fill the Main queue (the port cannot be opened, so the pages stay).
  std::vector<std::jthread> clients;
  std::atomic<int> accepted{0};
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      std::vector<char> reply(100);
      for (int i = c; i < 29000; i += 8) {
        common::RequestRecord head{};
        const auto request =
            common::BuildRequest(head, "Person" + std::to_string(i % 120),
                                 "A page of some sixty characters to fill the queue, " + std::to_string(i));
        if (platform::PipeTransact(dir.File("CORVD"), request, reply, 10000) >= 2 && reply[0] == 'O') ++accepted;
      }
    });
  }
  clients.clear();
  std::printf("queue: %d pages accepted\n", accepted.load());
  const long fullRss = StatusKb(s.Process->Pid(), "VmRSS");
  std::printf("queue: QueueSize = 29999: RSS %ld kB with the queue empty, %ld kB with 29000 pages in it\n", emptyRss,
              fullRss);
  s.Process->Stop(SIGTERM, 60000);
}

void Idle() {
  testsupport::TempDir dir;
  dir.Write("page.ini", PersonsIni("", 3));
  Started s = StartServer(dir);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const long before = CpuTicks(s.Process->Pid());
  std::this_thread::sleep_for(std::chrono::seconds(30));
  const long after = CpuTicks(s.Process->Pid());
  const long hz = ::sysconf(_SC_CLK_TCK);
  std::printf("idle: three ports, empty queues: %ld ticks of CPU (1/%ld s) in 30 s = %.3f%% of a core\n",
              after - before, hz, 100.0 * static_cast<double>(after - before) / static_cast<double>(hz) / 30.0);
  s.Process->Stop(SIGTERM, 20000);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> what(argv + 1, argv + argc);
  if (what.empty()) what = {"fsync", "history", "queue", "idle"};
  std::printf("corvd32 measured: %s\n", ServerProgram().c_str());
  for (const std::string& w : what) {
    if (w == "fsync") Fsync();
    if (w == "commit") Commits();
    if (w == "history") History();
    if (w == "queue") Queue();
    if (w == "idle") Idle();
  }
  return 0;
}
