// page.ini: the grammar, its actions, the add rules they trigger and the exact log lines.
#include "directory/page_ini.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"

namespace directory {
namespace {

class PageIni : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvpageini.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    common::SetProgramName("CORVD32");
    common::SetLogFileName(dir_ + "/log.txt");
    hooks_.RegisterPort = [this](std::string_view port) { ports_.emplace_back(port); };
    hooks_.ResizeMainQueue = [this](int entries) { resized_.push_back(entries); };
  }
  void TearDown() override {
    common::SetLogFileName("");
    std::filesystem::remove_all(dir_);
  }

  int Parse(const std::string& text) { return ParsePageIniText(text, "page.ini", d_, s_, hooks_); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string Log() {
    std::ifstream in(dir_ + "/log.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }
  int LogLines() {
    const std::string log = Log();
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }

  const SystemRecord* System(std::string_view name) {
    const int i = d_.FindSystemByName(name);
    return i < 0 ? nullptr : &d_.Systems[i];
  }
  const PersonRecord* Person(std::string_view name) {
    const int i = d_.FindPersonByName(name);
    return i < 0 ? nullptr : &d_.Persons[i];
  }
  std::vector<std::string> Members(std::string_view group) {
    const int g = d_.FindGroup(group);
    return g < 0 ? std::vector<std::string>{"<no group>"} : GroupMembers(d_.Groups[g]);
  }

  std::string dir_;
  Directory d_;
  PageIniSettings s_;
  PageIniHooks hooks_;
  std::vector<std::string> ports_;
  std::vector<int> resized_;
};

constexpr const char* kSample =
    "; sample directory\n"
    "GlobalSection\n"
    "HostName = 'snpp.example'\n"
    "TcpPort = 444\n"
    "MaxReTrys = 3\n"
    "PagerSystemsSection\n"
    "[Metro North]\n"
    "SystemType = Tap\n"
    "Port = 'COM1'\n"
    "Port = \"/dev/pts/7\"\n"
    "Baud = 2400\n"
    "Parity = Even\n"
    "DataBits = 7\n"
    "StopBits = 1\n"
    "SystemPhoneNumber = '5551234'\n"
    "ModemInitString = 'ATZ'\n"
    "MaxMessageLength = 80\n"
    "MultipleMessageMode = Disabled\n"
    "[Numeric]\n"
    "SystemType = UCP\n"
    "ModemInitString = Auto\n"
    "Port = 'COM2'\n"
    "NameSection\n"
    "[Ann]\n"
    "PageID = '12345'\n"
    "PagerType = Alphanumeric\n"
    "SystemName = 'Metro North'\n"
    "Group = 'Sales'\n"
    "[Bob]\n"
    "PageID = '777'\n"
    "PagerType = Numeric\n"
    "SuppressNameDisplay = Enabled\n"
    "GroupSection\n"
    "[Support]\n"
    "Name = 'Ann'\n"
    "Name = 'bob'\n";

TEST_F(PageIni, SampleFillsSystemsPersonsGroupsAndSettings) {
  ASSERT_EQ(Parse(kSample), 0) << Log();
  EXPECT_EQ(Log(), "");
  ASSERT_EQ(d_.SystemCount, 2);
  const SystemRecord* metro = System("metro north");
  ASSERT_NE(metro, nullptr);
  EXPECT_EQ(metro->SystemType, SystemType::Tap);
  ASSERT_EQ(metro->PortCount, 2);
  EXPECT_EQ(metro->Port[0], "COM1");
  EXPECT_EQ(metro->Port[1], "/dev/pts/7");
  EXPECT_EQ(metro->Baud, 2400);
  EXPECT_EQ(metro->Parity, 'E');
  EXPECT_EQ(metro->DataBits, 7);
  EXPECT_EQ(metro->StopBits, 1);
  EXPECT_EQ(metro->SystemPhoneNumber, "5551234");
  EXPECT_EQ(metro->ModemInitString, "ATZ");
  EXPECT_FALSE(metro->ModemAutoInit);
  EXPECT_EQ(metro->MaxMessageLength, 80);
  EXPECT_FALSE(metro->MultipleMessageMode);
  EXPECT_EQ(metro->MaxPagesPerConnection, 20);
  const SystemRecord* numeric = System("Numeric");
  ASSERT_NE(numeric, nullptr);
  EXPECT_EQ(numeric->SystemType, SystemType::UCP);
  EXPECT_TRUE(numeric->ModemAutoInit);
  EXPECT_TRUE(numeric->MultipleMessageMode);  // the defaults of a fresh entry
  EXPECT_EQ(numeric->MaxMessageLength, 230);
  EXPECT_EQ(ports_, (std::vector<std::string>{"COM1", "/dev/pts/7", "COM2"}));

  ASSERT_EQ(d_.PersonCount, 2);
  EXPECT_EQ(Person("ann")->PageID, "12345");
  EXPECT_EQ(Person("Ann")->PagerType, PagerType::Alphanumeric);
  EXPECT_EQ(Person("Ann")->SystemName, "Metro North");
  EXPECT_TRUE(Person("Bob")->SuppressNameDisplay);
  EXPECT_EQ(Members("Sales"), (std::vector<std::string>{"Ann"}));
  EXPECT_EQ(Members("support"), (std::vector<std::string>{"Ann", "bob"}));

  EXPECT_EQ(s_.HostName, "snpp.example");
  EXPECT_EQ(s_.TcpPort, 444);
  EXPECT_EQ(s_.MaxReTrys, 3);
  EXPECT_TRUE(s_.ReadNamesFromServer);  // untouched defaults
  EXPECT_TRUE(s_.ClientTypeFull);
}

TEST_F(PageIni, CrLfFileReadsLikeLfFile) {
  std::string crlf;
  for (const char* p = kSample; *p; ++p) {
    if (*p == '\n') crlf += '\r';
    crlf += *p;
  }
  ASSERT_EQ(LoadPageIni(WriteFile("page.ini", crlf), d_, s_, hooks_), 0) << Log();
  EXPECT_EQ(d_.SystemCount, 2);
  EXPECT_EQ(d_.PersonCount, 2);
  EXPECT_EQ(System("Metro North")->Port[0], "COM1");
  EXPECT_EQ(Members("Support"), (std::vector<std::string>{"Ann", "bob"}));
}

TEST_F(PageIni, MissingFileIsLoggedAndChangesNothing) {
  s_.TcpPort = 1234;
  EXPECT_EQ(LoadPageIni(dir_ + "/page.ini", d_, s_, hooks_.RegisterPort), 1);
  EXPECT_TRUE(Logged(" CORVD32: Error opening PAGE.INI file - File not found\n")) << Log();
  EXPECT_EQ(LogLines(), 1);
  EXPECT_EQ(d_.SystemCount, 0);
  EXPECT_EQ(s_.TcpPort, 1234);
}

TEST_F(PageIni, SyntaxErrorsNameTokenAndLineAndParsingGoesOn) {
  const std::string text =
      "PagerSystemsSection\n"      // 1
      "[A]\n"                      // 2
      "Baud = 2400 ; fast line\n"  // 3
      "Parity = Purple\n"          // 4
      ";comment\n"                 // 5
      "Baud =\n"                   // 6
      "Port = 'COM1'\n"            // 7: skipped with the error on line 6's line feed
      "Port = 'COM2'\n"            // 8
      "Baud 2400\n"                // 9
      "[B]\n";                     // 10
  EXPECT_EQ(Parse(text), 1);
  const std::string log = Log();
  EXPECT_NE(log.find(" CORVD32: File: 'page.ini'  Syntax error (Purple) in line - 4\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" CORVD32: File: 'page.ini'  Syntax error (;comment) in line - 5\n"), std::string::npos);
  EXPECT_NE(log.find(" CORVD32: File: 'page.ini'  Syntax error (\n) in line - 7\n"), std::string::npos);
  EXPECT_NE(log.find(" CORVD32: File: 'page.ini'  Syntax error (2400) in line - 9\n"), std::string::npos);
  ASSERT_EQ(d_.SystemCount, 2);
  const SystemRecord* a = System("A");
  EXPECT_EQ(a->Baud, 2400);
  ASSERT_EQ(a->PortCount, 1);
  EXPECT_EQ(a->Port[0], "COM2");
  EXPECT_NE(System("B"), nullptr);
}

TEST_F(PageIni, LoneSemicolonHidesTheNextLine) {
  EXPECT_EQ(Parse("PagerSystemsSection\n[A]\n;\nBaud = 1200\nDataBits = 8\n"), 0) << Log();
  EXPECT_EQ(System("A")->Baud, 0);
  EXPECT_EQ(System("A")->DataBits, 8);
}

TEST_F(PageIni, LastLineWithoutLineFeedIsLost) {
  EXPECT_EQ(Parse("Debug = Enabled"), 0);
  EXPECT_FALSE(s_.Debug);
  EXPECT_EQ(Parse("Debug = Enabled\n"), 0);
  EXPECT_TRUE(s_.Debug);
  EXPECT_EQ(Parse("Debug = Disabled\nDebug = Enabled"), 0);
  EXPECT_FALSE(s_.Debug);
}

TEST_F(PageIni, KeywordsIgnoreLetterCase) {
  EXPECT_EQ(Parse("pagersystemssection\n[A]\nbaud = 1200\nPARITY = odd\nsystemtype = tapm\n"), 0) << Log();
  EXPECT_EQ(System("A")->Baud, 1200);
  EXPECT_EQ(System("A")->Parity, 'O');
  EXPECT_EQ(System("A")->SystemType, SystemType::TapM);
}

TEST_F(PageIni, SystemValueRules) {
  const std::string text =
      "PagerSystemsSection\n"
      "[S1]\nStopBits = 1.5\nMaxMessageLength = 10\nDataBits = 263\n"
      "[S2]\nStopBits = 2\nMaxMessageLength = 5000\nOverrideTcpPort = 70000\n"
      "[S3]\nStopBits = 7\nMaxMessageLength = 4000\nParity = Mark\nSystemType = Script\n"
      "ScriptFileName = 'dial.scr'\nOverrideHostName = 'h'\nOverrideLanServerName = 'l'\n"
      "MaxPagesPerConnection = 5\n";
  ASSERT_EQ(Parse(text), 0) << Log();
  EXPECT_EQ(System("S1")->StopBits, 3);
  EXPECT_EQ(System("S1")->MaxMessageLength, 60);
  EXPECT_EQ(System("S1")->DataBits, 7);  // low 8 bits of 263
  EXPECT_EQ(System("S2")->StopBits, 2);
  EXPECT_EQ(System("S2")->MaxMessageLength, 4000);
  EXPECT_EQ(System("S2")->OverrideTcpPort, 70000 - 65536);
  EXPECT_EQ(System("S3")->StopBits, 0);  // an unexpected StopBits leaves the value as it was
  EXPECT_EQ(System("S3")->MaxMessageLength, 4000);
  EXPECT_EQ(System("S3")->Parity, 'M');
  EXPECT_EQ(System("S3")->SystemType, SystemType::Script);
  EXPECT_EQ(System("S3")->ScriptFileName, "dial.scr");
  EXPECT_EQ(System("S3")->OverrideHostName, "h");
  EXPECT_EQ(System("S3")->OverrideLanServerName, "l");
  EXPECT_EQ(System("S3")->MaxPagesPerConnection, 20);
}

TEST_F(PageIni, TapPassWordIsMappedAndCut) {
  const std::string text =
      "PagerSystemsSection\n[T]\nBaud = 300\nTapPassWord = 'ab-cd_ef'\n"
      "[U]\nTapPassWord = 'ABCDEFGHIJKLMNOPQRSTUVWXY'\nBaud = 1200\nPort = 'COM3'\n";
  ASSERT_EQ(Parse(text), 0) << Log();
  EXPECT_EQ(System("T")->TapPassWord, "abAcdAef");
  EXPECT_EQ(System("T")->Baud, 300);
  EXPECT_EQ(System("U")->TapPassWord, "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(System("U")->Baud, 1200);
  EXPECT_EQ(System("U")->Port[0], "COM3");
}

TEST_F(PageIni, GlobalSettings) {
  const std::string logName = dir_ + "/other.log";
  const std::string text =
      "LanServerName = 'lan1'\nDisplayGroupName = 'Everyone'\nDialingPrefix = '9,'\n"
      "MapCodePage = CP850\nLogMessages = Enabled\nReadNamesFromServer = Disabled\nClientType = Slim\n"
      "MaxReTrys = -5\nLogFileName = '" +
      logName + "'\nDebug = Enabled\n";
  ASSERT_EQ(Parse(text), 0);
  EXPECT_EQ(s_.LanServerName, "lan1");
  EXPECT_EQ(s_.CurrentLanServerName, "lan1");
  EXPECT_EQ(s_.DisplayGroupName, "Everyone");
  EXPECT_EQ(s_.DialingPrefix, "9,");
  EXPECT_EQ(s_.MapCodePage, 1);
  EXPECT_TRUE(s_.LogMessages);
  EXPECT_FALSE(s_.ReadNamesFromServer);
  EXPECT_FALSE(s_.ClientTypeFull);
  EXPECT_EQ(s_.MaxReTrys, -5);
  EXPECT_EQ(s_.LogFileName, logName);
  EXPECT_EQ(common::LogFileName(), logName);  // later lines go to the new file
  EXPECT_TRUE(s_.Debug);
  // A reload changes only what the new file names.
  ASSERT_EQ(Parse("ClientType = Full\n"), 0);
  EXPECT_TRUE(s_.ClientTypeFull);
  EXPECT_EQ(s_.MaxReTrys, -5);
  EXPECT_EQ(s_.LanServerName, "lan1");
}

TEST_F(PageIni, QueueSizeOnlyStrictlyBetween100And30000) {
  ASSERT_EQ(Parse("QueueSize = 100\nQueueSize = 30000\nQueueSize = -3\n"), 0);
  EXPECT_TRUE(resized_.empty());
  EXPECT_EQ(s_.QueueSize, 0);
  ASSERT_EQ(Parse("QueueSize = 500\nQueueSize = 29999\n"), 0);
  EXPECT_EQ(resized_, (std::vector<int>{500, 29999}));
  EXPECT_EQ(s_.QueueSize, 29999);
}

TEST_F(PageIni, PageStoreAndHistoryDaysWithNegativeDaysIgnored) {
  EXPECT_EQ(s_.HistoryDays, 30);
  ASSERT_EQ(Parse("PageStore = '/var/spool/corvel/pages.db'\nHistoryDays = 7\nHistoryDays = -1\n"), 0);
  EXPECT_EQ(s_.PageStore, "/var/spool/corvel/pages.db");
  EXPECT_EQ(s_.HistoryDays, 7);
  ASSERT_EQ(Parse("HistoryDays = 0\n"), 0);
  EXPECT_EQ(s_.HistoryDays, 0);
}

TEST_F(PageIni, PipeAccessEveryoneOrGroup) {
  EXPECT_EQ(s_.PipeAccess, platform::PipeAccess::kEveryone);  // the default
  ASSERT_EQ(Parse("pipeaccess = GROUP\n"), 0) << Log();
  EXPECT_EQ(s_.PipeAccess, platform::PipeAccess::kGroup);
  ASSERT_EQ(Parse("PipeAccess = Everyone\n"), 0) << Log();
  EXPECT_EQ(s_.PipeAccess, platform::PipeAccess::kEveryone);
  // Anything else is a syntax error and leaves the setting alone.
  EXPECT_EQ(Parse("PipeAccess = Group\nPipeAccess = 'Everyone'\nPipeAccess = Nobody\n"), 1);
  EXPECT_EQ(s_.PipeAccess, platform::PipeAccess::kGroup);
}

TEST_F(PageIni, DuplicateSystemByCaseIsRefused) {
  ASSERT_EQ(Parse("PagerSystemsSection\n[Voice]\nPort = 'COM1'\n[voice]\nPort = 'COM9'\n[Data]\n"), 0);
  EXPECT_TRUE(Logged(" CORVD32: System already in list[voice]\n")) << Log();
  EXPECT_EQ(d_.SystemCount, 2);
  EXPECT_EQ(ports_, (std::vector<std::string>{"COM1"}));  // the refused system registers nothing
  EXPECT_EQ(System("Data")->PortCount, 0);                // nor leaks its ports into the next entry
}

TEST_F(PageIni, PersonRules) {
  const std::string text =
      "PagerSystemsSection\n[Metro]\n"
      "NameSection\n"
      "[Ann]\nPageID = '1'\nPagerType = Alphanumeric\nSystemName = 'Nowhere'\nGroup = 'Lost'\n"
      "[Cy]\nPageID = '2'\nPagerType = Numeric\nSystemName = 'Nowhere'\n"
      "[Dee]\nPageID = '3'\nPagerType = Alphanumeric\nSystemName = 'metro'\n"
      "[dee]\nPageID = '4'\nGroup = 'Lost'\n"
      "[Eve]\nPageID = '5'\n";
  ASSERT_EQ(Parse(text), 0);
  EXPECT_TRUE(Logged(" CORVD32: System Name not valid for name(Ann)\n")) << Log();
  EXPECT_TRUE(Logged(" CORVD32: Name already in list[dee]\n"));
  EXPECT_EQ(Person("Ann"), nullptr);
  ASSERT_NE(Person("Cy"), nullptr);  // Numeric persons are not checked
  EXPECT_EQ(Person("Dee")->PageID, "3");
  EXPECT_EQ(Person("Eve")->PageID, "5");
  EXPECT_EQ(d_.FindGroup("Lost"), -1);  // refused persons' groups are dropped with them
  EXPECT_EQ(d_.GroupCount, 0);
}

TEST_F(PageIni, CommandLineClientKeepsPersonsOfUnknownSystems) {
  d_.CheckPersonSystems = false;
  ASSERT_EQ(Parse("NameSection\n[Ann]\nPagerType = Alphanumeric\nSystemName = 'Nowhere'\n[ann]\n"), 0);
  EXPECT_NE(Person("Ann"), nullptr);
  EXPECT_FALSE(Logged("System Name not valid"));
  EXPECT_TRUE(Logged(" CORVD32: Name already in list[ann]\n"));  // duplicates still refused
}

TEST_F(PageIni, GroupKeywordCreatesAndJoinsGroups) {
  const std::string text =
      "NameSection\n"
      "[Ann]\nPageID = '1'\nGroup = 'Sales'\n"
      "[Bob]\nPageID = '2'\nGroup = 'sales'\nGroup = 'Ops'\n"
      "GroupSection\n[Ops]\nName = 'Ann'\n";
  ASSERT_EQ(Parse(text), 0) << Log();
  EXPECT_EQ(Members("Sales"), (std::vector<std::string>{"Ann", "Bob"}));
  EXPECT_EQ(d_.Groups[d_.FindGroup("Sales")].Members, "Ann|Bob|");
  // The Ops made by Bob's Group line comes first; the GroupSection's Ops is stored but never found.
  EXPECT_EQ(Members("Ops"), (std::vector<std::string>{"Bob"}));
  EXPECT_EQ(d_.GroupCount, 3);
  EXPECT_EQ(d_.Groups[2].Members, "Ann|");
}

TEST_F(PageIni, GroupMemberMustBeDefinedEarlier) {
  const std::string text =
      "NameSection\n[Ann]\nPageID = '1'\n"
      "GroupSection\n[Team]\nName = 'Ann'\nName = 'Zed'\n"
      "NameSection\n[Zed]\nPageID = '9'\n";
  ASSERT_EQ(Parse(text), 0);
  EXPECT_TRUE(Logged(" CORVD32: Person's name(Zed) is invalid in group(Team)\n")) << Log();
  EXPECT_EQ(Members("Team"), (std::vector<std::string>{"Ann"}));
  EXPECT_NE(Person("Zed"), nullptr);
}

TEST_F(PageIni, SettingKeywordsActOnTheirOwnRecordInAnySection) {
  // A PageID in the systems section goes to the pending person, stored by the next section.
  ASSERT_EQ(Parse("PagerSystemsSection\n[S]\nPageID = '42'\nBaud = 9600\nNameSection\n[Ann]\n"), 0);
  EXPECT_EQ(System("S")->Baud, 9600);
  EXPECT_EQ(Person("Ann")->PageID, "42");
}

TEST_F(PageIni, LongTextsAreCutToTheirFields) {
  const std::string longText(150, 'x');
  std::string text = "PagerSystemsSection\n[" + std::string(40, 's') + "]\n";
  for (int i = 0; i < 22; ++i) text += "Port = 'P" + std::to_string(i) + longText + "'\n";
  text += "ModemInitString = '" + longText + "'\nSystemPhoneNumber = '" + longText + "'\n";
  text += "NameSection\n[" + std::string(40, 'p') + "]\nPageID = '" + longText + "'\nGroup = '" + std::string(60, 'g') +
          "'\n";
  text += "[Bob]\nGroup = '" + std::string(70, 'g') + "'\n";
  text += "GroupSection\n[" + std::string(60, 'G') + "]\nName = '" + std::string(45, 'p') + "'\n";
  text += "HostName = '" + longText + "'\nDialingPrefix = '12345678901234'\n";
  ASSERT_EQ(Parse(text), 0) << Log();
  const SystemRecord& s = d_.Systems[0];
  EXPECT_EQ(s.SystemName, std::string(29, 's'));
  EXPECT_EQ(s.PortCount, 20);
  EXPECT_EQ(s.Port[0], ("P0" + longText).substr(0, 29));
  EXPECT_EQ(s.ModemInitString.size(), 69u);
  EXPECT_EQ(s.SystemPhoneNumber.size(), 21u);
  EXPECT_EQ(ports_.size(), 20u);
  const PersonRecord& p = d_.Persons[0];
  EXPECT_EQ(p.Name, std::string(31, 'p'));
  EXPECT_EQ(p.PageID.size(), 21u);
  // Both long group names mean the same 49-character group.
  EXPECT_EQ(Members(std::string(49, 'g')), (std::vector<std::string>{std::string(31, 'p'), "Bob"}));
  EXPECT_EQ(d_.Groups[1].Name, std::string(49, 'G'));
  EXPECT_EQ(GroupMembers(d_.Groups[1]), (std::vector<std::string>{std::string(31, 'p')}));
  EXPECT_EQ(s_.HostName.size(), 79u);
  EXPECT_EQ(s_.DialingPrefix, "123456789");
}

TEST_F(PageIni, PendingListStopsBelow61000Characters) {
  std::string text = "NameSection\n[Ann]\nPageID = '1'\nGroupSection\n[Big]\n";
  for (int i = 0; i < 15300; ++i) text += "Name = 'Ann'\n";
  ASSERT_EQ(Parse(text), 0);
  const GroupRecord& big = d_.Groups[d_.FindGroup("Big")];
  EXPECT_EQ(big.Members.size(), 61000u);  // "Ann|" as long as 4 x n + 3 stays below 61000
  EXPECT_EQ(GroupMembers(big).size(), 15250u);
  EXPECT_EQ(LogLines(), 0);  // dropped silently
}

TEST_F(PageIni, FiftiethSystemIsNotCountedButItsPortsAreRegistered) {
  std::string text = "PagerSystemsSection\n";
  for (int i = 1; i <= 51; ++i) text += "[Sys" + std::to_string(i) + "]\nPort = 'COM" + std::to_string(i) + "'\n";
  ASSERT_EQ(Parse(text), 0) << Log();
  EXPECT_EQ(d_.SystemCount, 49);
  EXPECT_GE(d_.FindSystemByName("Sys49"), 0);
  EXPECT_EQ(d_.FindSystemByName("Sys50"), -1);
  EXPECT_EQ(d_.FindSystemByName("Sys51"), -1);
  EXPECT_EQ(d_.Systems[49].SystemName, "Sys51");  // the uncounted last slot is rewritten
  ASSERT_EQ(ports_.size(), 51u);
  EXPECT_EQ(ports_[49], "COM50");
  EXPECT_EQ(ports_[50], "COM51");
}

TEST_F(PageIni, FreshLoadStartsWithAnEmptyPendingList) {
  // Group names left pending by a file whose entry was never stored do not join the next
  // file's first person.
  ASSERT_EQ(Parse("NameSection\nGroup = 'Stale'\n"), 0);
  Directory fresh;
  ASSERT_EQ(ParsePageIniText("NameSection\n[Ann]\nPageID = '1'\n", "page.ini", fresh, s_, hooks_), 0);
  EXPECT_EQ(fresh.PersonCount, 1);
  EXPECT_EQ(fresh.GroupCount, 0);
}

}  // namespace
}  // namespace directory
