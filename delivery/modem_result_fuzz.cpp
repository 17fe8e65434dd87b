// delivery/modem_result_fuzz.cpp - libFuzzer target: any bytes as a modem's result line,
// and as the expected texts and dial numbers page.ini and scripts give. A line names a
// result code or none, and every code has its name.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "delivery/com_port.h"
#include "delivery/modem_control.h"
#include "delivery/numeric.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const int code = delivery::ClassifyModemLine(line);
  Check(code == -1 || (code >= 0 && code <= delivery::kResultNoAnswer));
  Check(std::strcmp(delivery::ModemResultName(code), "") != 0);
  // A line without a result word in it names none.
  for (const char* word : {"OK", "CONNECT", "RING", "NO CARRIER", "ERROR", "NO DIALTONE", "BUSY", "NO ANSWER"}) {
    if (line.find(word) != std::string_view::npos) Check(code != -1);
  }
  Check(delivery::CaretConvert(line).size() <= 100);
  const size_t half = size / 2;
  (void)delivery::DialCommand(line.substr(0, half), line.substr(half));
  const std::string tones = delivery::NumericToneString(line);
  (void)delivery::NumericWaitMs(delivery::NumericDialString("", line.substr(0, half), line.substr(half), line));
  (void)tones;
  return 0;
}
