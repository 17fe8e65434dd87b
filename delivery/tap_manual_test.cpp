// delivery/tap_manual_test.cpp - the lines TAP manual mode answers the terminal's prompts with.
#include "delivery/tap_manual.h"

#include <gtest/gtest.h>

namespace delivery {
namespace {

TEST(TapManualLines, IdAndMessageEndWithCr) {
  EXPECT_EQ(TapManualIdLine("1234567"), "1234567\r");
  EXPECT_EQ(TapManualMessageLine("Call home", false), "Call home\r");
}

TEST(TapManualLines, MessageUsesTheTapCharacterMapOnlyForCp850) {
  // The TAP map, not the UCP one: 0x81 becomes "}" (UCP would send 0x7E).
  EXPECT_EQ(TapManualMessageLine("\x81"
                                 "ber",
                                 true),
            "}ber\r");
  EXPECT_EQ(TapManualMessageLine("\x81"
                                 "ber",
                                 false),
            "\x81"
            "ber\r");
}

}  // namespace
}  // namespace delivery
