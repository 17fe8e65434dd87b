// tests/pipe_access_test.cpp - who may take over or use the request pipe, tried with the real
// programs: corvd32 run by root, and corvweb run as the user nobody the way a web server
// runs a CGI program. The tests run as root and drop to nobody in a child process.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;

constexpr int kStartMs = 15000;

uid_t NobodyUid() {
  const passwd* pw = ::getpwnam("nobody");
  return pw != nullptr ? pw->pw_uid : 65534;
}

// Runs a program as nobody (with the given supplementary groups) in folder, with env as its
// whole environment; what it printed, and its exit status (-1 when it did not end in time).
std::string RunAsNobody(const std::string& program, const std::vector<gid_t>& groups, const std::string& folder,
                        const std::map<std::string, std::string>& env, int& status) {
  int out[2];
  if (::pipe(out) != 0) return "";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::close(out[0]);
    const uid_t uid = NobodyUid();
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(uid, uid, uid) != 0 ||
        ::setresuid(uid, uid, uid) != 0 || ::chdir(folder.c_str()) != 0) {
      _exit(99);
    }
    std::vector<std::string> texts;
    for (const auto& [name, value] : env) texts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& t : texts) envp.push_back(t.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(program.c_str(), argv, envp.data());
    _exit(98);
  }
  ::close(out[1]);
  std::string text;
  char buf[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{out[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int raw = 0;
  status = -1;
  const bool ended = testsupport::WaitUntil([&] { return ::waitpid(pid, &raw, WNOHANG) == pid; }, 20000, 20);
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &raw, 0);
  } else if (WIFEXITED(raw)) {
    status = WEXITSTATUS(raw);
  }
  return text;
}

class PipeAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    ::chmod(dir_.Path().c_str(), 0755);  // nobody must reach the pipes inside
  }
  // A folder for a pipe, with its owner and mode.
  std::string Folder(const std::string& name, mode_t mode, uid_t owner = 0) const {
    const std::string path = dir_.File(name);
    fs::create_directory(path);
    ::chmod(path.c_str(), mode);
    if (::chown(path.c_str(), owner, owner) != 0) ADD_FAILURE() << "chown " << path;
    return path;
  }
  // corvd32 in its own state folder, on pipe, with extra page.ini lines.
  std::unique_ptr<ChildProcess> Server(const std::string& state, const std::string& pipe,
                                       const std::string& extra = "") const {
    fs::create_directories(state);
    testsupport::WriteFile(state + "/page.ini", extra + "PagerSystemsSection\n[Metro]\nPort = '" + state +
                                                    "/no-such-port'\n"
                                                    "NameSection\n[Ann]\nPageID = '1001'\nPagerType = "
                                                    "Alphanumeric\nSystemName = 'Metro'\n");
    return std::make_unique<ChildProcess>(testsupport::ProgramPath("corvd32"), std::vector<std::string>{}, state,
                                          std::map<std::string, std::string>{{"CORVEL_PIPE", pipe}});
  }
  // corvweb's status view as a CGI run as nobody.
  std::string StatusAsNobody(const std::string& pipe, const std::vector<gid_t>& groups = {}) const {
    int status = 0;
    const std::string out =
        RunAsNobody(testsupport::ProgramPath("corvweb"), groups, dir_.Path(),
                    {{"CORVEL_PIPE", pipe}, {"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "status"}}, status);
    EXPECT_EQ(status, 0) << out;
    return out;
  }
  testsupport::TempDir dir_;
};

// A folder someone else controls could hold their socket in place of the server's, and they
// would read every page and answer "OK": the server does not start there.
TEST_F(PipeAccess, ServerRefusesAFolderOthersControl) {
  const std::string good = Folder("good", 0755);
  fs::create_directory_symlink(good, dir_.File("link"));
  const std::string folders[] = {Folder("theirs", 0755, NobodyUid()), Folder("group", 0775), Folder("others", 0757),
                                 Folder("sticky", 01777), dir_.File("link")};
  for (const std::string& folder : folders) {
    const std::string state = dir_.File("state-" + fs::path(folder).filename().string());
    auto server = Server(state, folder + "/CORVD");
    EXPECT_EQ(server->Wait(kStartMs), 1) << folder;
    EXPECT_NE(testsupport::ReadFile(state + "/log.txt").find("Error: Creat Pipe(ReceiveThread)"), std::string::npos)
        << folder;
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/CORVD"))) << folder;
  }
  EXPECT_FALSE(fs::exists(good + "/CORVD"));
}

// PipeAccess = Everyone lets any local user's CGI use the pipe; Group only the server's group.
TEST_F(PipeAccess, SocketModeFollowsPipeAccessAndACgiOfAnotherUserUsesIt) {
  const std::string folder = Folder("run", 0755);
  const std::string everyonePipe = folder + "/everyone";
  const std::string groupPipe = folder + "/group";
  auto everyone = Server(dir_.File("state-everyone"), everyonePipe);
  auto group = Server(dir_.File("state-group"), groupPipe, "GlobalSection\nPipeAccess = Group\n");
  ASSERT_TRUE(testsupport::WaitForPipe(everyonePipe, kStartMs));
  ASSERT_TRUE(testsupport::WaitForPipe(groupPipe, kStartMs));

  struct stat st {};
  ASSERT_EQ(::lstat(everyonePipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  ASSERT_EQ(::lstat(groupPipe.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  const gid_t serverGroup = st.st_gid;

  const std::string report = "<PRE>\nCorvel.  Version";
  EXPECT_NE(StatusAsNobody(everyonePipe).find(report), std::string::npos);
  const std::string refused = StatusAsNobody(groupPipe);
  EXPECT_EQ(refused.find(report), std::string::npos) << refused;
  EXPECT_NE(refused.find("<H1>Error getting status.</H1>"), std::string::npos) << refused;
  // A web server's user added to the server's group gets through.
  EXPECT_NE(StatusAsNobody(groupPipe, {serverGroup}).find(report), std::string::npos);
  everyone->Stop(SIGTERM);
  group->Stop(SIGTERM);
}

}  // namespace
