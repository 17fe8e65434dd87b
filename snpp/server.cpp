// snpp/server.cpp - corvnet32's start-up, slots, accept loop, connection threads and shutdown.
#include "snpp/server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "common/config_path.h"
#include "common/version.h"
#include "common/log.h"
#include "common/pipe_client.h"
#include "platform/clock.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "platform/tcp.h"
#include "snpp/commands.h"
#include "snpp/connection.h"
#include "snpp/name_cache.h"
#include "snpp/page_ini_watch.h"
#include "snpp/snpp_ini.h"

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

// A slot owns its connection's socket; a free slot holds none. The mutex guards the
// slots' ownership changes and shutdown; a connection thread uses its own slot's socket.
struct SlotTable {
  std::mutex Mutex;
  std::array<platform::UniqueFd, kSessionSlots> Sockets;
  int Next = 0;
};

SlotTable& Slots() {
  static SlotTable table;
  return table;
}

std::mutex gListenerMutex;
platform::UniqueFd gListener;
std::atomic<bool> gStopping{false};

// Ends the process at once, without running destructors under threads that are still working.
[[noreturn]] void EndProgram(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

std::string Program() { return common::ProgramName(); }

// The next free slot from the one after the last taken, or -1 when all are in use.
int TakeSlot(platform::UniqueFd& socket) {
  SlotTable& slots = Slots();
  std::lock_guard lock(slots.Mutex);
  for (int i = 0; i < kSessionSlots; ++i) {
    const int slot = (slots.Next + i) % kSessionSlots;
    if (!slots.Sockets[slot].Valid()) {
      slots.Sockets[slot] = std::move(socket);
      slots.Next = (slot + 1) % kSessionSlots;
      return slot;
    }
  }
  return -1;
}

void FreeSlot(int slot) {
  SlotTable& slots = Slots();
  std::lock_guard lock(slots.Mutex);
  slots.Sockets[slot].Reset();
}

class SocketOutput : public SnppOutput {
 public:
  explicit SocketOutput(const platform::UniqueFd& socket) : socket_(socket) {}
  void Send(std::string_view bytes) override { (void)platform::TcpSendAll(socket_, bytes); }

 private:
  const platform::UniqueFd& socket_;
};

void SessionThread(int slot) {
  const platform::UniqueFd& socket = Slots().Sockets[slot];
  SocketOutput out(socket);
  std::unique_ptr<SnppConnection> connection;
  try {
    connection = std::make_unique<SnppConnection>(out);
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Thread memory error\n", Program());
    FreeSlot(slot);
    return;
  }
  common::DebugLine("Connection Open\n");
  try {
    connection->Greet();
    char buffer[kReceiveBytes];
    for (;;) {
      common::DebugLine("\nWaiting for data\n");
      const int n = platform::TcpReceive(socket, buffer, -1);
      if (n <= 0) break;
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

void ShutdownServer() {
  platform::NotifyStopping();
  gStopping = true;
  {
    SlotTable& slots = Slots();
    std::lock_guard lock(slots.Mutex);
    for (platform::UniqueFd& socket : slots.Sockets) platform::TcpShutdown(socket);
  }
  {
    std::lock_guard lock(gListenerMutex);
    platform::TcpShutdown(gListener);
  }
  common::LogLine("%t %s: Server ended successfully\n", Program());
  EndProgram(0);
}

void PageIniWatchThread() {
  PageIniStamp saved;
  for (;;) {
    SeeIfWeShouldReadPageiniFile(saved, common::ConfigFile("page.ini"), [] { (void)GetNamesAndGroups(Names()); });
    platform::SleepMs(kWatchPeriodMs);
  }
}

bool StartThread(void (*body)()) {
  try {
    std::thread(body).detach();
    return true;
  } catch (const std::system_error&) {
    common::LogLine("%t %s: Thread memory error\n", Program());
    return false;
  }
}

// TcpListen makes, binds and listens in one call; the errors only socket creation gives
// tell the "no socket" case apart from a refused bind.
bool IsSocketCreationError(int rc) {
  return rc == -EMFILE || rc == -ENFILE || rc == -ENOBUFS || rc == -ENOMEM || rc == -EAFNOSUPPORT ||
         rc == -EPROTONOSUPPORT;
}

// An accept error that says the listening socket itself is gone; every other one is
// about one connection and passes.
bool IsListenerError(int rc) { return rc == -EBADF || rc == -EINVAL || rc == -ENOTSOCK || rc == -EOPNOTSUPP; }

[[noreturn]] void AcceptLoop() {
  int64_t pauseMs = kAcceptErrorPauseMs;
  for (;;) {
    platform::UniqueFd socket;
    std::string peer;
    const int rc = platform::TcpAccept(gListener, socket, peer);
    if (rc != 0) {
      if (gStopping) {
        for (;;) platform::SleepMs(kAcceptErrorPauseMs);  // ShutdownServer ends the process
      }
      common::LogLine("%t %s: Error accepting socket\n", Program());
      if (IsListenerError(rc)) EndProgram(5);
      platform::SleepMs(pauseMs);
      pauseMs = std::min(pauseMs * 2, kAcceptErrorPauseMaxMs);
      continue;
    }
    pauseMs = kAcceptErrorPauseMs;
    const int slot = TakeSlot(socket);
    if (slot < 0) {
      // Every slot holds a live connection: refuse this one rather than take a busy slot.
      SocketOutput out(socket);
      SendReply(kReplyUnavailable, out);
      common::LogLine("%t %s: Connection from %s refused - all %d connections in use\n", Program(), peer,
                      kSessionSlots);
      continue;
    }
    try {
      std::thread(SessionThread, slot).detach();
    } catch (const std::system_error&) {
      common::LogLine("%t %s: Thread memory error\n", Program());
      FreeSlot(slot);
    }
  }
}

}  // namespace

int RunSnppServer(int argc, char** argv) {
  common::SetProgramName("CORVNET32");
  const std::string program = Program();
  common::WriteConsole(common::FormatText("Corvel.  Version %s\n", common::kVersion));
  common::WriteConsole("Simple network paging protocol(SNPP) Server.\n");
  common::WriteConsole("For use with Corvel's Paging Server.\n");
  common::LogLine("%t %s: SNPP Server Starting.  Version %s\n", program, common::kVersion);

  SnppSettings settings;
  if (ReadSnppIni(common::ConfigFile("SNPP.INI"), settings) != 0) {
    common::LogLine("%t %s: Error reading SNPP.INI\n", program);
    return 0;
  }
  if (!settings.BadTcpPort.empty()) {
    common::LogLine("%t %s: SNPP.INI: TcpPort %s is not a port number (1-65535) - ignored\n", program,
                    settings.BadTcpPort);
  }

  if (common::WaitForPagingServer(program) != 0) return 0;
  if (GetNamesAndGroups(Names()) != 0) {
    common::LogLine("%t %s: Error geting Names and Groups from the paging server\n", program);
    return 0;
  }

  // Before any thread starts, so that only the stop thread ever sees a stop signal.
  platform::BlockStopSignals();
  StartThread([] {
    platform::WaitForStopSignalFeedingWatchdog();
    ShutdownServer();
  });
  StartThread(PageIniWatchThread);
  common::SetDebug(argc > 1 && std::string_view(argv[1]).find("debug") != std::string_view::npos);

  uint16_t boundPort = 0;
  for (int attempt = 1;; ++attempt) {
    platform::UniqueFd listener;
    const int rc = platform::TcpListen("", settings.TcpPort, kListenBacklog, listener, boundPort);
    if (rc == 0) {
      std::lock_guard lock(gListenerMutex);
      gListener = std::move(listener);
      break;
    }
    if (IsSocketCreationError(rc)) {
      common::LogLine("%t %s: Error Getting Socket\n", program);
      EndProgram(4);
    }
    common::LogLine("%t %s: Error Binding to port - Will retry in 3 minutes\n", program);
    platform::SleepMs(kBindRetryMs);
    if (attempt == kBindAttempts) {
      common::LogLine("%t %s: Error Binding to port - Exiting - Try ReBooting\n", program);
      EndProgram(3);
    }
  }

  common::LogLine("%t %s: Server started successfully\n", program);
  platform::NotifyReady();
  if (settings.TcpPort == 0) {
    common::LogLine("%t %s: No TcpPort in SNPP.INI - listening on port %d\n", program, static_cast<int>(boundPort));
  }
  AcceptLoop();
}

}  // namespace snpp
