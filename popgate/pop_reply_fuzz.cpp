// popgate/pop_reply_fuzz.cpp - libFuzzer target: any bytes as a POP3 server's reply, fed to
// the reply parser whole and in pieces of fuzzed sizes. The parser must judge the same
// however the bytes arrive, keep within its capacity, and never take bytes after the reply.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "popgate/pop_reply.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Feeds bytes in pieces of the given sizes (cycled); returns the bytes taken in all.
size_t FeedAll(popgate::PopReplyParser& parser, std::string_view bytes, std::string_view sizes) {
  size_t taken = 0;
  size_t turn = 0;
  while (taken < bytes.size() && !parser.Done()) {
    size_t piece = sizes.empty() ? bytes.size() : static_cast<unsigned char>(sizes[turn++ % sizes.size()]) % 17 + 1;
    piece = std::min(piece, bytes.size() - taken);
    size_t used = 0;
    while (used < piece && !parser.Done()) {
      const size_t n = parser.Feed(bytes.substr(taken + used, piece - used));
      Check(n <= piece - used);
      if (n == 0) break;
      used += n;
      Check(parser.Line().size() <= popgate::kReplyLineMax);
    }
    taken += used;
    if (used == 0) break;
  }
  return taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first bytes choose the kind of reply, the capacity and the piece sizes.
  const bool multiLine = data[0] & 1;
  const size_t capacity = 16 + (data[0] >> 1) * 8;
  const size_t sizesLength = data[1] % 8;
  if (size < 2 + sizesLength) return 0;
  const std::string_view sizes(reinterpret_cast<const char*>(data) + 2, sizesLength);
  const std::string_view reply(reinterpret_cast<const char*>(data) + 2 + sizesLength, size - 2 - sizesLength);

  popgate::PopReplyParser whole(multiLine, capacity);
  const size_t takenWhole = FeedAll(whole, reply, "");
  popgate::PopReplyParser pieces(multiLine, capacity);
  const size_t takenPieces = FeedAll(pieces, reply, sizes);

  Check(takenWhole == takenPieces);
  Check(whole.Done() == pieces.Done());
  Check(whole.Status() == pieces.Status());
  Check(whole.StatusLine() == pieces.StatusLine());
  Check(whole.Raw() == pieces.Raw() && whole.Text() == pieces.Text() && whole.Cut() == pieces.Cut());
  Check(whole.Raw().size() <= capacity);
  Check(whole.Text().size() <= whole.Raw().size());
  const std::string_view body = whole.Body();
  Check(body.empty() ||
        (body.data() >= whole.Text().data() && body.data() + body.size() <= whole.Text().data() + whole.Text().size()));
  const int count = popgate::StatMailCount(whole.StatusLine());
  Check(count >= 0 && count <= popgate::kMaxMailsPerPoll);
  (void)popgate::StatMailCount(reply);
  return 0;
}
