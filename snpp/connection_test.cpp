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

const SnppServices kNoServices{};  // these cases reach neither the pipe nor the names

TEST(SnppConnection, LinesAreAnsweredInOrderWhateverTheSegments) {
  Captured out;
  SnppConnection c(out, kNoServices);
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
  SnppConnection c(out, kNoServices);
  const std::string line = "MESS " + std::string(5000, 'x') + "\r\n";
  for (size_t i = 0; i < line.size(); i += kReceiveBytes) EXPECT_TRUE(c.Receive(line.substr(i, kReceiveBytes)));
  EXPECT_EQ(out.Text, "250 Message OK\r\n");
  EXPECT_EQ(c.Session().MessageText, std::string(3994, 'x') + "\n");
}

TEST(SnppConnection, QuitEndsTheConnectionAndWhatFollowsItIsDropped) {
  Captured out;
  SnppConnection c(out, kNoServices);
  c.Greet();
  EXPECT_FALSE(c.Receive("MESS hi\r\nQUIT\r\nRESE\r\nHELP\r\n"));
  EXPECT_EQ(out.Text, "220 SNPP Gateway Ready (Corvel.Version1.8 Rev 5)\r\n250 Message OK\r\n221 OK, Goodbye\r\n");
}

TEST(SnppConnection, FifthCountedErrorIsAnsweredThenTooManyErrorsEndsIt) {
  Captured out;
  SnppConnection c(out, kNoServices);
  EXPECT_TRUE(c.Receive("NOPE\r\nPAGE\r\nMESS a\r\nMESS b\r\n"));  // three errors: still open
  EXPECT_EQ(c.Session().CommandErrors, 3);
  EXPECT_TRUE(c.Receive("SEND\r\n"));  // the failed SEND is the fourth
  EXPECT_FALSE(c.Receive("WHAT\r\nRESE\r\n"));
  EXPECT_EQ(out.Text,
            "500 Command Not Implemented, Try Again\r\n"
            "550 Error, Invalid Pager ID\r\n"
            "250 Message OK\r\n"
            "503 ERROR, Message Already Entered\r\n"
            "503 Error, Pager ID or Message Incomplete\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "421 Too Many Errors, Goodbye\r\n");
}

}  // namespace
}  // namespace snpp
