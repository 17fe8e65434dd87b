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
#include "snpp/tls_channel.h"

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

constexpr int kTlsHandshakeMs = 10000;

class SocketOutput : public SnppOutput {
 public:
  explicit SocketOutput(const platform::UniqueFd& socket) : socket_(socket) {}
  void Send(std::string_view bytes) override { (void)platform::TcpSendAll(socket_, bytes); }

 private:
  const platform::UniqueFd& socket_;
};

class TlsOutput : public SnppOutput {
 public:
  explicit TlsOutput(TlsChannel& channel) : channel_(channel) {}
  void Send(std::string_view bytes) override { (void)channel_.Send(bytes); }

 private:
  TlsChannel& channel_;
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

SnppServer::SnppServer(NameCache& names, PipeCall call, ServerOptions options)
    : names_(names),
      options_(std::move(options)),
      services_{std::move(call), &names, options_.Users, options_.RequireLogin} {}

ServerOptions SnppServer::DefaultOptions() {
  ServerOptions options;
  options.ReportsFrom = platform::LoopbackBlocks();
  return options;
}

SnppServer::~SnppServer() { Stop(); }

int SnppServer::Listen(uint16_t port, uint16_t& boundPort) { return Bind(port, boundPort, listener_); }

int SnppServer::ListenTls(uint16_t port, uint16_t& boundPort) {
  if (options_.Tls == nullptr || !options_.Tls->Loaded()) return kNoSocket;
  return Bind(port, boundPort, tlsListener_);
}

void SnppServer::AdoptListener(platform::UniqueFd listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

int SnppServer::Bind(uint16_t port, uint16_t& boundPort, platform::UniqueFd& target) {
  for (int attempt = 1;; ++attempt) {
    platform::UniqueFd listener;
    const int rc = platform::TcpListen(options_.BindAddress, port, kListenBacklog, listener, boundPort);
    if (rc == 0) {
      std::lock_guard lock(mutex_);
      target = std::move(listener);
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
    if (listener_.Valid()) {
      accept_ = std::jthread(
          [this, onListenerLost](std::stop_token stop) { AcceptLoop(stop, listener_, false, onListenerLost); });
    }
    if (tlsListener_.Valid()) {
      acceptTls_ = std::jthread(
          [this, onListenerLost](std::stop_token stop) { AcceptLoop(stop, tlsListener_, true, onListenerLost); });
    }
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
  acceptTls_.request_stop();
  platform::TcpShutdown(listener_);
  platform::TcpShutdown(tlsListener_);
  for (Slot& slot : slots_) {
    slot.Thread.request_stop();
    platform::TcpShutdown(slot.Socket);
  }
}

void SnppServer::Stop() {
  CloseSockets();
  std::jthread accept;
  std::jthread acceptTls;
  std::jthread watch;
  {
    std::lock_guard lock(mutex_);
    accept = std::move(accept_);
    acceptTls = std::move(acceptTls_);
    watch = std::move(watch_);
  }
  // Joined outside the lock: the accept loops take it for every connection.
  if (accept.joinable()) accept.join();
  if (acceptTls.joinable()) acceptTls.join();
  if (watch.joinable()) watch.join();
  std::array<std::jthread, kSessionSlots> sessions;
  {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < slots_.size(); ++i) sessions[i] = std::move(slots_[i].Thread);
    listener_.Reset();
    tlsListener_.Reset();
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

void SnppServer::AcceptLoop(std::stop_token stop, const platform::UniqueFd& listener, bool tls,
                            const std::function<void(int)>& onListenerLost) {
  int64_t pauseMs = kAcceptErrorPauseMs;
  while (!stop.stop_requested()) {
    platform::UniqueFd socket;
    std::string peer;
    const int rc = platform::TcpAccept(listener, socket, peer);
    if (rc == 0) {
      pauseMs = kAcceptErrorPauseMs;
      Accepted(std::move(socket), peer, tls);
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

void SnppServer::Accepted(platform::UniqueFd socket, const std::string& peer, bool tls) {
  // Not in AllowFrom: closed without a word, so a stranger learns nothing of the server.
  if (!options_.AllowFrom.empty() && !platform::AddressInList(options_.AllowFrom, peer)) {
    common::LogLine("%t %s: Connection from %s refused - not in AllowFrom\n", Program(), peer);
    return;
  }
  std::jthread finished;  // the slot's previous session: joined after the lock is let go
  std::unique_lock lock(mutex_);
  if (stopping_) return;  // the connection closes unanswered, as the listener does
  // One address may not take every slot: a client that leaves connections open (or one
  // that attacks) locks out only itself.
  const int fromPeer = static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.Socket.Valid() && s.Peer == peer; }));
  const int inUse =
      static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.Socket.Valid(); }));
  if (fromPeer >= options_.SessionsPerAddress && inUse < kSessionSlots) {
    lock.unlock();
    if (!tls) {
      SocketOutput out(socket);
      SendReply(kReplyUnavailable, out);
    }
    common::LogLine("%t %s: Connection from %s refused - %d connections from that address\n", Program(), peer,
                    fromPeer);
    return;
  }
  const int slot = TakeSlot(socket, peer);
  if (slot < 0) {
    lock.unlock();
    // Every slot holds a live connection: refuse this one rather than take a busy slot.
    // (A TLS client would read the plain reply as a broken record: it is only closed.)
    SocketOutput out(socket);
    if (!tls) SendReply(kReplyUnavailable, out);
    common::LogLine("%t %s: Connection from %s refused - all %d connections in use\n", Program(), peer, kSessionSlots);
    return;
  }
  Slot& taken = slots_[static_cast<size_t>(slot)];
  finished = std::move(taken.Thread);
  try {
    taken.Thread = std::jthread([this, slot, tls](std::stop_token stop) { Session(slot, tls, stop); });
  } catch (const std::system_error&) {
    taken.Socket.Reset();
    lock.unlock();
    common::LogLine("%t %s: Thread memory error\n", Program());
  }
}

// Caller holds the lock. The next free slot from the one after the last taken, or -1 when
// all are in use.
int SnppServer::TakeSlot(platform::UniqueFd& socket, const std::string& peer) {
  for (int i = 0; i < kSessionSlots; ++i) {
    const int slot = (next_ + i) % kSessionSlots;
    if (!slots_[static_cast<size_t>(slot)].Socket.Valid()) {
      slots_[static_cast<size_t>(slot)].Socket = std::move(socket);
      slots_[static_cast<size_t>(slot)].Peer = peer;
      next_ = (slot + 1) % kSessionSlots;
      return slot;
    }
  }
  return -1;
}

void SnppServer::FreeSlot(int slot) {
  std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(slot)].Socket.Reset();
  slots_[static_cast<size_t>(slot)].Peer.clear();
}

void SnppServer::Session(int slot, bool tls, std::stop_token stop) {
  // The slot's socket and peer stay put until FreeSlot below; the lock only guards changes.
  const platform::UniqueFd& socket = slots_[static_cast<size_t>(slot)].Socket;
  std::string peer;
  {
    std::lock_guard lock(mutex_);
    peer = slots_[static_cast<size_t>(slot)].Peer;
  }
  std::unique_ptr<TlsChannel> channel;
  std::unique_ptr<SnppOutput> out;
  std::unique_ptr<SnppConnection> connection;
  try {
    if (tls) {
      channel = std::make_unique<TlsChannel>(*options_.Tls, socket);
      std::string problem;
      if (channel->Handshake(kTlsHandshakeMs, problem) != 0) {
        common::LogLine("%t %s: TLS connection from %s failed - %s\n", Program(), peer, problem);
        FreeSlot(slot);
        return;
      }
      out = std::make_unique<TlsOutput>(*channel);
    } else {
      out = std::make_unique<SocketOutput>(socket);
    }
    const bool reports = platform::AddressInList(options_.ReportsFrom, peer);
    connection = std::make_unique<SnppConnection>(*out, services_, peer, reports);
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
      const int n = channel ? channel->Receive(buffer, options_.IdleTimeoutMs)
                            : platform::TcpReceive(socket, buffer, options_.IdleTimeoutMs);
      if (n == -ETIMEDOUT) {
        // A silent client gives its slot back: without a limit, 150 of them lock SNPP out.
        SendReply(kReplyIdleTimeout, *out);
        common::LogLine("%t %s: Connection from %s closed - nothing received for %d seconds\n", Program(), peer,
                        options_.IdleTimeoutMs / 1000);
        break;
      }
      if (n <= 0) break;  // closed by the peer, or shut for a stop
      if (!connection->Receive(std::string_view(buffer, static_cast<size_t>(n)))) break;
    }
  } catch (const std::bad_alloc&) {
    // Out of memory in the middle of a command: this connection ends, the server goes on.
    common::LogLine("%t %s: Thread memory error\n", Program());
  }
  common::DebugLine("Connection Closed\n");
  if (channel) channel->Close();
  connection.reset();
  out.reset();
  channel.reset();
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
