// delivery/script_fuzz.cpp - libFuzzer target: any bytes as a dialogue script file, read as
// the dial thread reads one before a page, and each of its send lines expanded for a page.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "delivery/script.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  delivery::Script script;
  const int result = delivery::ParseScript(text, script);
  Check(result == delivery::kScriptLoaded || result == delivery::kScriptTooLong);
  Check(script.Pairs.size() <= delivery::kMaxScriptPairs);
  if (result == delivery::kScriptTooLong) Check(script.Pairs.empty());
  for (const delivery::ScriptPair& pair : script.Pairs) {
    Check(pair.Send.size() < delivery::kScriptLineSize && pair.Expect.size() < delivery::kScriptLineSize);
    const delivery::ExpandedLine line = delivery::ExpandScriptLine(pair.Send, "1234", "hello", "5551234");
    for (const delivery::ScriptStep& step : line.Steps) Check(step.PauseMs >= 0);
  }
  (void)delivery::ConvertScriptExpectedText(text);
  return 0;
}
