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

TEST(SnppConnection, GreetsWithTheGatewayBanner) {
  Captured out;
  SnppConnection c(out);
  c.Greet();
  EXPECT_EQ(out.Text, "220 SNPP Gateway Ready (Corvel.Version1.8 Rev 5)\r\n");
}

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

TEST(SnppConnection, QuitEndsAtOnceAndDropsWhatFollows) {
  Captured out;
  SnppConnection c(out);
  EXPECT_FALSE(c.Receive("QUIT\r\nRESE\r\nHELP\r\n"));
  EXPECT_EQ(out.Text, "221 OK, Goodbye\r\n");
}

TEST(SnppConnection, FifthCountedErrorIsAnsweredThenTheConnectionEnds) {
  Captured out;
  SnppConnection c(out);
  EXPECT_TRUE(c.Receive("XXXX\r\nYYYY\r\nPAGE\r\nZZZZ\r\n"));
  EXPECT_EQ(c.Session().CommandErrors, 4);
  EXPECT_FALSE(c.Receive("WWWW\r\nRESE\r\n"));
  EXPECT_EQ(out.Text,
            "500 Command Not Implemented, Try Again\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "550 Error, Invalid Pager ID\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "421 Too Many Errors, Goodbye\r\n");
}

TEST(SnppConnection, DataIsAnsweredWith354AndEndsWith250) {
  Captured out;
  SnppConnection c(out);
  EXPECT_TRUE(c.Receive("DATA\r\nXXXX\r\nYYYY\r\nZZZZ\r\nWWWW\r\nVVVV\r\n.\r\n"));
  EXPECT_EQ(out.Text, "354 Begin Input, End With <CRLF>.<CRLF>\r\n250 DATA Accepted\r\n");
  EXPECT_EQ(c.Session().CommandErrors, 0);  // nothing counts in data mode
}

}  // namespace
}  // namespace snpp
