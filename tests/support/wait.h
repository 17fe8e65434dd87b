// tests/support/wait.h - waiting for an event in a test, with a bound so a hang is a failure.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Polls condition every pollMs until it holds or timeoutMs has passed. True when it held.
// The condition is checked once more at the deadline, so a slow machine gets the full time.
template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs, int pollMs = 10) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

}  // namespace testsupport
