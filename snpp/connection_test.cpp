// snpp/connection_test.cpp - line assembly and the two ends of a connection.
#include "snpp/connection.h"

#include <gtest/gtest.h>

#include <string>

namespace snpp {
namespace {

class Captured : public SnppOutput {
 public:
  void Send(std::string_view bytes) override { Text.append(bytes); }
  std::string Text;
};

TEST(SnppConnection, LinesAreAnsweredInOrderWhateverTheSegments) {
  Captured out;
  SnppConnection c(out);
  EXPECT_TRUE(c.Receive("RESE\r\nRESE\r\n"));  // two in one segment
  EXPECT_EQ(out.Text, "250 RESET OK\r\n250 RESET OK\r\n");
  out.Text.clear();
  EXPECT_TRUE(c.Receive("RE"));  // one split over three segments: answered once, at its LF
  EXPECT_TRUE(c.Receive("SE\r"));
  EXPECT_EQ(out.Text, "");
  EXPECT_TRUE(c.Receive("\n"));
  EXPECT_EQ(out.Text, "250 RESET OK\r\n");
  out.Text.clear();
  EXPECT_TRUE(c.Receive("RESE\nMESS bare\n"));  // bare line feeds end lines too
  EXPECT_EQ(out.Text, "250 RESET OK\r\n250 Message OK\r\n");
  EXPECT_EQ(c.Session().MessageText, "bare\n");
}

TEST(SnppConnection, OverlongLineKeepsItsFirst3999CharactersAndItsLineFeed) {
  Captured out;
  SnppConnection c(out);
  const std::string line = "MESS " + std::string(5000, 'x') + "\r\n";
  for (size_t i = 0; i < line.size(); i += kReceiveBytes) EXPECT_TRUE(c.Receive(line.substr(i, kReceiveBytes)));
  EXPECT_EQ(out.Text, "250 Message OK\r\n");
  EXPECT_EQ(c.Session().MessageText, std::string(3994, 'x') + "\n");
}

}  // namespace
}  // namespace snpp
