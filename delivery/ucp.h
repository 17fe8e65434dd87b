// delivery/ucp.h - UCP operation 30 (alphanumeric short message) over a dial-up modem.
//
// The pure half builds the frame the paging centre expects; DeliverUcp places one call
// per page, sends one frame and takes "/A/" within 15 s as the centre's acceptance.
// The page leaves the queue after the modem reported CONNECT; a rejected page is lost
// with the line "Error - System rejected pager".
#pragma once

#include <string>
#include <string_view>

#include "delivery/delivery.h"

namespace delivery {

// The decimal digits of text, in order (AdC keeps nothing else of a pager ID).
std::string DigitsOnly(std::string_view text);

// The UCP replacement of one CP850 byte (national letters to the UCP alphabet); every
// byte outside the map is returned unchanged.
unsigned char UcpMapCp850(unsigned char byte);

// Each byte of message (mapped first when cp850) as two upper-case hexadecimal digits.
std::string HexEncodeMessage(std::string_view message, bool cp850);

// Sum of the unsigned byte values of text; the frame carries it modulo 256.
unsigned UcpChecksum(std::string_view text);

// The text from TRN through the final "/": 00/LEN/O/30/AdC///1//0139////AMsg/ with LEN
// the character count from TRN through the two checksum digits.
std::string BuildUcpText(std::string_view pagerId, std::string_view message, bool cp850);

// The whole frame, written in one piece: STX, the text, two checksum digits, ETX.
std::string BuildUcpFrame(std::string_view pagerId, std::string_view message, bool cp850);

// The one-page call: dials (always), waits 40 s for CONNECT, takes the head page, sends
// its frame and waits 15 s for "/A/". 0 acknowledged (or the queue was empty), 1 no
// connection (page kept), port failure (page kept) or rejection (page lost, logged).
[[nodiscard]] int DeliverUcp(DialWork& work);

}  // namespace delivery
