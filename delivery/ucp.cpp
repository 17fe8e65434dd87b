// delivery/ucp.cpp - UCP operation 30: frame building and the one-page call.
#include "delivery/ucp.h"

#include <array>
#include <chrono>
#include <optional>

#include "common/fixed_field.h"
#include "common/format_text.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "delivery/modem_control.h"

namespace delivery {
namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;

// CP850 letters the UCP (GSM-derived) alphabet places elsewhere; zero means unchanged.
constexpr std::array<unsigned char, 256> MakeUcpMap() {
  std::array<unsigned char, 256> map{};
  const unsigned char pairs[][2] = {
      {0x80, 0x09}, {0x81, 0x7E}, {0x82, 0x05}, {0x84, 0x7B}, {0x85, 0x7F}, {0x86, 0x0F}, {0x8A, 0x04}, {0x8D, 0x07},
      {0x8E, 0x5B}, {0x8F, 0x0E}, {0x90, 0x1F}, {0x91, 0x1D}, {0x92, 0x1C}, {0x94, 0x7C}, {0x95, 0x08}, {0x97, 0x06},
      {0x99, 0x5C}, {0x9B, 0x0C}, {0x9C, 0x01}, {0x9D, 0x0B}, {0xA4, 0x7D}, {0xA5, 0x9A}, {0xA8, 0x60}, {0xAD, 0x40},
      {0xBE, 0x03}, {0xC5, 0x5D}, {0xC6, 0x5B}, {0xD8, 0x5C}, {0xE1, 0x1E}, {0xE5, 0x7D}, {0xE6, 0x7B}, {0xF8, 0x7C},
  };
  for (const auto& p : pairs) map[p[0]] = p[1];
  return map;
}
constexpr std::array<unsigned char, 256> kUcpMap = MakeUcpMap();

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr int kResultWaitMs = 15000;
constexpr size_t kMaxResultFrame = 400;  // far above any result frame; more is line noise

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes between the centre's STX and ETX, or nothing when no whole frame came within
// limitMs (silence, a frame cut off, or noise without a frame).
std::optional<std::string> ReadResultFrame(ComPort* port, int limitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  std::string frame;
  bool inFrame = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    int timedOut = 0;
    const int byte = ReadComByteTimed(port, static_cast<int>(left.count()), timedOut);
    if (byte < 0) return std::nullopt;  // the port is not open
    if (timedOut) return std::nullopt;
    const char c = static_cast<char>(byte);
    if (c == kStx) {
      frame.clear();
      inFrame = true;
    } else if (inFrame && c == kEtx) {
      return frame;
    } else if (inFrame) {
      frame.push_back(c);
      if (frame.size() > kMaxResultFrame) inFrame = false;
    }
  }
}

}  // namespace

UcpAnswer ClassifyUcpResult(std::string_view body) {
  if (body.size() < 2) return UcpAnswer::kNone;
  const std::string_view text = body.substr(0, body.size() - 2);
  const int hi = HexDigit(body[body.size() - 2]);
  const int lo = HexDigit(body[body.size() - 1]);
  if (hi < 0 || lo < 0 || static_cast<unsigned>(hi * 16 + lo) != (UcpChecksum(text) & 0xFFu)) return UcpAnswer::kNone;
  std::string_view field[5];
  std::string_view rest = text;
  for (std::string_view& f : field) {
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return UcpAnswer::kNone;
    f = rest.substr(0, slash);
    rest.remove_prefix(slash + 1);
  }
  if (field[1].size() != 5) return UcpAnswer::kNone;
  size_t len = 0;
  for (char c : field[1]) {
    if (c < '0' || c > '9') return UcpAnswer::kNone;
    len = len * 10 + static_cast<size_t>(c - '0');
  }
  if (len != body.size() || field[2] != "R" || field[3] != "30") return UcpAnswer::kNone;
  if (field[4] == "A") return UcpAnswer::kPositive;
  if (field[4] == "N") return UcpAnswer::kNegative;
  return UcpAnswer::kNone;
}

