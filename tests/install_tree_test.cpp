// cmake --install, checked as an operator would meet it: every file in its place with its
// mode and nothing else, units that systemd accepts, manual pages that render cleanly, the
// system user, a log rotation under a running server, and the installed corvd32 on the
// installed configuration.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::TempDir;

constexpr int kCommandMs = 120000;

struct Result {
  int Status = -1;
  std::string Output;  // stdout and stderr together
};

// One shell command in folder, bounded in time.
Result Shell(const std::string& command, const std::string& folder,
             const std::map<std::string, std::string>& env = {}) {
  fs::remove(folder + "/sh.out");
  ChildProcess child("/bin/sh", {"-c", command}, folder, env);
  Result r;
  r.Status = child.Wait(kCommandMs);
  r.Output = child.Output();
  return r;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// One install of this build under a scratch DESTDIR, shared by the cases of the suite.
class InstallTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    stage_ = dir_->File("stage");
    const Result r = Shell("cmake --install '" CORVEL_BINARY_DIR "'", dir_->Path(), {{"DESTDIR", stage_}});
    installed_ = r.Status == 0;
    installLog_ = r.Output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(installed_) << installLog_; }
  static std::string Staged(const std::string& absolute) { return stage_ + absolute; }

  static TempDir* dir_;
  static std::string stage_;
  static bool installed_;
  static std::string installLog_;
};
TempDir* InstallTree::dir_ = nullptr;
std::string InstallTree::stage_;
bool InstallTree::installed_ = false;
std::string InstallTree::installLog_;

const std::vector<std::string> kPrograms = {"corvd32",  "corvnet32", "corvpop32", "corvweb",
                                            "corvsend", "corvadmin", "corvhttp"};
const std::vector<std::string> kUnits = {"corvd32.service", "corvnet32.service", "corvnet32.socket",
                                         "corvpop32.service", "corvhttp.service"};
const std::vector<std::string> kManPages = {"man8/corvd32.8",     "man8/corvnet32.8", "man8/corvpop32.8",
                                            "man8/corvweb.8",     "man8/corvadmin.8", "man1/corvsend.1",
                                            "man5/page.ini.5",    "man5/SNPP.INI.5",  "man5/POPPAGE.INI.5",
                                            "man5/wwwpage.ini.5", "man8/corvhttp.8",  "man5/HTTP.INI.5"};

TEST_F(InstallTree, EveryFileInItsPlaceWithItsModeAndNothingElse) {
  std::map<std::string, mode_t> expected;
  const std::string bin = CORVEL_INSTALL_BINDIR, conf = CORVEL_INSTALL_CONFDIR, data = CORVEL_INSTALL_DATADIR;
  for (const auto& p : kPrograms) expected[bin + "/" + p] = 0755;
  expected[std::string(CORVEL_INSTALL_PREFIX) + "/lib/cgi-bin/corvweb"] = 0755;
  for (const char* f : {"page.ini", "SNPP.INI", "wwwpage.ini", "HTTP.INI"}) expected[conf + "/corvel/" + f] = 0644;
  expected[conf + "/corvel/POPPAGE.INI"] = 0640;  // mailbox passwords
  expected[conf + "/logrotate.d/corvel"] = 0644;
  for (const char* f : {"page.ini", "SNPP.INI", "POPPAGE.INI", "wwwpage.ini", "HTTP.INI", "corvweb-lighttpd.conf",
                        "corvweb-apache.conf"}) {
    expected[data + "/doc/corvel/examples/" + f] = 0644;
  }
  for (const char* f : {"form.htm", "ok.htm", "bad.htm"}) expected[data + "/corvel/www/" + f] = 0644;
  for (const auto& u : kUnits) expected[std::string(CORVEL_INSTALL_UNITDIR) + "/" + u] = 0644;
  expected[std::string(CORVEL_INSTALL_SYSUSERSDIR) + "/corvel.conf"] = 0644;
  expected[std::string(CORVEL_INSTALL_UDEVDIR) + "/60-corvel-modems.rules"] = 0644;
  for (const auto& m : kManPages) expected[std::string(CORVEL_INSTALL_MANDIR) + "/" + m] = 0644;

  std::map<std::string, mode_t> found;
  for (const auto& entry : fs::recursive_directory_iterator(stage_)) {
    if (entry.is_directory()) continue;
    struct stat st {};
    ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
    found[entry.path().string().substr(stage_.size())] = st.st_mode & 07777;
  }
  for (const auto& [path, mode] : expected) {
    auto it = found.find(path);
    if (it == found.end()) {
      ADD_FAILURE() << "missing: " << path;
      continue;
    }
    EXPECT_EQ(it->second, mode) << path << " has mode " << std::oct << it->second;
  }
  for (const auto& [path, mode] : found) EXPECT_TRUE(expected.count(path)) << "not expected: " << path;
  // The cgi-bin copy is the same program.
  EXPECT_EQ(testsupport::ReadFile(Staged(bin + "/corvweb")),
            testsupport::ReadFile(Staged(std::string(CORVEL_INSTALL_PREFIX) + "/lib/cgi-bin/corvweb")));
}

