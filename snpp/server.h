// snpp/server.h - corvnet32's listening socket, its connection slots with a session thread
// each, the accept loop and the page.ini watch. The server owns every thread it starts:
// Stop wakes each one (its socket shut, its waits cut short) and joins it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include <vector>

#include "platform/ip_address.h"
#include "platform/unique_fd.h"
#include "snpp/name_cache.h"
#include "snpp/services.h"

namespace snpp {

constexpr int kSessionSlots = 150;

class TlsServerContext;
class UserTable;

// Who may connect and for how long, and what the sessions may do.
struct ServerOptions {
  std::string BindAddress;                          // empty: every address
  std::vector<platform::AddressBlock> AllowFrom;    // empty: everyone
  std::vector<platform::AddressBlock> ReportsFrom;  // may use MSTA and MLOG
  int IdleTimeoutMs = 600000;                       // no line for this long: "421", closed
  int SessionsPerAddress = 20;
  const TlsServerContext* Tls = nullptr;  // loaded: ListenTls may be used; outlives the server
  const UserTable* Users = nullptr;       // LOGI's users; outlives the server
  bool RequireLogin = false;
};

// Results of Listen, which are also the program's exit statuses.
constexpr int kListening = 0;
constexpr int kBindFailed = 3;  // five attempts, three minutes apart
constexpr int kNoSocket = 4;
constexpr int kListenerLost = 5;  // passed to onListenerLost
constexpr int kStoppedWhileBinding = -1;

class SnppServer {
 public:
  // names is the cache the sessions answer LIST from and the watch refreshes over call;
  // both outlive the server. The default options serve everyone, reports to loopback.
  SnppServer(NameCache& names, PipeCall call, ServerOptions options = DefaultOptions());
  static ServerOptions DefaultOptions();
  ~SnppServer();
  SnppServer(const SnppServer&) = delete;
  SnppServer& operator=(const SnppServer&) = delete;

  // Binds to all local addresses on port (0: the system chooses) and listens. A refused
  // bind is logged and tried again after three minutes, five times in all; a stop ends the
  // wait. One of the results above; boundPort gets the port on success.
  [[nodiscard]] int Listen(uint16_t port, uint16_t& boundPort);

  // Takes a listening socket made by someone else (systemd's socket activation) in place
  // of Listen.
  void AdoptListener(platform::UniqueFd listener);

  // Binds the second listener, whose sessions run inside TLS (options' Tls must be loaded),
  // with the same retries as Listen. One of the results above.
  [[nodiscard]] int ListenTls(uint16_t port, uint16_t& boundPort);

  // Starts the page.ini watch: a check at once, then every six minutes.
  void StartWatch(const std::string& pageIniPath = "page.ini");

  // Starts an accept loop on a thread of its own for each listener. A failed accept is
  // logged and passes; when a listening socket itself is gone, onListenerLost(kListenerLost)
  // is called on that thread and the loop ends.
  void StartAccepting(std::function<void(int status)> onListenerLost);

  // The first half of a stop, safe from a stop path that ends the process next: asks every
  // thread to stop and shuts every socket down (the listener and each connection), so
  // nothing is accepted or answered any more. Joins nothing.
  void CloseSockets();

  // Stops every thread and joins it. Connections still open are closed.
  void Stop();

  // Connections being served now.
  int ConnectionCount();

 private:
  struct Slot {
    platform::UniqueFd Socket;  // the connection's; none while the slot is free
    std::string Peer;           // its client's address
    std::jthread Thread;        // its session, joined before the slot is taken again
  };

  int Bind(uint16_t port, uint16_t& boundPort, platform::UniqueFd& target);
  void AcceptLoop(std::stop_token stop, const platform::UniqueFd& listener, bool tls,
                  const std::function<void(int)>& onListenerLost);
  void Accepted(platform::UniqueFd socket, const std::string& peer, bool tls);
  int TakeSlot(platform::UniqueFd& socket, const std::string& peer);
  void FreeSlot(int slot);
  void Session(int slot, bool tls, std::stop_token stop);
  void WatchLoop(std::stop_token stop, const std::string& path);

  NameCache& names_;
  ServerOptions options_;
  SnppServices services_;
  std::stop_source stop_;  // cuts the bind retries short
  std::mutex mutex_;       // guards the slots' sockets and peers, next_, stopping_ and the listeners' shutdown
  bool stopping_ = false;
  int next_ = 0;
  platform::UniqueFd listener_;
  platform::UniqueFd tlsListener_;
  std::array<Slot, kSessionSlots> slots_;
  std::jthread watch_;
  std::jthread accept_;
  std::jthread acceptTls_;
};

}  // namespace snpp
