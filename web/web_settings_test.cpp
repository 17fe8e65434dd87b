// web/web_settings_test.cpp - reading wwwpage.ini.
#include "web/web_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace web {
namespace {

std::string WriteIni(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(WebSettingsFile, MissingFileKeepsThePipeModeDefaults) {
  WebSettings s;
  ReadWebSettings(::testing::TempDir() + "no-such-wwwpage.ini", s);
  EXPECT_TRUE(s.HostName.empty());
  EXPECT_TRUE(s.LanServerName.empty());
  EXPECT_EQ(s.TcpPort, 5100);
}

TEST(WebSettingsFile, EveryKeyInItsUsualForm) {
  const std::string path = WriteIni("wwwpage_all.ini",
                                    "LanServerName = \"pager1\"\n"
                                    "StartingHtmlFile = \"start.htm\"\r\n"
                                    "OkHtmlFile = \"ok.htm\"\n"
                                    "BadHtmlFile = \"bad.htm\"\n"
                                    "EndingHtmlFile = \"end.htm\"\n"
                                    "HostName = \"10.0.0.5\"\n"
                                    "TcpPort = 6000\n");
  WebSettings s;
  ReadWebSettings(path, s);
  EXPECT_EQ(s.LanServerName, "pager1");
  EXPECT_EQ(s.StartingHtmlFile, "start.htm");
  EXPECT_EQ(s.OkHtmlFile, "ok.htm");
  EXPECT_EQ(s.BadHtmlFile, "bad.htm");
  EXPECT_EQ(s.EndingHtmlFile, "end.htm");
  EXPECT_EQ(s.HostName, "10.0.0.5");
  EXPECT_EQ(s.TcpPort, 6000);
  std::remove(path.c_str());
}

TEST(WebSettingsFile, OddFormsAndBadValues) {
  const std::string path = WriteIni("wwwpage_odd.ini",
                                    "  MyOkHtmlFile=\"ok2.htm\"\n"  // the key is contained in the word
                                    "HostName=\"snpp.example\"\n"   // quote right after "="
                                    "StartingHtmlFile = \"\"\n"     // empty quotes: no value
                                    "EndingHtmlFile = no quotes\n"  // no second piece: unchanged
                                    "\n"
                                    "TcpPort=\"70000\"\n"  // out of range: unchanged
                                    "Unknown = \"x\"\n");
  WebSettings s;
  s.EndingHtmlFile = "keep.htm";
  ReadWebSettings(path, s);
  EXPECT_EQ(s.OkHtmlFile, "ok2.htm");
  EXPECT_EQ(s.HostName, "snpp.example");
  EXPECT_EQ(s.StartingHtmlFile, "");
  EXPECT_EQ(s.EndingHtmlFile, "keep.htm");
  EXPECT_EQ(s.TcpPort, 5100);
  std::remove(path.c_str());
}

TEST(WebSettingsFile, LongHostNameIsCutToItsField) {
  const std::string path = WriteIni("wwwpage_long.ini", "HostName = \"" + std::string(120, 'h') + "\"\n");
  WebSettings s;
  ReadWebSettings(path, s);
  EXPECT_LE(s.HostName.size(), kHostNameField - 1);
  EXPECT_EQ(s.HostName, std::string(kHostNameField - 1, 'h'));
  std::remove(path.c_str());
}

}  // namespace
}  // namespace web
