// snpp/server.cpp - corvnet32's listener, slots, accept loop, session threads and watch.
#include "snpp/server.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <system_error>

#include "common/log.h"
#include "platform/tcp.h"
#include "snpp/commands.h"
#include "snpp/connection.h"
#include "snpp/page_ini_watch.h"
#include "snpp/stoppable_sleep.h"

namespace snpp {

namespace {

constexpr int kBindAttempts = 5;
constexpr int64_t kBindRetryMs = 180000;
// As many pending connections as there are slots: with a backlog of one, a burst of clients
// connecting at once was dropped at the handshake and waited out TCP's retries (seconds each).
constexpr int kListenBacklog = kSessionSlots;
// After a failed accept: 100 ms, doubled for each failure in a row up to 3.2 s, so a lasting
// error (no free descriptor) neither spins nor floods the log, and a passing one costs little.
constexpr int64_t kAcceptErrorPauseMs = 100;
constexpr int64_t kAcceptErrorPauseMaxMs = 3200;

std::string Program() { return common::ProgramName(); }

class SocketOutput : public SnppOutput {
 public:
  explicit SocketOutput(const platform::UniqueFd& socket) : socket_(socket) {}
  void Send(std::string_view bytes) override { (void)platform::TcpSendAll(socket_, bytes); }

 private:
  const platform::UniqueFd& socket_;
};

// TcpListen makes, binds and listens in one call; the errors only socket creation gives
// tell the "no socket" case apart from a refused bind.
bool IsSocketCreationError(int rc) {
  return rc == -EMFILE || rc == -ENFILE || rc == -ENOBUFS || rc == -ENOMEM || rc == -EAFNOSUPPORT ||
         rc == -EPROTONOSUPPORT;
}

// An accept error that says the listening socket itself is gone; every other one is
// about one connection and passes.
bool IsListenerError(int rc) { return rc == -EBADF || rc == -EINVAL || rc == -ENOTSOCK || rc == -EOPNOTSUPP; }

}  // namespace

SnppServer::SnppServer(NameCache& names, PipeCall call) : names_(names), services_{std::move(call), &names} {}

SnppServer::~SnppServer() { Stop(); }

int SnppServer::Listen(uint16_t port, uint16_t& boundPort) {
  for (int attempt = 1;; ++attempt) {
    platform::UniqueFd listener;
    const int rc = platform::TcpListen("", port, kListenBacklog, listener, boundPort);
    if (rc == 0) {
      std::lock_guard lock(mutex_);
      listener_ = std::move(listener);
      return kListening;
    }
    if (IsSocketCreationError(rc)) {
      common::LogLine("%t %s: Error Getting Socket\n", Program());
      return kNoSocket;
    }
    common::LogLine("%t %s: Error Binding to port - Will retry in 3 minutes\n", Program());
    if (!SleepUnlessStopped(stop_.get_token(), kBindRetryMs)) return kStoppedWhileBinding;
    if (attempt == kBindAttempts) {
      common::LogLine("%t %s: Error Binding to port - Exiting - Try ReBooting\n", Program());
      return kBindFailed;
    }
  }
}

void SnppServer::StartWatch(const std::string& pageIniPath) {
  std::lock_guard lock(mutex_);
  if (stopping_ || watch_.joinable()) return;
  try {
    watch_ = std::jthread([this, pageIniPath](std::stop_token stop) { WatchLoop(stop, pageIniPath); });
  } catch (const std::system_error&) {
    common::LogLine("%t %s: Thread memory error\n", Program());
  }
}

void SnppServer::StartAccepting(std::function<void(int status)> onListenerLost) {
  std::lock_guard lock(mutex_);
  if (stopping_ || accept_.joinable()) return;
  try {
    accept_ = std::jthread([this, lost = std::move(onListenerLost)](std::stop_token stop) { AcceptLoop(stop, lost); });
  } catch (const std::system_error&) {
    common::LogLine("%t %s: Thread memory error\n", Program());
  }
}

void SnppServer::CloseSockets() {
  stop_.request_stop();
  std::lock_guard lock(mutex_);
  stopping_ = true;
  watch_.request_stop();
  accept_.request_stop();
  platform::TcpShutdown(listener_);
  for (Slot& slot : slots_) {
    slot.Thread.request_stop();
    platform::TcpShutdown(slot.Socket);
  }
}

void SnppServer::Stop() {
  CloseSockets();
  std::jthread accept;
  std::jthread watch;
  {
    std::lock_guard lock(mutex_);
    accept = std::move(accept_);
    watch = std::move(watch_);
  }
  // Joined outside the lock: the accept loop takes it for every connection.
  if (accept.joinable()) accept.join();
  if (watch.joinable()) watch.join();
  std::array<std::jthread, kSessionSlots> sessions;
  {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < slots_.size(); ++i) sessions[i] = std::move(slots_[i].Thread);
    listener_.Reset();
  }
  // Each session ends once its socket is shut; its last act, freeing its slot, takes the lock.
  for (std::jthread& session : sessions) {
    if (session.joinable()) session.join();
  }
}

