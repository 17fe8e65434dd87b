// tools/corvsim/numeric_session.cpp - plays a numeric page on the simulator's line.
#include "tools/corvsim/numeric_session.h"

#include <chrono>

#include "tools/corvsim/endpoint_loop.h"
#include "tools/corvsim/numeric_endpoint.h"

namespace corvsim {

bool RunNumericPager(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  const std::string dialled = NumericDialled(call.Dialled);
  const auto start = std::chrono::steady_clock::now();
  const int64_t limitMs = NumericPlayMs(dialled) + number.GetInt("carrier_ms", 60000);
  const bool key = line.InputWithin(static_cast<int>(limitMs));
  const int64_t elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  const bool closed = line.TakeHangup();
  const char* reason = closed ? "port-closed" : key ? "key" : "no-carrier";
  line.Record(TagRecord(NumericRecord(dialled, elapsedMs), call) + " reason=" + reason);
  if (closed) return true;
  line.ClearInput();
  line.Write("\r\nNO CARRIER\r\n");
  return false;
}

}  // namespace corvsim
