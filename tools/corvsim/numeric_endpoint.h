// tools/corvsim/numeric_endpoint.h - a numeric pager reached by touch tones.
//
// The simulated modem plays the dial string at a real modem's pace: 2 s for each comma,
// 0.2 s for each other dialled character. Any byte from the computer while it plays
// abandons the call (the hang-up); the record says which part of the string was played
// by then, so a test sees digits cut off by an early hang-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvsim {

constexpr int64_t kNumericCommaMs = 2000;
constexpr int64_t kNumericToneMs = 200;

// The dialled characters of an ATDT command ("ATDT 9,555,,12\r" gives "9,555,,12").
std::string NumericDialled(std::string_view command);

// Milliseconds the modem needs to play all of dialled.
int64_t NumericPlayMs(std::string_view dialled);

// The leading part of dialled that has been played completely after elapsedMs.
std::string NumericPlayedBy(std::string_view dialled, int64_t elapsedMs);

// The record line for one numeric call that was hung up after elapsedMs.
std::string NumericRecord(std::string_view dialled, int64_t elapsedMs);

}  // namespace corvsim
