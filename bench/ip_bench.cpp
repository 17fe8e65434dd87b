// bench/ip_bench.cpp - pages per second to a local WCTP carrier (HTTP) and to a local TAP
// terminal over TCP, with 1 and 4 connections side by side, at the delivery client's layer:
// the WCTP client (document, libcurl POST, reply) and the TAP byte stream (block, verdict)
// against corvsim's carrier and terminal, in-process on 127.0.0.1. Run by hand:
//   build/bin/ip_bench
// "items_per_second" is pages per second, over all threads (real time).
#include <benchmark/benchmark.h>

#include <memory>
#include <mutex>

#include "delivery/byte_stream.h"
#include "delivery/tap.h"
#include "delivery/wctp_http.h"
#include "tests/support/process.h"
#include "tools/corvsim/tap_listener.h"
#include "tools/corvsim/wctp_carrier.h"

namespace {

struct Carriers {
  testsupport::TempDir Dir;
  std::unique_ptr<corvsim::Recorder> Record;
  std::unique_ptr<corvsim::WctpCarrier> Wctp;
  std::unique_ptr<corvsim::TapListener> Tap;
  Carriers() {
    Record = std::make_unique<corvsim::Recorder>(Dir.File("record.txt"));
    corvsim::SectionConfig wctp;
    wctp.Options["port"] = "0";
    Wctp = std::make_unique<corvsim::WctpCarrier>(wctp, *Record);
    corvsim::SectionConfig tap;
    tap.Options["port"] = "0";
    tap.Options["password"] = "PW";
    Tap = std::make_unique<corvsim::TapListener>(tap, *Record);
    std::string error;
    if (Wctp->Start(error) != 0 || Tap->Start(error) != 0) std::fprintf(stderr, "ip_bench: %s\n", error.c_str());
  }
};

Carriers& Local() {
  static Carriers carriers;
  return carriers;
}

void BM_WctpSubmit(benchmark::State& state) {
  delivery::WctpEndpoint endpoint;
  endpoint.Url = "http://127.0.0.1:" + std::to_string(Local().Wctp->Port()) + "/wctp";
  delivery::WctpSubmit page;
  page.SenderID = "corvel";
  page.RecipientID = "5551234";
  page.Text = "Disk almost full on db1 (92%), please check the backups tonight";
  uint64_t key = static_cast<uint64_t>(state.thread_index()) << 32;
  for (auto _ : state) {
    page.MessageID = delivery::WctpMessageId("bench", ++key, 0);
    if (delivery::SubmitWctpPage(endpoint, page).Verdict != delivery::WctpVerdict::kAccepted) {
      state.SkipWithError("page not accepted");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WctpSubmit)->Threads(1)->Threads(4)->UseRealTime();

bool Logon(delivery::ByteStream& s) {
  if (s.Write("\r") != 0 || delivery::WaitForStreamText(s, "ID=", 2) != 0) return false;
  (void)s.Write(std::string(1, delivery::kEsc) + "PG1PW\r");
  if (delivery::WaitForStreamText(s, std::string(1, delivery::kAck), 10) != 0) return false;
  return delivery::WaitForStreamText(s, std::string(1, delivery::kEsc) + "[p\r", 10) == 0;
}

void BM_TapOverTcp(benchmark::State& state) {
  delivery::SocketStream stream;
  if (stream.Open("127.0.0.1", Local().Tap->Port(), {}, 5000) != 0 || !Logon(stream)) {
    state.SkipWithError("no session");
    return;
  }
  const std::string block = delivery::TapBlock("5551234", "Disk almost full on db1 (92%), please check the backups");
  for (auto _ : state) {
    (void)stream.Write(block);
    delivery::TapReply reply;
    while (reply.Verdict == 0) {
      const int byte = stream.ReadByte(10000);
      if (byte < 0) break;
      const char c = static_cast<char>(byte);
      delivery::JudgeTapReply(std::string_view(&c, 1), reply);
    }
    (void)stream.ReadByte(1000);  // the CR after the verdict
    if (reply.Verdict != delivery::kAck) {
      state.SkipWithError("block not accepted");
      break;
    }
  }
  (void)stream.Write(std::string(1, delivery::kEot) + "\r");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TapOverTcp)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
