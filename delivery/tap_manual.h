// delivery/tap_manual.h - TAP manual mode: the terminal's interactive dialogue for a person
// at a keyboard, answered with plain lines, one page after the other.
//
// After the connection: the greeting (a CR within 20 s), up to two "M" lines until a
// prompt ending in RETURN, then per page the pager ID, its message prompt, the message.
// A page leaves the queue after the pager-ID prompt was seen, before its ID is sent; a
// page whose message prompt does not come is lost with "Error - Pager message prompt not
// seen". Several pages for the same system go out in one call.
#pragma once

#include <string>
#include <string_view>

#include "delivery/byte_stream.h"
#include "delivery/delivery.h"

namespace delivery {

constexpr int kTapManualGreetingSec = 20;  // the terminal's first line after CONNECT
constexpr int kTapManualModeSec = 3;       // its prompt after each "M"
constexpr int kTapManualModeTries = 2;
constexpr int kTapManualPromptSec = 10;  // its prompt after a pager ID (and after a message)

// The line that answers the pager-ID prompt: the pager ID and CR.
std::string TapManualIdLine(std::string_view pagerId);

// The line that answers the message prompt: the message with the TAP character map
// applied when cp850, and CR.
std::string TapManualMessageLine(std::string_view message, bool cp850);

// Sends the pages queued for the head page's system in manual mode. 0 when they were sent
// (or the next page is for another system), 1 when a prompt did not come (the port
// failure included), otherwise the modem result that prevented the connection.
[[nodiscard]] int DeliverTapManual(DialWork& work);

// The manual-mode dialogue on a connected stream (a modem call or a socket), from the
// greeting to the last page; the caller closes. Same results as DeliverTapManual.
[[nodiscard]] int TapManualConversation(DialWork& work, ByteStream& stream);

}  // namespace delivery
