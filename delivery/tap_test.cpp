// Tests of the TAP block, its checksum and the character map.
#include "delivery/tap.h"

#include <gtest/gtest.h>

namespace delivery {
namespace {

TEST(TapChecksum, KnownBlocks) {
  EXPECT_EQ(TapChecksum("\x02"
                        "123\rHI\r\x03"),
            "146");  // 0x146
  EXPECT_EQ(TapChecksum("\x02"
                        "123\rABC\r\x03"),
            "17;");  // 0x17B
  EXPECT_EQ(TapChecksum(""), "000");
}

TEST(TapChecksum, EightBitByteCountsByItsSevenBits) {
  // 0x81 is seen as 0x01 on a 7-bit line: the terminal's sum is 0x0?6, not a signed sum.
  EXPECT_EQ(TapChecksum("\x02"
                        "123\r\x81\r\x03"),
            "0;6");
}

TEST(TapChecksum, KeepsTwelveBits) {
  const std::string big(40, '\x7F');  // 40 * 127 = 5080 = 0x13D8 -> 0x3D8
  EXPECT_EQ(TapChecksum(big), "3=8");
}

TEST(TapBlock, LayoutOfShortPage) {
  EXPECT_EQ(TapBlock("123", "HI"), std::string("\x02"
                                               "123\rHI\r\x03"
                                               "146\r"));
  // An empty page still makes a whole block: 0x02 + 0x0D + 0x0D + 0x03 = 0x01F.
  EXPECT_EQ(TapBlock("", ""), std::string("\x02\r\r\x03"
                                          "01?\r"));
}

TEST(TapCharacterMap, Cp850LettersBecomeTheirSevenBitNationalForms) {
  // German (ISO 646-DE): "Grüße aus Köln, ÄÖÜ" with the umlauts and sharp s of code page 850.
  EXPECT_EQ(MapTapMessage("Gr\x81\xE1"
                          "e aus K\x94ln, \x8E\x99\x9A",
                          true),
            "Gr}~e aus K|ln, [\\]");
  // Danish and Norwegian (ISO 646-DK/NO): æøå ÆØÅ.
  EXPECT_EQ(MapTapMessage("\x91\x9B\x86 \x92\x9D\x8F", true), "{|} [\\]");
  // Letters the map does not cover (é, ç, Ç) and plain ASCII pass unchanged.
  EXPECT_EQ(MapTapMessage("caf\x82 \x87\x80 ok", true), "caf\x82 \x87\x80 ok");
}

TEST(TapCharacterMap, MappedByteIsWhatTheChecksumCovers) {
  const std::string message("\x81", 1);
  EXPECT_EQ(MapTapMessage(message, false), message);  // CP437 leaves the byte as it is
  const std::string mapped = MapTapMessage(message, true);
  ASSERT_EQ(mapped, "}");
  // The sum covers "}" (0x7D): 0x02 + "123" + CR + 0x7D + CR + ETX = 0x132.
  EXPECT_EQ(TapBlock("123", mapped), std::string("\x02"
                                                 "123\r}\r\x03"
                                                 "132\r"));
}

TEST(TapVerdict, OnlyTheFourVerdictBytesCount) {
  for (char c : {kAck, kNak, kRs, kEsc}) EXPECT_EQ(VerdictByte(c), c);
  for (char c : {'2', '1', '\r', '\n', kStx, kEot}) EXPECT_EQ(VerdictByte(c), 0);
}

// The terminal's answer judged in one piece: the verdict, the bytes used, the skipped text.
TapReply Judge(std::string_view bytes, size_t* used = nullptr) {
  TapReply reply;
  const size_t n = JudgeTapReply(bytes, reply);
  if (used != nullptr) *used = n;
  return reply;
}

TEST(TapReplyJudge, EachVerdictByteEndsTheWait) {
  size_t used = 0;
  EXPECT_EQ(Judge("\x06", &used).Verdict, kAck);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(Judge("\x15").Verdict, kNak);
  EXPECT_EQ(Judge("\x1e").Verdict, kRs);
  // ESC EOT ends the session: the ESC is the verdict, the EOT is left for the drain.
  EXPECT_EQ(Judge("\x1b\x04", &used).Verdict, kEsc);
  EXPECT_EQ(used, 1u);
}

TEST(TapReplyJudge, TextBeforeTheVerdictIsSkippedAndKeptForTheTrace) {
  size_t used = 0;
  const TapReply reply = Judge("211 Page accepted\r\n\x06\r", &used);
  EXPECT_EQ(reply.Verdict, kAck);
  EXPECT_EQ(used, 20u);                        // through the ACK; the CR after it is not part of the verdict
  EXPECT_EQ(reply.Text, "211 Page accepted");  // CR and LF are not kept
}

TEST(TapReplyJudge, NoiseWithoutAVerdictByteDecidesNothing) {
  size_t used = 0;
  const TapReply reply = Judge("\r\nNO CARRIER\r\n\x02\x04", &used);
  EXPECT_EQ(reply.Verdict, 0);
  EXPECT_EQ(used, 16u);  // every byte looked at, none taken as a verdict
  EXPECT_EQ(reply.Text, "NO CARRIER");
  // However long the noise, the trace text stays bounded.
  EXPECT_EQ(Judge(std::string(5000, 'x')).Text.size(), 200u);
}

TEST(TapReplyJudge, SplitArrivalsJudgeAsOne) {
  const std::string answer = "Message rejected\r\x15\x06";
  const TapReply whole = Judge(answer);
  for (size_t cut = 0; cut <= answer.size(); ++cut) {
    TapReply reply;
    const size_t first = JudgeTapReply(std::string_view(answer).substr(0, cut), reply);
    const size_t second = JudgeTapReply(std::string_view(answer).substr(cut), reply);
    EXPECT_EQ(reply.Verdict, kNak) << cut;  // the first verdict byte wins; the ACK is never read
    EXPECT_EQ(reply.Text, whole.Text) << cut;
    EXPECT_EQ(first + second, 18u) << cut;
  }
}

}  // namespace
}  // namespace delivery
