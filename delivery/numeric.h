// delivery/numeric.h - numeric paging: the modem dials and plays the pager ID and the digits
// of the message as touch tones; nothing is read back.
//
// The page leaves the queue once the port is open (before the dial string goes out); a
// call that cannot open its port keeps the page for the dial thread's retry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "delivery/delivery.h"

namespace delivery {

// Longest tone string a page plays.
constexpr size_t kMaxToneDigits = 99;

// The message reduced to 0-9, "*" and "#", in order, cut to kMaxToneDigits.
std::string NumericToneString(std::string_view message);

// The dial command: "ATDT [prefix,][number,,]pagerId,,[,,,]tones\r" in the four forms of
// prefix present or not and system number present or not.
std::string NumericDialString(std::string_view prefix, std::string_view number, std::string_view pagerId,
                              std::string_view tones);

// How long the call stays up before the CR hangs up: at least 20 s, and as long as a
// modem needs to play dialString (2 s per comma, 0.2 s per other dialled character) plus
// 5 s, so no digit is cut off.
int64_t NumericWaitMs(std::string_view dialString);

// Pages the head page's recipient numerically, on the line settings, init string and
// number of work.System() (the system resolved for that recipient, whatever its
// SystemType). 0 after the dial sequence; 1 when the queue was empty or the port could not
// be opened (the page then stays queued).
[[nodiscard]] int DeliverNumeric(DialWork& work);

}  // namespace delivery
