// bench/pipe_bench.cpp - requests per second through the real pipe of a running corvd32.
//
// Starts build/bin/corvd32 in a scratch folder (page.ini with 120 persons and a Main queue
// of 29999 entries), then sends list requests and page requests from 1 and 4 client
// threads. Each request is one whole transaction: connect, send, receive, close.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "common/request_record.h"
#include "platform/pipe_endpoint.h"
#include "tests/support/process.h"

namespace {

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
    Server = std::make_unique<testsupport::ChildProcess>(testsupport::ProgramPath("corvd32"),
                                                         std::vector<std::string>{}, Dir.Path(),
                                                         std::map<std::string, std::string>{{"CORVEL_PIPE", Pipe}});
    testsupport::WaitForPipe(Pipe, 10000);
  }
};

RunningServer& Server() {
  static RunningServer server;
  return server;
}

void Transact(benchmark::State& state, const std::vector<char>& request) {
  const std::string& pipe = Server().Pipe;
  std::array<char, 20000> reply{};
  int64_t failed = 0;
  for (auto _ : state) {
    const int n = platform::PipeTransact(pipe, request, reply, 10000);
    if (n < 2 || reply[0] != 'O' || reply[1] != 'K') ++failed;
    benchmark::DoNotOptimize(n);
  }
  state.counters["failed"] = benchmark::Counter(static_cast<double>(failed), benchmark::Counter::kAvgThreads);
  state.SetItemsProcessed(state.iterations());
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

}  // namespace

BENCHMARK(BM_ListPersons)->Threads(1)->Threads(4)->UseRealTime();
// 29998 pages fit the Main queue; the run stays below that so every page is accepted.
BENCHMARK(BM_PageRequest)->Threads(1)->Threads(4)->Iterations(3000)->UseRealTime();

BENCHMARK_MAIN();
