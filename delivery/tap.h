// delivery/tap.h - TAP (Telocator Alphanumeric Protocol) block mode, the default protocol.
//
// DeliverTap places one call, logs on, sends the pages queued for the system as one block
// each and reads the terminal's verdict on every block, then logs off. A page leaves the
// queue when the terminal answered its block with ACK (sent) or RS (refused for good), or
// after kMaxFailedBlocksInARow failures in a row; a block answered NAK, not answered within
// 10 s, or answered by the terminal ending the session (ESC EOT) stays at the head for a
// retry.
#pragma once

#include <string>
#include <string_view>

#include "delivery/byte_stream.h"
#include "delivery/delivery.h"

namespace delivery {

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

// A page leaves the queue after this many failed blocks in a row (NAK, no verdict, or the
// terminal ending the session), so one page the terminal will not take cannot hold the
// pages behind it for ever.
constexpr int kMaxFailedBlocksInARow = 6;

// What a byte of the terminal's answer to a block means: ACK, NAK, RS or ESC, or 0 for the
// message text terminals send before their verdict.
char VerdictByte(char byte);

// The terminal's answer to a block, judged as it arrives.
struct TapReply {
  char Verdict = 0;  // ACK, NAK, RS or ESC once one came; 0 while none has
  std::string Text;  // printable text before the verdict, for the trace (at most 200 bytes)
};

// Judges bytes that arrived after a block, continuing reply: skips text until the first
// verdict byte, which ends the wait. Returns how many bytes of arrived it used (through the
// verdict byte; the rest, such as the EOT after ESC, is not part of the verdict). Feeding
// the bytes in any number of arrivals judges the same as feeding them at once, and bytes
// after the verdict are never used.
size_t JudgeTapReply(std::string_view arrived, TapReply& reply);

// Logs on: CR until "ID=" (2 s each), then ESC PG1 password CR once, ACK within 10 s and the
// go-ahead ESC [ p CR within 10 s; whatever else the terminal said is drained before the
// first block. Up to 7 tries. 0 logged on, 1 not.
[[nodiscard]] int TapLogon(ByteStream& stream, std::string_view password);
[[nodiscard]] int TapLogon(ComPort* port, std::string_view password);

// Reads the terminal's answer to the block just sent for work.Current and judges it with
// JudgeTapReply, until a verdict byte, 10 s without a byte, or 60 s in all. Logs, counts and
// removes the page as the verdict says. kVerdictDone, kVerdictRetry or kVerdictDisconnected.
[[nodiscard]] int TapReadVerdict(DialWork& work, ByteStream& stream);
[[nodiscard]] int TapReadVerdict(DialWork& work);  // on the call's serial port

// TapConversation's result when the log-on failed (the caller logs it, after its close).
constexpr int kTapLogonFailed = kDeliverFailed;

// The whole TAP conversation on a connected stream, whatever carries it (a modem call or a
// socket): log-on, one block per page of the head page's system (work.SystemIndex set),
// the verdicts, and EOT. kDeliverOk, kTapLogonFailed, or kDeliverDisconnected when the
// terminal ended the session during a block (no EOT is sent then). The caller closes.
[[nodiscard]] int TapConversation(DialWork& work, ByteStream& stream);

}  // namespace delivery
