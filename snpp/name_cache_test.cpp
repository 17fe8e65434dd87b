// snpp/name_cache_test.cpp - fetching the names and groups page by page, and the capacities.
#include "snpp/name_cache.h"

#include <gtest/gtest.h>

#include "common/log.h"
#include "tests/support/fake_paging_server.h"
#include "tests/support/process.h"

namespace snpp {
namespace {

std::vector<std::string> Numbered(const std::string& prefix, int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back(prefix + std::to_string(i));
  return names;
}

class NameFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetProgramName("CORVNET32");
    common::SetLogFileName(dir_.File("log.txt"));
  }
  int Fetch(NameCache& cache) {
    return GetNamesAndGroups(
        cache, [this](std::span<const char> request, std::span<char> reply) { return server_.Call(request, reply); });
  }
  int PersonPages() const {
    int pages = 0;
    for (const auto& r : server_.Requests()) pages += r.Type() == common::kListPersons ? 1 : 0;
    return pages;
  }
  testsupport::TempDir dir_;
  testsupport::DirectPagingServer server_;
};

TEST_F(NameFetch, PersonsThenGroupsWithTheirMembers) {
  server_.StandIn().SetPersons(Numbered("p", 120));  // three pages: 50, 50, 20
  server_.StandIn().SetGroup("Sales", {"p1", "p2"});
  server_.StandIn().SetGroup("Night Shift", Numbered("m", 70));  // only the first reply's 50 are known
  NameCache cache;
  EXPECT_EQ(Fetch(cache), 0);
  const auto names = cache.NameList();
  ASSERT_EQ(names.size(), 122u);
  EXPECT_EQ(names[0], "p0");
  EXPECT_EQ(names[119], "p119");
  EXPECT_EQ(names[120], "Sales");
  EXPECT_EQ(names[121], "Night Shift");
  std::vector<std::string> members;
  EXPECT_TRUE(cache.GroupMembers("sales", members));
  EXPECT_EQ(members, (std::vector<std::string>{"p1", "p2"}));
  EXPECT_TRUE(cache.GroupMembers("NIGHT SHIFT", members));
  EXPECT_EQ(members.size(), 50u);
  EXPECT_FALSE(cache.GroupMembers("nobody", members));
  EXPECT_NE(dir_.Read("log.txt").find("CORVNET32: Total Names: 122  Total Groups: 2\n"), std::string::npos);

  EXPECT_EQ(PersonPages(), 3);
}

TEST_F(NameFetch, ExactlyFiftyAsksForTheNextPage) {
  server_.StandIn().SetPersons(Numbered("p", 50));
  NameCache cache;
  EXPECT_EQ(Fetch(cache), 0);
  EXPECT_EQ(cache.NameCount(), 50u);
  EXPECT_EQ(PersonPages(), 2);
}

TEST_F(NameFetch, ListsStopAtTheirCapacity) {
  server_.StandIn().SetPersons(Numbered("p", 2100));
  for (int i = 0; i < 160; ++i) server_.StandIn().SetGroup("g" + std::to_string(i), {"p1"});
  NameCache cache;
  EXPECT_EQ(Fetch(cache), 0);
  EXPECT_EQ(cache.NameCount(), kNameListCapacity);
  EXPECT_EQ(cache.GroupCount(), kGroupListCapacity);
  std::vector<std::string> members;
  EXPECT_TRUE(cache.GroupMembers("g149", members));
  EXPECT_FALSE(cache.GroupMembers("g150", members));
}

TEST_F(NameFetch, ServerGoneLeavesBothListsEmptyAndFails) {
  server_.Stop();
  NameCache cache;
  cache.Replace({"old"}, {GroupEntry{"g", {"old"}}});
  EXPECT_EQ(Fetch(cache), 1);
  EXPECT_EQ(cache.NameCount(), 0u);
  EXPECT_EQ(cache.GroupCount(), 0u);
  EXPECT_NE(dir_.Read("log.txt").find("CORVNET32: Paging server not found.  Make sure Paging Server is running\n"),
            std::string::npos);
}

}  // namespace
}  // namespace snpp
