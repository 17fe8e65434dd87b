// bench/snpp_bench.cpp - pages accepted per second over SNPP, and what idle connections cost.
//
// corvnet32 runs as its own process in a scratch folder, in front of a stand-in paging server
// that answers every page "OK" at once, so the figures are those of the SNPP side: TCP, line
// assembly, the commands and one pipe request per page. Run: build/bin/snpp_bench.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp.h"
#include "tests/support/fake_paging_server.h"
#include "tests/support/process.h"

namespace {

constexpr int kWaitMs = 10000;

struct Rig {
  Rig() {
    pipe = std::make_unique<testsupport::FakePagingServer>(dir.File("pipe"), nullptr, 10);
    port = testsupport::FreeTcpPort();
    dir.Write("SNPP.INI", "TcpPort=" + std::to_string(port) + "\n");
    server = std::make_unique<testsupport::ChildProcess>(
        testsupport::ProgramPath("corvnet32"), std::vector<std::string>{}, dir.Path(),
        std::map<std::string, std::string>{{"CORVEL_PIPE", dir.File("pipe")}});
    ready = testsupport::WaitForFileText(dir.File("log.txt"), "Server started successfully", kWaitMs);
  }
  testsupport::TempDir dir;
  std::unique_ptr<testsupport::FakePagingServer> pipe;
  std::unique_ptr<testsupport::ChildProcess> server;
  uint16_t port = 0;
  bool ready = false;
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

// Reads until the reply line (CR LF) is complete; false on a closed or silent peer.
bool ReadReply(const platform::UniqueFd& fd, std::string& pending, std::string& line) {
  for (;;) {
    const size_t end = pending.find("\r\n");
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 2);
      return true;
    }
    char buf[512];
    const int n = platform::TcpReceive(fd, buf, kWaitMs);
    if (n <= 0) return false;
    pending.append(buf, static_cast<size_t>(n));
  }
}

bool Step(const platform::UniqueFd& fd, std::string& pending, const std::string& command, const char* expect) {
  std::string line;
  if (!command.empty() && platform::TcpSendAll(fd, command) != 0) return false;
  return ReadReply(fd, pending, line) && line.rfind(expect, 0) == 0;
}

// One client's page: connect, PAGE, MESS, SEND, QUIT, each answered before the next.
bool OnePage(uint16_t port, int id) {
  platform::UniqueFd fd;
  if (platform::TcpConnect("127.0.0.1", port, kWaitMs, fd) != 0) return false;
  std::string pending;
  return Step(fd, pending, "", "220") && Step(fd, pending, "PAGE " + std::to_string(id) + "\r\n", "250") &&
         Step(fd, pending, "MESS Benchmark page, a typical short text\r\n", "250") &&
         Step(fd, pending, "SEND\r\n", "250 Message Sent OK") && Step(fd, pending, "QUIT\r\n", "221");
}

void BM_PagesPerSecond(benchmark::State& state) {
  Rig& rig = TheRig();
  if (!rig.ready) {
    state.SkipWithError("corvnet32 did not start");
    return;
  }
  int failures = 0;
  int id = static_cast<int>(state.thread_index()) * 1000000;
  for (auto _ : state) {
    if (!OnePage(rig.port, ++id)) ++failures;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["failures"] = failures;
}
BENCHMARK(BM_PagesPerSecond)->Threads(1)->Threads(16)->UseRealTime()->MinTime(3.0);

long ProcKb(int pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

// User plus system CPU time of the process, in clock ticks.
long CpuTicks(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

void BM_IdleConnections(benchmark::State& state) {
  Rig& rig = TheRig();
  if (!rig.ready) {
    state.SkipWithError("corvnet32 did not start");
    return;
  }
  const int pid = rig.server->Pid();
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = ProcKb(pid, "VmRSS");
    std::vector<platform::UniqueFd> held(static_cast<size_t>(count));
    int greeted = 0;
    for (auto& fd : held) {
      std::string pending;
      if (platform::TcpConnect("127.0.0.1", rig.port, kWaitMs, fd) == 0 && Step(fd, pending, "", "220")) ++greeted;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long rss = ProcKb(pid, "VmRSS");
    const long cpuBefore = CpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long cpuIdle = CpuTicks(pid) - cpuBefore;
    state.counters["connections"] = greeted;
    state.counters["rss_kb_before"] = static_cast<double>(before);
    state.counters["rss_kb_held"] = static_cast<double>(rss);
    state.counters["kb_per_conn"] = greeted > 0 ? static_cast<double>(rss - before) / greeted : 0.0;
    state.counters["threads"] = static_cast<double>(ProcKb(pid, "Threads"));
    state.counters["vsz_kb_held"] = static_cast<double>(ProcKb(pid, "VmSize"));
    state.counters["cpu_ticks_3s_idle"] = static_cast<double>(cpuIdle);
  }
}
BENCHMARK(BM_IdleConnections)->Arg(150)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