int SnppServer::ConnectionCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.Socket.Valid(); }));
}

void SnppServer::AcceptLoop(std::stop_token stop, const std::function<void(int)>& onListenerLost) {
  int64_t pauseMs = kAcceptErrorPauseMs;
  while (!stop.stop_requested()) {
    platform::UniqueFd socket;
    std::string peer;
    const int rc = platform::TcpAccept(listener_, socket, peer);
    if (rc == 0) {
      pauseMs = kAcceptErrorPauseMs;
      Accepted(std::move(socket), peer);
      continue;
    }
    if (stop.stop_requested()) return;  // the listener was shut for the stop
    common::LogLine("%t %s: Error accepting socket\n", Program());
    if (IsListenerError(rc)) {
      if (onListenerLost) onListenerLost(kListenerLost);
      return;
    }
    if (!SleepUnlessStopped(stop, pauseMs)) return;
    pauseMs = std::min(pauseMs * 2, kAcceptErrorPauseMaxMs);
  }
}

void SnppServer::Accepted(platform::UniqueFd socket, const std::string& peer) {
  std::jthread finished;  // the slot's previous session: joined after the lock is let go
  std::unique_lock lock(mutex_);
  if (stopping_) return;  // the connection closes unanswered, as the listener does
  const int slot = TakeSlot(socket);
  if (slot < 0) {
    lock.unlock();
    // Every slot holds a live connection: refuse this one rather than take a busy slot.
    SocketOutput out(socket);
    SendReply(kReplyUnavailable, out);
    common::LogLine("%t %s: Connection from %s refused - all %d connections in use\n", Program(), peer, kSessionSlots);
    return;
  }
  Slot& taken = slots_[static_cast<size_t>(slot)];
  finished = std::move(taken.Thread);
  try {
    taken.Thread = std::jthread([this, slot](std::stop_token stop) { Session(slot, stop); });
  } catch (const std::system_error&) {
    taken.Socket.Reset();
    lock.unlock();
    common::LogLine("%t %s: Thread memory error\n", Program());
  }
}

// Caller holds the lock. The next free slot from the one after the last taken, or -1 when
// all are in use.
int SnppServer::TakeSlot(platform::UniqueFd& socket) {
  for (int i = 0; i < kSessionSlots; ++i) {
    const int slot = (next_ + i) % kSessionSlots;
    if (!slots_[static_cast<size_t>(slot)].Socket.Valid()) {
      slots_[static_cast<size_t>(slot)].Socket = std::move(socket);
      next_ = (slot + 1) % kSessionSlots;
      return slot;
    }
  }
  return -1;
}

void SnppServer::FreeSlot(int slot) {
  std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(slot)].Socket.Reset();
}

void SnppServer::Session(int slot, std::stop_token stop) {
  // The slot's socket stays put until FreeSlot below; the lock only guards its changes.
  const platform::UniqueFd& socket = slots_[static_cast<size_t>(slot)].Socket;
  SocketOutput out(socket);
  std::unique_ptr<SnppConnection> connection;
  try {
    connection = std::make_unique<SnppConnection>(out, services_);
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Thread memory error\n", Program());
    FreeSlot(slot);
    return;
  }
  common::DebugLine("Connection Open\n");
  try {
    connection->Greet();
    char buffer[kReceiveBytes];
    while (!stop.stop_requested()) {
      common::DebugLine("\nWaiting for data\n");
      const int n = platform::TcpReceive(socket, buffer, -1);
      if (n <= 0) break;  // closed by the peer, or shut for a stop
      if (!connection->Receive(std::string_view(buffer, static_cast<size_t>(n)))) break;
    }
  } catch (const std::bad_alloc&) {
    // Out of memory in the middle of a command: this connection ends, the server goes on.
    common::LogLine("%t %s: Thread memory error\n", Program());
  }
  common::DebugLine("Connection Closed\n");
  connection.reset();
  FreeSlot(slot);
}

void SnppServer::WatchLoop(std::stop_token stop, const std::string& path) {
  PageIniStamp saved;
  const auto refresh = [this] { (void)GetNamesAndGroups(names_, services_.CallPagingServer); };
  do {
    (void)SeeIfWeShouldReadPageiniFile(saved, path, refresh, stop);
  } while (SleepUnlessStopped(stop, kWatchPeriodMs));
}

}  // namespace snpp
