// The directory's lookups, routing rules and table clamps.
#include "directory/directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/log.h"

namespace directory {
namespace {

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvdir.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    tmp_ = tmpl;
    common::SetProgramName("CORVD32");
    common::SetLogFileName(tmp_ + "/log.txt");
  }
  void TearDown() override {
    common::SetLogFileName("");
    std::filesystem::remove_all(tmp_);
  }

  static SystemRecord Sys(const std::string& name, int limit) {
    SystemRecord s = DefaultSystem();
    s.SystemName = name;
    s.MaxMessageLength = limit;
    return s;
  }
  static PersonRecord Who(const std::string& name, const std::string& id, PagerType type, const std::string& system) {
    PersonRecord p;
    p.Name = name;
    p.PageID = id;
    p.PagerType = type;
    p.SystemName = system;
    return p;
  }

  std::string tmp_;
  Directory d_;
};

TEST_F(DirectoryTest, LookupsIgnoreCaseMatchWholeTextsAndTakeTheFirst) {
  ASSERT_EQ(d_.AddSystem(Sys("Metro", 100), nullptr), 0);
  ASSERT_EQ(d_.AddPerson(Who("Ann", "123", PagerType::Numeric, ""), ""), 0);
  ASSERT_EQ(d_.AddPerson(Who("Bob", "123", PagerType::Numeric, ""), ""), 1);
  EXPECT_EQ(d_.FindSystemByName("METRO"), 0);
  EXPECT_EQ(d_.FindSystemByName("Metr"), -1);
  EXPECT_EQ(d_.FindSystemByName("Metro "), -1);
  EXPECT_EQ(d_.FindPersonByName("aNN"), 0);
  EXPECT_EQ(d_.FindPersonByPageId("123"), 0);
  EXPECT_EQ(d_.FindPersonByName(""), -1);
  EXPECT_EQ(d_.PageIdOfPerson("bob").value_or("none"), "123");
  EXPECT_FALSE(d_.PageIdOfPerson("Cy").has_value());
  // Entries past the count are not found, even though their slots still hold text.
  d_.ResetDirectory();
  EXPECT_EQ(d_.FindSystemByName("Metro"), -1);
  EXPECT_EQ(d_.FindPersonByName("Ann"), -1);
}

TEST_F(DirectoryTest, RoutingAndPieceLimits) {
  ASSERT_GE(d_.AddSystem(Sys("Numeric", 80), nullptr), 0);
  ASSERT_GE(d_.AddSystem(Sys("Metro", 500), nullptr), 0);
  ASSERT_GE(d_.AddPerson(Who("Num", "1", PagerType::Numeric, ""), ""), 0);
  ASSERT_GE(d_.AddPerson(Who("NumMetro", "2", PagerType::Numeric, "Metro"), ""), 0);
  ASSERT_GE(d_.AddPerson(Who("Alpha", "3", PagerType::Alphanumeric, "metro"), ""), 0);
  ASSERT_GE(d_.AddPerson(Who("Lost", "4", PagerType::Numeric, "Gone"), ""), 0);
  const auto person = [&](const char* n) { return d_.Persons[d_.FindPersonByName(n)]; };
  EXPECT_EQ(d_.SystemForPerson(person("Num")), 0);
  EXPECT_EQ(d_.SystemForPerson(person("NumMetro")), 1);  // routed to its own system
  EXPECT_EQ(d_.SystemForPerson(person("Alpha")), 1);
  EXPECT_EQ(d_.SystemForPerson(person("Lost")), -1);
  EXPECT_EQ(d_.PieceLimitForName("Num"), 80);
  EXPECT_EQ(d_.PieceLimitForName("NumMetro"), 80);  // but cut by the Numeric system's limit
  EXPECT_EQ(d_.PieceLimitForName("Alpha"), 500);
  EXPECT_EQ(d_.PieceLimitForName("3"), 500);  // found by PageID
  EXPECT_EQ(d_.PieceLimitForName("Nobody"), 0);
  Directory noNumeric;
  ASSERT_GE(noNumeric.AddPerson(Who("Num", "1", PagerType::Numeric, ""), ""), 0);
  EXPECT_EQ(noNumeric.PieceLimitForName("Num"), 0);
  EXPECT_EQ(noNumeric.SystemForPerson(noNumeric.Persons[0]), -1);
}

TEST_F(DirectoryTest, AddSystemRegistersPortsAndResetsTheCursor) {
  SystemRecord s = Sys("Metro", 230);
  s.Port[0] = "COM1";
  s.Port[1] = "COM2";
  s.PortCount = 2;
  s.NextPort = 7;
  std::vector<std::string> ports;
  ASSERT_EQ(d_.AddSystem(s, [&](std::string_view p) { ports.emplace_back(p); }), 0);
  EXPECT_EQ(ports, (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_EQ(d_.Systems[0].NextPort, 0);
  EXPECT_EQ(d_.AddSystem(Sys("metro", 1), [&](std::string_view p) { ports.emplace_back(p); }), -1);
  EXPECT_EQ(d_.SystemCount, 1);
}

TEST_F(DirectoryTest, PersonAndGroupTablesClampAtTheirLastSlot) {
  for (int i = 0; i < 501; ++i)
    ASSERT_GE(d_.AddPerson(Who("P" + std::to_string(i), std::to_string(i), PagerType::Numeric, ""), ""), 0);
  EXPECT_EQ(d_.PersonCount, 499);
  EXPECT_EQ(d_.FindPersonByName("P498"), 498);
  EXPECT_EQ(d_.FindPersonByName("P499"), -1);
  EXPECT_EQ(d_.Persons[499].Name, "P500");

  Directory g;
  for (int i = 0; i < 201; ++i) ASSERT_GE(g.AddGroup("G" + std::to_string(i), ""), 0);
  EXPECT_EQ(g.GroupCount, 199);
  EXPECT_EQ(g.FindGroup("G199"), -1);
  // Groups made from persons' Group lists clamp the same way.
  ASSERT_GE(g.AddPerson(Who("Ann", "1", PagerType::Numeric, ""), "New1|New2|"), 0);
  EXPECT_EQ(g.GroupCount, 199);
  EXPECT_EQ(g.Groups[199].Name, "New2");
}

TEST_F(DirectoryTest, SecondGroupOfANameIsStoredButNeverFound) {
  ASSERT_EQ(d_.AddGroup("Ops", "Ann|"), 0);
  ASSERT_EQ(d_.AddGroup("OPS", "Bob|"), 1);
  EXPECT_EQ(d_.FindGroup("ops"), 0);
  EXPECT_EQ(d_.GroupCount, 2);
}

TEST(SplitList, SkipsEmptyItemsAndTakesAnUnterminatedTail) {
  EXPECT_EQ(SplitList("Ann|Bob|"), (std::vector<std::string>{"Ann", "Bob"}));
  EXPECT_EQ(SplitList("||Ann||Bob"), (std::vector<std::string>{"Ann", "Bob"}));
  EXPECT_TRUE(SplitList("").empty());
}

}  // namespace
}  // namespace directory
