// platform/signals.cpp - sigwait(2) instead of signal handlers.
#include "platform/signals.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

namespace platform {

namespace {

std::atomic<bool> gStopRequested{false};

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGQUIT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void BlockStopSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal() {
  const sigset_t set = StopSet();
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    return gStopRequested.load() ? kStopRequested : sig;
  }
}

void RequestProgramStop() {
  gStopRequested.store(true);
  // Every thread blocks the stop signals, so this one stays pending for the process until
  // the waiting thread takes it.
  ::kill(::getpid(), SIGTERM);
}

int WaitForStopSignalFor(int64_t timeoutMs) {
  const sigset_t set = StopSet();
  if (timeoutMs < 0) timeoutMs = 0;
  timespec wait{};
  wait.tv_sec = static_cast<time_t>(timeoutMs / 1000);
  wait.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
  for (;;) {
    const int sig = sigtimedwait(&set, nullptr, &wait);
    if (sig > 0) return gStopRequested.load() ? kStopRequested : sig;
    if (errno == EAGAIN) return 0;
    // EINTR: another signal's handler ran; the wait starts again (a little longer at most).
  }
}

}  // namespace platform