std::string DigitsOnly(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits;
}

unsigned char UcpMapCp850(unsigned char byte) {
  const unsigned char to = kUcpMap[byte];
  return to != 0 ? to : byte;
}

std::string HexEncodeMessage(std::string_view message, bool cp850) {
  std::string hex;
  hex.reserve(message.size() * 2);
  for (char c : message) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (cp850) byte = UcpMapCp850(byte);
    hex.push_back(kHexDigits[byte >> 4]);
    hex.push_back(kHexDigits[byte & 0x0F]);
  }
  return hex;
}

unsigned UcpChecksum(std::string_view text) {
  unsigned sum = 0;
  for (char c : text) sum += static_cast<unsigned char>(c);
  return sum;
}

std::string BuildUcpText(std::string_view pagerId, std::string_view message, bool cp850) {
  const std::string adc = DigitsOnly(pagerId);
  const std::string amsg = HexEncodeMessage(message, cp850);
  // 31 = the fixed characters from TRN through the last "/" plus the two checksum digits.
  const long len = static_cast<long>(adc.size() + amsg.size() + 31);
  return common::FormatText("00/%05ld/O/30/%s///1//0139////%s/", len, adc, amsg);
}

std::string BuildUcpFrame(std::string_view pagerId, std::string_view message, bool cp850) {
  const std::string text = BuildUcpText(pagerId, message, cp850);
  const unsigned sum = UcpChecksum(text) & 0xFFu;
  std::string frame;
  frame.reserve(text.size() + 4);
  frame.push_back(kStx);
  frame += text;
  frame.push_back(kHexDigits[sum >> 4]);
  frame.push_back(kHexDigits[sum & 0x0F]);
  frame.push_back(kEtx);
  return frame;
}

int DeliverUcp(DialWork& work) {
  int result = kDeliverOk;
  if (!PlaceCall(work, kUcpCall, result)) return result;
  core::QueueEntry* head = work.Stop.stop_requested() ? nullptr : core::PeekHead(work.State, work.Queue);
  if (head == nullptr) {
    common::DebugLine("Done\n");
    EndCall(work, kUcpCall);
    return kDeliverOk;
  }
  core::RecordSending(work.State, *head, work.SystemName());
  work.Current = *head;
  const bool cp850 = work.State.MapCodePage.load() == 1;
  WriteComText(&work.Port,
               BuildUcpFrame(common::FieldText(work.Current.PageID), common::FieldText(work.Current.Message), cp850));
  common::DebugLine("\n");
  const std::optional<std::string> frame = ReadResultFrame(&work.Port, kResultWaitMs);
  const UcpAnswer answer = frame ? ClassifyUcpResult(*frame) : UcpAnswer::kNone;
  if (answer == UcpAnswer::kNegative) {
    // The centre refused this message: sending it again would be refused again.
    core::RecordOutcome(work.State, work.Current, core::PageState::kGivenUp,
                        core::LogResult("Error - System rejected pager"));
    ++work.State.FailedPages;
    static_cast<void>(core::DropHead(work.Queue));
    result = kDeliverFailed;
  } else if (answer == UcpAnswer::kNone) {
    // Silence or a garbled result says nothing about the page: the line failed, so the
    // page stays at the head and the dial thread's retry policy decides.
    core::RecordRetry(work.State, work.Current,
                      core::LogResult("Error - %s from the paging centre on message(#%ld) for %s - page kept",
                                      frame ? "Broken answer" : "No answer", work.Current.MessageNumber,
                                      common::Outside(common::FieldText(work.Current.Name))));
    result = kDeliverFailed;
  } else {
    common::DebugLine("\n");
    core::RecordOutcome(work.State, work.Current, core::PageState::kSent,
                        core::LogResult("Paged %s", common::Outside(common::FieldText(work.Current.Name))));
    ++work.State.PagesSent;
    static_cast<void>(core::DropHead(work.Queue));
    result = kDeliverOk;
  }
  EndCall(work, kUcpCall);
  return result;
}

}  // namespace delivery
