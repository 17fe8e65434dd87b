// common/counter_lines_test.cpp - the counters reply's lines, written and read back.
#include "common/counter_lines.h"

#include <gtest/gtest.h>

namespace common {
namespace {

TEST(CounterLines, TabsAndLineFeedsInLabelsSurviveTheTrip) {
  const CounterFigure figure{"calls", 12, {{"port", "COM\t1"}, {"system", "a\\n\nb\r"}}};
  const std::string line = CounterLine(figure);
  EXPECT_EQ(line, "calls\t12\tport=COM\\t1\tsystem=a\\\\n\\nb\\r\n");
  std::vector<CounterFigure> figures;
  int skipped = 0;
  ASSERT_EQ(ParseCounterReply("OK\n" + line + "pages_sent\t-3\n", figures, skipped), 0);
  ASSERT_EQ(figures.size(), 2u);
  EXPECT_EQ(figures[0].Labels, figure.Labels);
  EXPECT_EQ(figures[1].Value, -3);
  EXPECT_EQ(skipped, 0);
}

TEST(CounterLines, MalformedLinesAreSkippedAndCounted) {
  std::vector<CounterFigure> figures;
  int skipped = 0;
  ASSERT_EQ(ParseCounterReply("OK\nno_value\nx\t1a\n\tx\ny\t2\tlabel\nz\t3\n\n", figures, skipped), 0);
  ASSERT_EQ(figures.size(), 1u);
  EXPECT_EQ(figures[0].Name, "z");
  EXPECT_EQ(skipped, 4);
  EXPECT_EQ(ParseCounterReply("ERR - Unknown request type", figures, skipped), 1);
  EXPECT_EQ(ParseCounterReply("", figures, skipped), 1);
  EXPECT_TRUE(figures.empty());
}

}  // namespace
}  // namespace common
