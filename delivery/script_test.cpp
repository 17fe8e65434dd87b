// delivery/script_test.cpp - reading script files and expanding send lines.
#include "delivery/script.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "common/log.h"

namespace delivery {
namespace {

TEST(ParseScript, AlternatesSendAndExpectLines) {
  Script script;
  ASSERT_EQ(ParseScript("ATDT%p\\r\nCONNECT\n%i\\r\n\n", script), kScriptLoaded);
  ASSERT_EQ(script.Pairs.size(), 2u);
  EXPECT_EQ(script.Pairs[0].Send, "ATDT%p\\r");
  EXPECT_EQ(script.Pairs[0].Expect, "CONNECT");
  EXPECT_EQ(script.Pairs[1].Send, "%i\\r");
  // An empty line keeps its line feed: the script waits for one.
  EXPECT_EQ(script.Pairs[1].Expect, "\n");
}

TEST(ParseScript, LastSendLineWithoutExpectedTextHasNoWait) {
  Script script;
  ASSERT_EQ(ParseScript("ATZ\\r\nOK\\r\n%i%m\\r", script), kScriptLoaded);
  ASSERT_EQ(script.Pairs.size(), 2u);
  EXPECT_EQ(script.Pairs[0].Expect, "OK\r");
  EXPECT_EQ(script.Pairs[1].Send, "%i%m\\r");
  EXPECT_EQ(script.Pairs[1].Expect, "");
  ASSERT_EQ(ParseScript("ATZ\\r\nOK\\r\n%i%m\\r\n", script), kScriptLoaded);
  EXPECT_EQ(script.Pairs.size(), 2u);
}

TEST(ParseScript, LongLineIsCutAt69AndShiftsTheAlternation) {
  Script script;
  const std::string longLine(75, 'a');
  ASSERT_EQ(ParseScript(longLine + "\nOK\n", script), kScriptLoaded);
  ASSERT_EQ(script.Pairs.size(), 2u);
  EXPECT_EQ(script.Pairs[0].Send, std::string(69, 'a'));
  EXPECT_EQ(script.Pairs[0].Expect, "aaaaaa");
  EXPECT_EQ(script.Pairs[1].Send, "OK");
}

TEST(ParseScript, WindowsLineEndsReadTheSame) {
  Script script;
  ASSERT_EQ(ParseScript("ATDT%p\\r\r\nCONNECT\r\n%i\\r\r\n\r\n", script), kScriptLoaded);
  ASSERT_EQ(script.Pairs.size(), 2u);
  EXPECT_EQ(script.Pairs[0].Expect, "CONNECT");
  EXPECT_EQ(script.Pairs[1].Expect, "\n");
}

TEST(ConvertScriptExpectedText, BackslashRIsCrOtherEscapesVanish) {
  EXPECT_EQ(ConvertScriptExpectedText("OK\\r"), "OK\r");
  EXPECT_EQ(ConvertScriptExpectedText("A\\xB\\"), "AB");
  // Carets are left for WaitForText, which converts them when it waits.
  EXPECT_EQ(ConvertScriptExpectedText("^M"), "^M");
}

TEST(ParseScript, HundredPairsFitAndMoreAreRefusedWhole) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "S" + std::to_string(i) + "\nE" + std::to_string(i) + "\n";
  Script script;
  ASSERT_EQ(ParseScript(text, script), kScriptLoaded);
  EXPECT_EQ(script.Pairs.size(), 100u);
  EXPECT_EQ(script.Pairs[99].Expect, "E99");
  ASSERT_EQ(ParseScript(text + "S100\n", script), kScriptTooLong);
  EXPECT_TRUE(script.Pairs.empty());
}

class LoadScriptFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir();
    common::SetLogFileName(dir_ + "/script_test_log.txt");
    std::remove(common::LogFileName().c_str());
  }
  std::string LogText() {
    std::ifstream in(common::LogFileName());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

TEST_F(LoadScriptFile, MissingFileLeavesNoScriptAndNamesTheFile) {
  Script script;
  script.Pairs.push_back({"left over", "from another system"});
  EXPECT_EQ(LoadScript(dir_ + "/no-such.scr", script), kScriptMissing);
  EXPECT_TRUE(script.Pairs.empty());
  EXPECT_NE(LogText().find("Error - Unable to open up script file(" + dir_ + "/no-such.scr)"), std::string::npos);
}

TEST_F(LoadScriptFile, TooLongFileIsRefusedWithALineNamingIt) {
  const std::string path = dir_ + "/long.scr";
  {
    std::ofstream out(path);
    for (int i = 0; i < 101; ++i) out << "ATZ\\r\nOK\n";
  }
  Script script;
  EXPECT_EQ(LoadScript(path, script), kScriptTooLong);
  EXPECT_TRUE(script.Pairs.empty());
  EXPECT_NE(LogText().find("Script file(" + path + ") has more than 100"), std::string::npos);
}

TEST(ExpandScriptLine, EveryEscape) {
  const ExpandedLine line = ExpandScriptLine("ATDT%p\\r", "123", "hi", "5551212");
  ASSERT_EQ(line.Steps.size(), 1u);
  EXPECT_EQ(line.Steps[0].Bytes, "ATDT5551212\r");
  EXPECT_FALSE(line.IdSent);
  EXPECT_FALSE(line.MessageSent);

  const ExpandedLine all = ExpandScriptLine("a\\nb\\qc^[d^Me%xf%%%", "ID", "MSG", "P");
  ASSERT_EQ(all.Steps.size(), 1u);
  EXPECT_EQ(all.Steps[0].Bytes,
            "a\r\nbc\x1B"
            "d\re"
            "f");

  // A lone backslash or caret at the end sends nothing.
  EXPECT_EQ(ExpandScriptLine("x\\", "", "", "").Steps[0].Bytes, "x");
  EXPECT_EQ(ExpandScriptLine("x^", "", "", "").Steps[0].Bytes, "x");
}

TEST(ExpandScriptLine, PauseSplitsTheLineAndMarksIdAndMessage) {
  const ExpandedLine line = ExpandScriptLine("%i\\r%d%m\\r", "1234567", "Hello 42", "");
  ASSERT_EQ(line.Steps.size(), 2u);
  EXPECT_EQ(line.Steps[0].Bytes, "1234567\r");
  EXPECT_EQ(line.Steps[0].PauseMs, kScriptPauseMs);
  EXPECT_EQ(line.Steps[1].Bytes, "Hello 42\r");
  EXPECT_EQ(line.Steps[1].PauseMs, 0);
  EXPECT_TRUE(line.IdSent);
  EXPECT_TRUE(line.MessageSent);
  // The message goes out as queued: no character map, escapes inside it are not expanded.
  EXPECT_EQ(ExpandScriptLine("%m", "", "50%i\\r\x81", "").Steps[0].Bytes, "50%i\\r\x81");
}

}  // namespace
}  // namespace delivery