// systemd-analyze verify checks every key, the ordering, and that each ExecStart program and
// each Documentation page exists: the units are checked against the staged tree.
TEST_F(InstallTree, UnitsPassSystemdAnalyzeVerify) {
  TempDir units;
  std::string files;
  for (const auto& u : kUnits) {
    std::string text = testsupport::ReadFile(Staged(std::string(CORVEL_INSTALL_UNITDIR) + "/" + u));
    ASSERT_FALSE(text.empty()) << u;
    text = Replace(text, "ExecStart=" CORVEL_INSTALL_BINDIR "/", "ExecStart=" + Staged(CORVEL_INSTALL_BINDIR) + "/");
    units.Write(u, text);
    files += " '" + units.File(u) + "'";
  }
  const Result r = Shell("systemd-analyze verify" + files, units.Path(),
                         {{"MANPATH", Staged(CORVEL_INSTALL_MANDIR)}, {"SYSTEMD_LOG_COLOR", "0"}});
  EXPECT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(r.Output, "") << "warnings (an unknown key is only a warning)";

  // The check itself catches a misspelt key.
  units.Write("broken.service", "[Service]\nTyp=notify\nExecStart=/bin/true\n");
  const Result bad = Shell("systemd-analyze verify '" + units.File("broken.service") + "'", units.Path());
  EXPECT_NE(bad.Output.find("Unknown key"), std::string::npos) << bad.Output;
}

TEST_F(InstallTree, ManualPagesRenderWithoutWarnings) {
  // Every built page, the ones installed with later programs too.
  std::vector<std::string> pages;
  for (const auto& entry : fs::directory_iterator(CORVEL_BINARY_DIR "/man")) pages.push_back(entry.path().string());
  EXPECT_GE(pages.size(), kManPages.size());
  for (const auto& page : pages) {
    const Result warnings = Shell("MANWIDTH=80 man --warnings -l '" + page + "' >/dev/null", dir_->Path());
    EXPECT_EQ(warnings.Status, 0) << page;
    EXPECT_EQ(warnings.Output, "") << page;
    const Result text = Shell("MANWIDTH=80 man -l '" + page + "' 2>/dev/null", dir_->Path());
    EXPECT_NE(text.Output.find("NAME"), std::string::npos) << page;
  }
  // Each installed program has its page, and each configuration file.
  for (const auto& p : kPrograms) {
    const bool has = fs::exists(Staged(std::string(CORVEL_INSTALL_MANDIR) + "/man8/" + p + ".8")) ||
                     fs::exists(Staged(std::string(CORVEL_INSTALL_MANDIR) + "/man1/" + p + ".1"));
    EXPECT_TRUE(has) << p;
  }
}

TEST_F(InstallTree, SysusersMakesTheUserInDialout) {
  TempDir root;
  fs::create_directories(root.File("etc"));
  const std::string conf = Staged(std::string(CORVEL_INSTALL_SYSUSERSDIR) + "/corvel.conf");
  const Result r = Shell("systemd-sysusers --root='" + root.Path() + "' '" + conf + "'", root.Path());
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_TRUE(std::regex_search(testsupport::ReadFile(root.File("etc/passwd")),
                                std::regex("^corvel:x:[0-9]+:[0-9]+:[^:]*:/var/lib/corvel:", std::regex::multiline)));
  EXPECT_TRUE(std::regex_search(testsupport::ReadFile(root.File("etc/group")),
                                std::regex("^dialout:x:[0-9]+:(.*,)?corvel(,|$)", std::regex::multiline)));
  EXPECT_TRUE(std::regex_search(testsupport::ReadFile(root.File("etc/group")),
                                std::regex("^corvel:x:", std::regex::multiline)));
}

