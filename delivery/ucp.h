// delivery/ucp.h - UCP operation 30 (alphanumeric short message) over a dial-up modem.
//
// The pure half builds the frame the paging centre expects and reads its result frame;
// DeliverUcp places one call per page, sends one frame and waits 15 s for the result. A
// positive result sends the page; a negative one is the centre refusing it for good (lost
// with the line "Error - System rejected pager"); silence or a broken result is the line
// failing, so the page stays at the head for the dial thread's retry policy.
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

// What the centre answered to operation 30.
enum class UcpAnswer {
  kPositive,  // "R/30/A"
  kNegative,  // "R/30/N": the message is refused
  kNone,      // no well-formed result: wrong checksum or length, another operation, garbage
};

// Reads a result frame's bytes between STX and ETX: TRN/LEN/R/30/A or N/.../ and two
// checksum digits, LEN counting from TRN through the checksum. Pure.
UcpAnswer ClassifyUcpResult(std::string_view betweenStxAndEtx);

// The one-page call: dials (always), waits 40 s for CONNECT, takes the head page, sends
// its frame and waits 15 s for the result frame. 0 acknowledged (or the queue was empty);
// 1 no connection, port failure, silence or a broken result (page kept, the round failed),
// or a negative result (page lost, logged).
[[nodiscard]] int DeliverUcp(DialWork& work);

}  // namespace delivery
