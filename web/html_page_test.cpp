// web/html_page_test.cpp - template directives, the group capture, block boundaries, names.
#include "web/html_page.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "tests/support/fake_paging_server.h"
#include "tests/support/fake_snpp_server.h"
#include "tests/support/process.h"
#include "tests/support/scoped_env.h"

namespace web {
namespace {

using testsupport::FakePagingServer;
using testsupport::ScopedEnv;

class Template : public ::testing::Test {
 protected:
  std::string Page(const std::string& name, const std::string& text) {
    const std::string path = dir_.File("tpl_" + name);
    std::ofstream(path, std::ios::binary) << text;
    paths_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const auto& p : paths_) std::remove(p.c_str());
  }
  // In a folder of the test's own: a pipe server refuses folders others may write in (/tmp).
  std::string PipePath() const { return dir_.File("pipe"); }
  testsupport::TempDir dir_;
  std::vector<std::string> paths_;
};

TEST_F(Template, SimpleDirectives) {
  WebRun run;
  run.TemplateFolder = dir_.Path();
  run.ScriptPath = "/cgi-bin/corvweb";
  ASSERT_EQ(ExpandHtmlFile(run, Page("simple.htm", "100%% sure;%x;%e;[%n];%d;%t;end\x1a")), 0);
  EXPECT_TRUE(std::regex_match(run.Out, std::regex(R"(100% sure;;/cgi-bin/corvweb;\[\];\d\d-\d\d-\d\d;\d\d:\d\d;end)")))
      << run.Out;

  WebRun named;

  named.TemplateFolder = dir_.Path();
  named.CurrentName = "<b>Ann</b>";
  ASSERT_EQ(ExpandHtmlFile(named, Page("name.htm", "Sent to %n.")), 0);
  EXPECT_EQ(named.Out, "Sent to &lt;b&gt;Ann&lt;/b&gt;.");
}

TEST_F(Template, MissingFileWritesNothing) {
  WebRun run;
  run.TemplateFolder = dir_.Path();
  EXPECT_EQ(ExpandHtmlFile(run, dir_.File("tpl_none.htm")), 1);
  EXPECT_EQ(run.Out, "");
}

TEST_F(Template, DirectiveAndCaptureStraddlingTwoBlocks) {
  // "%" is the last byte of the first 2048-byte block and its partner the first of the next.
  WebRun run;
  run.TemplateFolder = dir_.Path();
  run.CurrentName = "Bob";
  const std::string first(kTemplateBlock - 1, 'a');
  ASSERT_EQ(ExpandHtmlFile(run, Page("straddle.htm", first + "%n!")), 0);
  EXPECT_EQ(run.Out, first + "Bob!");

  WebRun capture;

  capture.TemplateFolder = dir_.Path();
  const std::string lead(kTemplateBlock - 4, 'b');
  ASSERT_EQ(ExpandHtmlFile(capture, Page("capture.htm", lead + "%gSal" + "es tail")), 0);
  EXPECT_EQ(capture.Out, lead + "tail");
  ASSERT_TRUE(capture.GroupFilter.has_value());
  EXPECT_EQ(*capture.GroupFilter, "Sales");

  WebRun trailing;

  trailing.TemplateFolder = dir_.Path();
  ASSERT_EQ(ExpandHtmlFile(trailing, Page("trailing.htm", "end%")), 0);
  EXPECT_EQ(trailing.Out, "end");
}

TEST_F(Template, GroupCaptureNarrowsTheNameListOverThePipe) {
  ScopedEnv pipe("CORVEL_PIPE", PipePath());
  FakePagingServer server(PipePath());
  server.StandIn().SetPersons({"Ann", "Bob"});
  server.StandIn().SetGroup("Sales", {"Ann", "<script>x</script>"});
  WebRun run;
  run.TemplateFolder = dir_.Path();
  ASSERT_EQ(ExpandHtmlFile(run, Page("group.htm", "%gSales <select>%p</select>")), 0);
  EXPECT_EQ(run.Out, "<select><option> Ann\n<option> &lt;script&gt;x&lt;/script&gt;\n</select>");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Head.RequestType, common::kListMembers);
  EXPECT_EQ(common::FieldText(requests[0].Head.Name), "Sales");
  EXPECT_EQ(requests[0].Bytes, 89u);
}

