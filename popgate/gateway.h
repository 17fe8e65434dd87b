// popgate/gateway.h - corvpop32's start-up and the owner of its poll threads.
#pragma once

#include <stop_token>
#include <thread>
#include <vector>

#include "popgate/mailbox.h"

namespace popgate {

// The poll threads, one per mailbox. Stop, or the destructor, asks each to stop (its
// pause ends and its POP3 connection is shut, which ends any wait for a reply) and joins
// it. What does not wait on the connection runs to its end first: a connect or TLS
// handshake under way (at most 20 s) and a call to the paging server (at most 10 s).
class PollThreads {
 public:
  PollThreads() = default;
  ~PollThreads() { Stop(); }
  PollThreads(const PollThreads&) = delete;
  PollThreads& operator=(const PollThreads&) = delete;

  // Starts one thread per mailbox of context, in table order; context must outlive them.
  // 0, or 1 when a thread could not be started ("Error - calloc" is logged; the threads
  // started so far run on).
  [[nodiscard]] int Start(const GatewayContext& context);
  void Stop();
  size_t Count() const { return threads_.size(); }

 private:
  std::vector<std::jthread> threads_;
};

// What corvpop32 runs on. The threads read the context, so they are declared after it:
// stopped and joined before it goes.
struct Gateway {
  GatewayContext Context;
  PollThreads Threads;
};

constexpr int kGatewayRunning = 0;
constexpr int kGatewayEnded = 1;  // main ends with status 0; the reason has been logged

// Start-up: banner, start line, POPPAGE.INI, the pagers' code page from page.ini, the wait
// for the paging server, "Gateway started successfully", the stop signals blocked (before
// the first thread, so only main sees a stop), the debug switch, one poll thread per
// mailbox. kGatewayRunning, or kGatewayEnded when memory, the paging server or a thread
// failed.
[[nodiscard]] int StartGateway(int argc, char** argv, Gateway& gateway);

// The poll thread of one mailbox: polls, pauses PollTime seconds (at least one), and so
// on until stopped.
void PollThread(const GatewayContext& context, size_t index, std::stop_token stop);

}  // namespace popgate
