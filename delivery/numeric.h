// delivery/numeric.h - numeric paging: the modem dials and plays the pager ID and the digits
// of the message as touch tones; the pager answers nothing.
//
// The page leaves the queue after the call: played (the modem stayed silent), or kept for
// the dial thread's retry when the port could not be opened or the modem reported that the
// call failed (BUSY, NO DIALTONE, NO ANSWER, NO CARRIER, ERROR).
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

// How long a modem needs to dial and play dialString: 2 s per comma, 0.2 s per other
// dialled character.
int64_t NumericPlayMs(std::string_view dialString);

// How long the call stays up before the CR hangs up: at least 20 s, and the play time of
// dialString plus 5 s, so no digit is cut off.
int64_t NumericWaitMs(std::string_view dialString);

// Longest modem line kept while watching a call; the rest of a longer line is dropped.
constexpr size_t kModemLineMax = 70;

// Watches the modem for limitMs while it plays the dial string. The result code of the
// first line within reportMs saying the call failed (BUSY, NO DIALTONE, NO ANSWER, NO
// CARRIER, ERROR), or -1 when none came then (the modem's echo, other lines and anything
// later are passed over).
int WatchNumericCall(ComPort* port, int64_t reportMs, int64_t limitMs);

// Pages the head page's recipient numerically, on the line settings, init string and
// number of work.System() (the system resolved for that recipient, whatever its
// SystemType). 0 after the dial sequence; 1 when the queue was empty, the port could not
// be opened or the modem reported a failed call (the page then stays queued, logged with
// the modem's words).
[[nodiscard]] int DeliverNumeric(DialWork& work);

}  // namespace delivery
