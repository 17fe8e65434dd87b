// Where the pipe lives and who may take it over: the path rule, the folder checks and the
// socket's mode, tried from a second user where it matters (the tests run as root and
// drop to "nobody" in a child process).
#include "platform/pipe_path.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/pipe_endpoint.h"

namespace {

namespace fs = std::filesystem;

uid_t NobodyUid() {
  const passwd* pw = ::getpwnam("nobody");
  return pw != nullptr ? pw->pw_uid : 65534;
}

// Runs body in a child process as the user nobody; its result is the child's exit status.
int AsNobody(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const uid_t uid = NobodyUid();
    if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) _exit(99);
    _exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

class PipePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    root_ = "/tmp/corvel-pathtest-" + std::to_string(::getpid());
    fs::remove_all(root_);
    fs::create_directory(root_);
    ::chmod(root_.c_str(), 0755);  // the second user must reach what is inside
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }
  std::string Folder(const std::string& name, mode_t mode, uid_t owner = 0) const {
    const std::string path = root_ + "/" + name;
    fs::create_directory(path);
    ::chmod(path.c_str(), mode);
    if (::chown(path.c_str(), owner, owner) != 0) ADD_FAILURE() << "chown " << path;
    return path;
  }
  std::string root_;
};

TEST_F(PipePathTest, ServerRefusesFoldersOthersControl) {
  platform::UniqueFd fd;
  // Another user's folder: its owner could replace the socket and answer every page.
  const std::string theirs = Folder("theirs", 0755, NobodyUid());
  EXPECT_EQ(platform::PipeListen(theirs + "/CORVD", fd), -EPERM);
  // Writable by the group or by everyone, the sticky /tmp way included.
  for (mode_t mode : {0775, 0757, 01777}) {
    const std::string open = Folder("open" + std::to_string(mode), mode);
    EXPECT_EQ(platform::PipeListen(open + "/CORVD", fd), -EACCES) << std::oct << mode;
    EXPECT_FALSE(fs::exists(open + "/CORVD"));
  }
  // A symlink, even to a good folder.
  const std::string good = Folder("good", 0755);
  fs::create_directory_symlink(good, root_ + "/link");
  EXPECT_EQ(platform::PipeListen(root_ + "/link/CORVD", fd), -ELOOP);
  EXPECT_FALSE(fs::exists(good + "/CORVD"));
  // The good folder itself, and a folder the server makes with its own mode.
  EXPECT_EQ(platform::PipeListen(good + "/CORVD", fd), 0);
  platform::UniqueFd made;
  EXPECT_EQ(platform::PipeListen(root_ + "/new/deeper/CORVD", made), 0);
  struct stat st {};
  ASSERT_EQ(::stat((root_ + "/new/deeper").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(PipePathTest, SocketModeIsChosenAtBindWhateverTheUmask) {
  const mode_t old = ::umask(077);  // a restrictive umask must not narrow the pipe's mode
  platform::UniqueFd everyone;
  platform::UniqueFd group;
  const std::string folder = Folder("modes", 0755);
  ASSERT_EQ(platform::PipeListen(folder + "/all", everyone, platform::PipeAccess::kEveryone), 0);
  ASSERT_EQ(platform::PipeListen(folder + "/group", group, platform::PipeAccess::kGroup), 0);
  EXPECT_EQ(::umask(old), 077u) << "the umask is given back";
  struct stat st {};
  ASSERT_EQ(::lstat((folder + "/all").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  ASSERT_EQ(::lstat((folder + "/group").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);

  // Another user who is not in the group reaches the first and not the second.
  auto serve = [](const platform::UniqueFd& listener) {
    return std::thread([&listener] {
      platform::UniqueFd conn;
      if (platform::PipeAccept(listener, conn) != 0) return;
      char buf[100];
      size_t real = 0;
      if (platform::PipeReceive(conn, buf, real) > 0) (void)platform::PipeSend(conn, std::string("OK"));
    });
  };
  std::thread server = serve(everyone);
  EXPECT_EQ(AsNobody([&] {
              char reply[16];
              return platform::PipeTransact(folder + "/all", std::string("x"), reply, 2000) == 2 ? 0 : 1;
            }),
            0);
  server.join();
  EXPECT_EQ(AsNobody([&] {
              char reply[16];
              return platform::PipeTransact(folder + "/group", std::string("x"), reply, 2000) == -EACCES ? 0 : 1;
            }),
            0);
}

TEST_F(PipePathTest, ClientsSearchNamedThenSystemThenTheirOwnFolder) {
  const std::string system = Folder("run-corvel", 0755);
  const platform::PipePlaces places{"", system, root_ + "/private"};
  EXPECT_EQ(platform::ChoosePipePath({"/x/CORVD", system, root_ + "/private"}), "/x/CORVD");
  // root owns the system folder: server and clients use it.
  EXPECT_EQ(platform::ChoosePipePath(places), system + "/CORVD");
  // A user who neither owns nor may make it, and finds no socket there, uses its own folder.
  EXPECT_EQ(AsNobody([&] { return platform::ChoosePipePath(places) == root_ + "/private/CORVD" ? 0 : 1; }), 0);
  EXPECT_EQ(AsNobody([&] {
              return platform::ChoosePipePath({"", root_ + "/missing", root_ + "/p"}) == root_ + "/p/CORVD" ? 0 : 1;
            }),
            0);
  // A server is there: a CGI run as another user finds it.
  platform::UniqueFd server;
  ASSERT_EQ(platform::PipeListen(system + "/CORVD", server), 0);
  EXPECT_EQ(AsNobody([&] { return platform::ChoosePipePath(places) == system + "/CORVD" ? 0 : 1; }), 0);
  // root could make a missing system folder, so it would serve there.
  EXPECT_EQ(platform::ChoosePipePath({"", root_ + "/missing", root_ + "/p"}), root_ + "/missing/CORVD");
}

TEST_F(PipePathTest, PrivateFolderFromRuntimeDirElseTmp) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
  EXPECT_EQ(platform::PrivatePipeFolder(), root_ + "/corvel");
  ::setenv("XDG_RUNTIME_DIR", "relative", 1);
  EXPECT_EQ(platform::PrivatePipeFolder(), "/tmp/corvel-0");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(platform::PrivatePipeFolder(), "/tmp/corvel-0");
  ::setenv("CORVEL_PIPE", "/tmp/x/y", 1);
  EXPECT_EQ(platform::PipePath(), "/tmp/x/y");
  ::unsetenv("CORVEL_PIPE");
  if (saved) ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

TEST_F(PipePathTest, ServerMakesItsPrivateFolderPrivateAndClientsDistrustAnotherUsers) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
  const std::string mine = platform::PrivatePipeFolder() + "/CORVD";
  platform::UniqueFd server;
  ASSERT_EQ(platform::PipeListen(mine, server), 0);
  struct stat st {};
  ASSERT_EQ(::stat(platform::PrivatePipeFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  server.Reset();
  fs::remove_all(platform::PrivatePipeFolder());

  // Someone else made "our" private folder first and put a live socket in it: the server
  // will not use it, and neither will this user's clients.
  const std::string planted = Folder("corvel", 0755, NobodyUid());
  platform::UniqueFd theirs;
  ASSERT_EQ(AsNobody([&] {
              platform::UniqueFd fd;
              return platform::PipeListen(planted + "/CORVD", fd) == 0 ? 0 : 1;  // fine for its owner
            }),
            0);
  EXPECT_EQ(platform::PipeListen(mine, server), -EPERM);
  char reply[8];
  EXPECT_EQ(platform::PipeTransact(mine, std::string("x"), reply, 200), -EPERM);
  if (saved) {
    ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

}  // namespace
