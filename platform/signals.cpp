// platform/signals.cpp - sigwait(2) instead of signal handlers.
#include "platform/signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

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

}  // namespace platform
