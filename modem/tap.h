// modem/tap.h - TAP (Telocator Alphanumeric Protocol) block mode, the default protocol.
//
// DeliverTap places one call, logs on, sends the pages queued for the system as one block
// each and reads the terminal's verdict on every block, then logs off. A page leaves the
// queue when the terminal answered its block with ACK (sent) or RS (refused for good), or
// after the sixth failure in a row; a block answered NAK, not answered within 10 s, or
// answered by the terminal ending the session (ESC EOT) stays at the head for a retry.
#pragma once

#include <string>
#include <string_view>

#include "modem/delivery.h"

namespace modem {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEsc = 0x1B;
constexpr char kRs = 0x1E;
constexpr char kCr = 0x0D;

// The TAP character map of code page 850 letters to the 7-bit national replacements
// (0x84/0x91 -> '{', 0x81/0x86 -> '}', ...); every other byte is returned unchanged.
unsigned char Cp850ToTap(unsigned char byte);
// The message with Cp850ToTap applied when cp850, unchanged otherwise.
std::string MapTapMessage(std::string_view message, bool cp850);

// The three checksum characters of the bytes STX..ETX: the sum of their 7-bit values, low
// 12 bits, as '0' plus each 4-bit digit. The terminal on a 7-bit line sees only the low
// seven bits of each byte, so that is what it sums.
std::string TapChecksum(std::string_view stxToEtx);

// The whole block: STX, pager ID, CR, message, CR, ETX, the checksum characters, CR.
std::string TapBlock(std::string_view pagerId, std::string_view mappedMessage);

// Verdict results of TapReadVerdict.
constexpr int kVerdictDone = 0;          // accepted, or refused for good (page removed)
constexpr int kVerdictRetry = 1;         // refused with NAK or no verdict in time (page stays)
constexpr int kVerdictDisconnected = 2;  // the terminal ended the session (page stays)

// What a byte of the terminal's answer to a block means: ACK, NAK, RS or ESC, or 0 for the
// message text terminals send before their verdict.
char VerdictByte(char byte);

// Logs on: CR until "ID=" (2 s each), then ESC PG1 password CR once, ACK within 10 s and the
// go-ahead ESC [ p CR within 10 s; whatever else the terminal said is drained before the
// first block. Up to 7 tries. 0 logged on, 1 not.
[[nodiscard]] int TapLogon(ComPort* port, std::string_view password);

// Reads the verdict on the block just sent for work.Current, skipping message text, until
// ACK, NAK, RS or ESC, or 10 s without a byte. Logs, counts and removes the page as the
// verdict says. kVerdictDone, kVerdictRetry or kVerdictDisconnected.
[[nodiscard]] int TapReadVerdict(DialWork& work);

}  // namespace modem
