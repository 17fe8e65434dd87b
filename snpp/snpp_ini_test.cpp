// snpp/snpp_ini_test.cpp - the SNPP.INI reader.
#include "snpp/snpp_ini.h"

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace snpp {
namespace {

uint16_t PortOf(const std::string& text) {
  testsupport::TempDir dir;
  dir.Write("SNPP.INI", text);
  SnppSettings s;
  EXPECT_EQ(ReadSnppIni(dir.File("SNPP.INI"), s), 0);
  return s.TcpPort;
}

TEST(SnppIni, BothSpellingsOfTheKeyAndLineEnds) {
  EXPECT_EQ(PortOf("TcpPort=444\n"), 444);
  EXPECT_EQ(PortOf("TcpPort 445\r\n"), 445);
  EXPECT_EQ(PortOf("  TcpPort\t=\t446"), 446);      // last line without a line end
  EXPECT_EQ(PortOf("MyTcpPortNumber=447\n"), 447);  // the key only has to contain the word
  EXPECT_EQ(PortOf("TcpPort=448abc\n"), 448);       // the leading number of the value
}

TEST(SnppIni, CommentsShortLinesAndOtherKeysSetNothing) {
  EXPECT_EQ(PortOf("; TcpPort=444\n# TcpPort=444\n"), 0);
  EXPECT_EQ(PortOf("tcpport=444\n"), 0);  // the key is case-sensitive
  EXPECT_EQ(PortOf("TcpPort\n"), 0);      // no value
  EXPECT_EQ(PortOf("a=1\n"), 0);          // shorter than four characters with its line end
  EXPECT_EQ(PortOf(""), 0);
}

TEST(SnppIni, LongLinesAreReadIn99CharacterPieces) {
  // The second piece of an overlong line is read as a line of its own.
  EXPECT_EQ(PortOf("; " + std::string(97, 'x') + "TcpPort=449\n"), 449);
  EXPECT_EQ(PortOf("; " + std::string(90, 'x') + "TcpPort=449\n"), 0);
}

TEST(SnppIni, ValueThatNamesNoPortIsRefusedNotWrapped) {
  SnppSettings s;
  ApplySnppIniLine("TcpPort=70000\n", s);
  EXPECT_EQ(s.TcpPort, 0);
  EXPECT_EQ(s.BadTcpPort, "70000");
  s = {};
  ApplySnppIniLine("TcpPort=abc\n", s);
  EXPECT_EQ(s.TcpPort, 0);
  EXPECT_EQ(s.BadTcpPort, "abc");
  s = {};
  ApplySnppIniLine("TcpPort=65535\n", s);
  EXPECT_EQ(s.TcpPort, 65535);
  EXPECT_TRUE(s.BadTcpPort.empty());
}

TEST(SnppIni, MissingFileIsReported) {
  SnppSettings s;
  EXPECT_EQ(ReadSnppIni("/nonexistent/SNPP.INI", s), 1);
}

}  // namespace
}  // namespace snpp
