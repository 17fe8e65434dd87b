// bench/pipe_bench.cpp - requests per second through the real pipe of a running corvd32.
//
// Starts corvd32 (build/bin/corvd32, or the program CORVD32 names, so an older build can be
// measured side by side) in a scratch folder under /tmp (page.ini with 120 persons and a
// Main queue of 29999 entries; the page store lies there too), then sends list requests and
// page requests from 1, 4 and 16 client threads. Each request is one whole transaction: connect, send, receive, close.
// A page request is answered "OK" only once the page is on disk in the page store, so the
// page figures are durable pages per second; p50 and p99 are each request's latency.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/request_record.h"
#include "platform/pipe_endpoint.h"
#include "tests/support/process.h"

namespace {

std::string ServerProgram() {
  const char* program = std::getenv("CORVD32");
  return program && *program ? program : testsupport::ProgramPath("corvd32");
}

struct RunningServer {
  testsupport::TempDir Dir;
  std::string Pipe = Dir.File("CORVD");
  std::unique_ptr<testsupport::ChildProcess> Server;

  RunningServer() {
    // A port path where no device lives: its dial thread fails to open it and keeps the pages.
    std::string ini =
        "QueueSize = 29999\nMaxReTrys = 0\nPagerSystemsSection\n[Metro]\nPort = '/nonexistent/tty1'\nNameSection\n";
    for (int i = 0; i < 120; ++i) {
      ini += "[Person" + std::to_string(i) + "]\nPageID = '" + std::to_string(1000 + i) +
             "'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n";
    }
    Dir.Write("page.ini", ini);
    Server = std::make_unique<testsupport::ChildProcess>(ServerProgram(), std::vector<std::string>{}, Dir.Path(),
                                                         std::map<std::string, std::string>{{"CORVEL_PIPE", Pipe}});
    testsupport::WaitForPipe(Pipe, 10000);
  }
};

// One server per benchmark run, so each run starts with an empty Main queue (29998 pages
// fit; every run stays below that).
std::unique_ptr<RunningServer> gServer;
std::mutex gServerMutex;

RunningServer& Server() {
  std::lock_guard<std::mutex> hold(gServerMutex);
  if (!gServer) gServer = std::make_unique<RunningServer>();
  return *gServer;
}

void FreshServer() {
  std::lock_guard<std::mutex> hold(gServerMutex);
  gServer.reset();
  gServer = std::make_unique<RunningServer>();
}

// Latencies of every thread of one run, for its percentiles.
std::mutex gLatencyMutex;
std::vector<double> gLatencyUs;

void Transact(benchmark::State& state, const std::vector<char>& request) {
  const std::string pipe = Server().Pipe;
  std::array<char, 20000> reply{};
  int64_t failed = 0;
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int n = platform::PipeTransact(pipe, request, reply, 10000);
    latencies.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    if (n < 2 || reply[0] != 'O' || reply[1] != 'K') ++failed;
    benchmark::DoNotOptimize(n);
  }
  state.counters["failed"] = benchmark::Counter(static_cast<double>(failed), benchmark::Counter::kAvgThreads);
  state.SetItemsProcessed(state.iterations());
  {
    std::lock_guard<std::mutex> hold(gLatencyMutex);
    gLatencyUs.insert(gLatencyUs.end(), latencies.begin(), latencies.end());
  }
  // The threads meet again after the loop; the first one then reports for all of them.
  if (state.thread_index() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard<std::mutex> hold(gLatencyMutex);
    std::vector<double> all = gLatencyUs;
    std::sort(all.begin(), all.end());
    if (!all.empty()) {
      state.counters["p50_us"] = all[all.size() / 2];
      state.counters["p99_us"] = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    }
  }
}

void BM_ListPersons(benchmark::State& state) {
  common::RequestRecord head{};
  head.RequestType = common::kListPersons;
  head.Parameter = 1;
  Transact(state, common::BuildRequest(head, "", ""));
}

void BM_PageRequest(benchmark::State& state) {
  common::RequestRecord head{};
  head.RequestType = common::kPageRequest;
  Transact(state, common::BuildRequest(head, "Person7", "Benchmark page, short enough for one piece"));
}

// Each page run begins on a fresh server with an empty queue and store.
void FreshRun(const benchmark::State&) {
  FreshServer();
  std::lock_guard<std::mutex> hold(gLatencyMutex);
  gLatencyUs.clear();
}

void ClearLatencies(const benchmark::State&) {
  std::lock_guard<std::mutex> hold(gLatencyMutex);
  gLatencyUs.clear();
}

}  // namespace

BENCHMARK(BM_ListPersons)->Setup(ClearLatencies)->Threads(1)->Threads(4)->Threads(16)->UseRealTime();
// Iterations are per thread: 3000, 4 x 2000 and 16 x 1500 pages, each run below the 29998
// that fit the Main queue.
BENCHMARK(BM_PageRequest)->Setup(FreshRun)->Threads(1)->Iterations(3000)->UseRealTime();
BENCHMARK(BM_PageRequest)->Setup(FreshRun)->Threads(4)->Iterations(2000)->UseRealTime();
BENCHMARK(BM_PageRequest)->Setup(FreshRun)->Threads(16)->Iterations(1500)->UseRealTime();

BENCHMARK_MAIN();