TEST_F(Template, PipeListAsksPageByPageThenGroups) {
  ScopedEnv pipe("CORVEL_PIPE", PipePath());
  FakePagingServer server(PipePath());
  std::vector<std::string> persons;
  for (int i = 0; i < 120; ++i) persons.push_back("P" + std::to_string(i));
  server.StandIn().SetPersons(persons);
  server.StandIn().SetGroup("Sales", {});
  WebRun run;
  run.TemplateFolder = dir_.Path();
  FetchNames(run);
  ASSERT_EQ(run.Snpp.NameChoices.size(), 121u);
  EXPECT_EQ(run.Snpp.NameChoices[119], "P119");
  EXPECT_EQ(run.Snpp.NameChoices[120], "Sales");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i].Head.RequestType, common::kListPersons);
    EXPECT_EQ(requests[i].Head.Parameter, i);
  }
  EXPECT_EQ(requests[3].Head.RequestType, common::kListGroups);
}

TEST_F(Template, PipeListLoopStopsWhenTheTableIsFull) {
  ScopedEnv pipe("CORVEL_PIPE", PipePath());
  // A server that answers every list page with 50 names, however far the client asks.
  FakePagingServer server(PipePath(), [](const testsupport::PipeRequest&) -> testsupport::PipeReply {
    return testsupport::ListReply(std::vector<std::string>(common::kListPageSize, "Repeat"));
  });
  WebRun run;
  run.TemplateFolder = dir_.Path();
  FetchNames(run);
  EXPECT_EQ(run.Snpp.NameChoices.size(), snppclient::kNameChoicesSize);
  EXPECT_EQ(server.Requests().size(), snppclient::kNameChoicesSize / 50);
}

TEST_F(Template, NoPagingServerGivesAnEmptyList) {
  ScopedEnv pipe("CORVEL_PIPE", PipePath() + "-absent");
  WebRun run;
  run.TemplateFolder = dir_.Path();
  ASSERT_EQ(ExpandHtmlFile(run, Page("empty.htm", "<select>%p</select>")), 0);
  EXPECT_EQ(run.Out, "<select></select>");
}

TEST_F(Template, RemoteLanServerIsNamedInTheList) {
  WebRun run;
  run.TemplateFolder = dir_.Path();
  run.Settings.LanServerName = "pagerhost";
  ASSERT_EQ(ExpandHtmlFile(run, Page("remote.htm", "%p%p")), 0);
  EXPECT_EQ(run.Out.find("<option disabled>"), 0u);
  EXPECT_NE(run.Out.find("SNPP only"), std::string::npos);
  EXPECT_EQ(run.Out.find("<option disabled>", 1), std::string::npos);  // said once
}

TEST_F(Template, SnppListUsesTheGroupFilter) {
  testsupport::FakeSnppBehaviour behaviour;
  behaviour.Names = {"Ann", "Bob & Co"};
  testsupport::FakeSnppServer server(behaviour);
  WebRun run;
  run.TemplateFolder = dir_.Path();
  run.Settings.HostName = "127.0.0.1";
  run.Settings.TcpPort = server.Port();
  ASSERT_EQ(ExpandHtmlFile(run, Page("snpp.htm", "%gSales %p")), 0);
  EXPECT_EQ(run.Out, "<option> Ann\n<option> Bob &amp; Co\n");
  EXPECT_EQ(server.Received(), "LIST Sales\nQUIT\n");
}

TEST(ScriptPath, ScriptNameWinsElseTheFolderRule) {
  EXPECT_EQ(ScriptPathFor("/cgi-bin/corvweb", "/x/y/corvweb"), "/cgi-bin/corvweb");
  EXPECT_EQ(ScriptPathFor(nullptr, "/srv/scripts/tools/corvweb"), "/scripts/tools/corvweb");
  EXPECT_EQ(ScriptPathFor("", "/usr/lib/cgi-bin/corvweb"), "/cgi-bin/corvweb");
}

}  // namespace
}  // namespace web