// The installed server, on the installed configuration, with its state in a folder of its
// own (as the unit's WorkingDirectory gives it); the log is rotated under it by the
// installed logrotate rule, and the next line starts a fresh log.txt.
TEST_F(InstallTree, InstalledServerRunsOnInstalledConfigurationAndSurvivesRotation) {
  TempDir state;
  const std::string pipe = state.File("CORVD");
  const std::string conf = Staged(std::string(CORVEL_INSTALL_CONFDIR) + "/corvel");
  const std::map<std::string, std::string> env = {{"CORVEL_PIPE", pipe}};
  ChildProcess server(Staged(std::string(CORVEL_INSTALL_BINDIR) + "/corvd32"), {"-c", conf}, state.Path(), env);
  ASSERT_TRUE(testsupport::WaitForPipe(pipe, 15000)) << server.Output();
  const std::string admin = Staged(std::string(CORVEL_INSTALL_BINDIR) + "/corvadmin");
  const Result persons = Shell("'" + admin + "' persons", state.Path(), env);
  EXPECT_EQ(persons.Status, 0) << persons.Output;
  EXPECT_NE(persons.Output.find("Ann"), std::string::npos) << persons.Output;
  // A page's reply names its number, and the number finds the page's record (an AT page, so
  // nothing dials the sample's serial port).
  const Result paged = Shell("'" + admin + "' at Ann 2037-12-24 08:00 'from the shell'", state.Path(), env);
  EXPECT_EQ(paged.Status, 0) << paged.Output;
  EXPECT_EQ(paged.Output, "OK #1\n");
  const Result record = Shell("'" + admin + "' status-of 1", state.Path(), env);
  EXPECT_EQ(record.Status, 0) << record.Output;
  EXPECT_EQ(record.Output.rfind("number=1\tstate=scheduled\t", 0), 0u) << record.Output;
  EXPECT_NE(record.Output.find("\tname=Ann\t"), std::string::npos) << record.Output;
  ASSERT_TRUE(testsupport::WaitForFileText(state.File("log.txt"), "Paging server started successfully", 5000));

  // The installed rule, pointed at this folder and run as this user.
  std::string rule = testsupport::ReadFile(Staged(std::string(CORVEL_INSTALL_CONFDIR) + "/logrotate.d/corvel"));
  ASSERT_NE(rule.find("/var/lib/corvel/log.txt"), std::string::npos);
  rule = Replace(rule, "/var/lib/corvel/log.txt", state.File("log.txt"));
  rule = Replace(rule, "corvel corvel", "root root");
  state.Write("rotate.conf", rule);
  const Result rotate =
      Shell("logrotate -f -s '" + state.File("rotate.state") + "' '" + state.File("rotate.conf") + "'", state.Path());
  ASSERT_EQ(rotate.Status, 0) << rotate.Output;
  ASSERT_TRUE(fs::exists(state.File("log.txt.1")));
  EXPECT_NE(state.Read("log.txt.1").find("Paging server started successfully"), std::string::npos);

  const Result refused = Shell("'" + admin + "' page Nobody 'after the rotation'", state.Path(), env);
  EXPECT_EQ(refused.Status, 1) << refused.Output;
  EXPECT_TRUE(testsupport::WaitForFileText(state.File("log.txt"), "Nobody", 5000)) << "no fresh log.txt";
  EXPECT_EQ(state.Read("log.txt.1").find("Nobody"), std::string::npos);

  EXPECT_EQ(server.Stop(SIGTERM, 10000), 0);
  EXPECT_NE(state.Read("log.txt").find("Paging server ended successfully"), std::string::npos);
  EXPECT_FALSE(fs::exists(conf + "/log.txt")) << "state was written into the configuration folder";
  EXPECT_FALSE(fs::exists(conf + "/at.dat"));
}

}  // namespace
