// delivery/terminal_reply_fuzz.cpp - libFuzzer target: what paging terminals send back and
// what is framed for them. A TAP terminal's answer to a block is judged in arrivals of
// fuzzed sizes and must judge as when it came at once; the UCP frame built from any pager ID
// and message must be one well-formed frame (its length field and checksum right, no STX or
// ETX inside, which would end it early at the centre); a centre's answer of any bytes is
// judged without a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "delivery/tap.h"
#include "delivery/ucp.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void JudgeTap(std::string_view arrived, std::string_view sizes) {
  delivery::TapReply whole;
  const size_t usedWhole = delivery::JudgeTapReply(arrived, whole);
  Check(usedWhole <= arrived.size());
  Check(whole.Text.size() <= 200);
  if (whole.Verdict != 0) {
    Check(usedWhole > 0 && delivery::VerdictByte(arrived[usedWhole - 1]) == whole.Verdict);
  } else {
    Check(usedWhole == arrived.size());
  }
  delivery::TapReply pieces;
  size_t at = 0, used = 0, turn = 0;
  while (at < arrived.size() && pieces.Verdict == 0) {
    const size_t piece = sizes.empty() ? 1 : static_cast<unsigned char>(sizes[turn++ % sizes.size()]) % 9 + 1;
    const std::string_view part = arrived.substr(at, piece);
    const size_t n = delivery::JudgeTapReply(part, pieces);
    Check(n <= part.size());
    used += n;
    at += part.size();
  }
  Check(pieces.Verdict == whole.Verdict && used == usedWhole && pieces.Text == whole.Text);
}

void CheckUcpFrame(std::string_view pagerId, std::string_view message, bool cp850) {
  const std::string frame = delivery::BuildUcpFrame(pagerId, message, cp850);
  Check(frame.size() >= 4 && frame.front() == 0x02 && frame.back() == 0x03);
  const std::string_view inner(frame.data() + 1, frame.size() - 2);
  Check(inner.find('\x02') == std::string_view::npos && inner.find('\x03') == std::string_view::npos);
  const std::string_view text = inner.substr(0, inner.size() - 2);
  char sum[3];
  std::snprintf(sum, sizeof sum, "%02X", delivery::UcpChecksum(text) % 256);
  Check(inner.substr(inner.size() - 2) == sum);
  // The length field (the second) counts the characters from TRN through the checksum.
  const size_t slash = text.find('/');
  Check(slash != std::string_view::npos);
  Check(std::stoul(std::string(text.substr(slash + 1, text.find('/', slash + 1) - slash - 1))) == inner.size());
  // Our own operation read back as a centre's answer is none: only an R/30 result counts.
  Check(delivery::ClassifyUcpResult(inner) == delivery::UcpAnswer::kNone);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t sizesLength = data[0] % 6;
  if (size < 2 + sizesLength) return 0;
  const std::string_view sizes(reinterpret_cast<const char*>(data) + 2, sizesLength);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2 + sizesLength, size - 2 - sizesLength);
  JudgeTap(rest, sizes);
  (void)delivery::ClassifyUcpResult(rest);  // any centre's answer is judged without a fault
  const size_t split = std::min<size_t>(data[1], rest.size());
  CheckUcpFrame(rest.substr(0, split), rest.substr(split), data[0] & 0x80);
  return 0;
}
