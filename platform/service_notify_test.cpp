// Notifications reach the socket systemd names, and the stop wait feeds the watchdog.
#include "platform/service_notify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "platform/signals.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

// A datagram socket standing in for systemd's notification socket, named by NOTIFY_SOCKET
// for the life of the object.
class FakeNotifySocket {
 public:
  FakeNotifySocket() {
    path_ = "/tmp/corvnotify-" + std::to_string(::getpid()) + ".sock";
    ::unlink(path_.c_str());
    fd_.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    bound_ = ::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::setenv("NOTIFY_SOCKET", path_.c_str(), 1);
  }
  ~FakeNotifySocket() {
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
    ::unlink(path_.c_str());
  }
  bool Bound() const { return bound_; }
  // The next message, or "" when none comes within timeoutMs.
  std::string Next(int timeoutMs) {
    pollfd p{fd_.Get(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return "";
    char buf[512];
    const ssize_t n = ::recv(fd_.Get(), buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }

 private:
  std::string path_;
  UniqueFd fd_;
  bool bound_ = false;
};

class ServiceNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ServiceNotifySupported()) GTEST_SKIP() << "built without libsystemd: the calls do nothing";
    ASSERT_TRUE(socket_.Bound());
  }
  FakeNotifySocket socket_;
};

TEST_F(ServiceNotifyTest, ReadyAndStoppingReachTheManager) {
  NotifyReady();
  EXPECT_EQ(socket_.Next(2000), "READY=1");
  NotifyStopping();
  EXPECT_EQ(socket_.Next(2000), "STOPPING=1");
}

TEST_F(ServiceNotifyTest, WatchdogIntervalIsHalfTheUnitsAndOnlyForThisProcess) {
  EXPECT_EQ(WatchdogIntervalMs(), 0) << "no WATCHDOG_USEC: no watchdog";
  ::setenv("WATCHDOG_USEC", "30000000", 1);
  ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
  EXPECT_EQ(WatchdogIntervalMs(), 15000);
  // A child that inherited the service's variables is not the one being watched.
  ::setenv("WATCHDOG_PID", std::to_string(::getpid() + 1).c_str(), 1);
  EXPECT_EQ(WatchdogIntervalMs(), 0);
}

TEST_F(ServiceNotifyTest, StopWaitFeedsTheWatchdogUntilAStopSignal) {
  ::setenv("WATCHDOG_USEC", "200000", 1);  // fed every 100 ms
  ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
  BlockStopSignals();  // before the thread starts: it inherits the mask, as the servers' threads do
  std::promise<pthread_t> started;
  std::future<int> result = std::async(std::launch::async, [&started] {
    started.set_value(::pthread_self());
    return WaitForStopSignalFeedingWatchdog();
  });
  const pthread_t waiter = started.get_future().get();
  int fed = 0;
  for (int i = 0; i < 3; ++i) {
    if (socket_.Next(5000) == "WATCHDOG=1") ++fed;
  }
  EXPECT_EQ(fed, 3);
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout) << "ended without a stop";
  ASSERT_EQ(::pthread_kill(waiter, SIGTERM), 0);
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), SIGTERM);
}

TEST(StopSignalWait, TimesOutWithoutASignalAndReturnsAPendingOne) {
  BlockStopSignals();
  EXPECT_EQ(WaitForStopSignalFor(30), 0);
  ASSERT_EQ(::pthread_kill(::pthread_self(), SIGHUP), 0);  // blocked: stays pending for the wait
  EXPECT_EQ(WaitForStopSignalFor(5000), SIGHUP);
}

}  // namespace
}  // namespace platform
