// core/server_state.h - the paging server's one global record: settings, directory, queues,
// AT table and statistics.
//
// Made once at start-up by AllocateServerState and owned by main until the process ends.
// Many threads read and write it: the counters and flags are atomics, the page.ini texts
// and the directory sit behind ConfigLock (a reload builds a fresh directory and swaps it in,
// so no reader ever sees a half-loaded one), and the AT table has its own lock.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "core/at_entry.h"
#include "core/call_counts.h"
#include "core/dial_context.h"
#include "core/page_store.h"
#include "directory/directory.h"
#include "directory/settings.h"

namespace core {

constexpr const char* kServerProgramName = "CORVD32";
constexpr int kMaxSystems = 50;  // slots of the system table (NextPort cursors below)

// The queues and workers of the systems reached over IP (server/ip_worker.h).
struct IpDelivery;

struct ServerState {
  // The page store (core/page_book.h records in it); null in tests of the queues alone.
  // Declared first, so it is closed after everything that records in it (the port
  // contexts own the dial threads).
  std::unique_ptr<PageStore> Store;
  std::atomic<int32_t> HistoryDays{30};  // page.ini HistoryDays

  // Settings. Numbers and flags are atomics, read by any thread at any time.
  std::atomic<int16_t> TcpPort{0};
  std::atomic<int16_t> CurrentTcpPort{0};
  std::atomic<int32_t> MaxReTrys{0};
  std::atomic<bool> Debug{false};       // console trace (mirrors common::DebugOn)
  std::atomic<bool> AtDirty{false};     // AT table changed since at.dat was written
  std::atomic<int32_t> MapCodePage{0};  // 0 CP437, 1 CP850
  std::atomic<bool> LogMessages{false};
  std::atomic<bool> ReadNamesFromServer{false};
  std::atomic<bool> ClientTypeFull{false};
  std::atomic<bool> DialThreadsStarted{false};
  std::FILE* ErrorFile = nullptr;  // err.dat, opened when page.ini says Debug

  // Statistics.
  std::atomic<int32_t> RequestCount{0};       // pipe requests read
  std::atomic<int32_t> PagesSent{0};          // pages delivered
  std::atomic<int32_t> MessageCounter{0};     // last message number given out
  std::atomic<int32_t> ReloadCount{0};        // page.ini reloads
  std::atomic<int32_t> FailedPages{0};        // pages given up
  std::atomic<int32_t> NowQueueFullCount{0};  // pages refused by a full NOW queue
  std::atomic<int32_t> LogViewFailures{0};    // log reports that found no log file
  std::atomic<int32_t> UnknownNameCount{0};   // pages refused for an unknown name
  std::atomic<int32_t> PagesAccepted{0};      // pages queued or scheduled for one recipient
  CallCounts Calls;                           // dial results per port and system

  // page.ini settings as last loaded and the directory; use the accessors below.
  mutable std::mutex ConfigLock;
  directory::PageIniSettings Settings;
  std::shared_ptr<const directory::Directory> Dir;

  // NOW queues. Port contexts are appended (never removed) under PortsLock; PortCount is
  // published after the context is in place, so readers may index Ports[0..PortCount).
  std::unique_ptr<DialContext> Main;
  std::mutex PortsLock;
  std::array<std::unique_ptr<DialContext>, kMaxPorts> Ports;
  std::atomic<int32_t> PortCount{0};
  // Round-robin cursor of each system into its Port list (router only; reset on reload).
  std::array<std::atomic<int32_t>, kMaxSystems> NextPort{};

  // The AT queue: kAtSlots slots, every access under AtLock. AtChanged is notified (under
  // AtLock) after every change, so the threads that save at.dat and move due pages wait
  // for a change instead of looking on a timer.
  std::mutex AtLock;
  std::condition_variable_any AtChanged;
  uint64_t AtGeneration = 0;  // counts the changes of the table (under AtLock)
  std::unique_ptr<AtEntry[]> AtTable;
  std::array<int64_t, kAtSlots> AtAccepted{};  // when each slot's page was accepted (for its record)

  // The queues and workers of the systems reached over IP; null until page.ini names one.
  // Declared last: its workers are stopped and joined before anything they use goes.
  std::shared_ptr<IpDelivery> Ip;
};

// The directory in force: a snapshot that stays valid for as long as the caller holds it,
// even across a reload. Never null once AllocateServerState succeeded.
std::shared_ptr<const directory::Directory> CurrentDirectory(const ServerState& state);
// Replaces the directory (reload); readers holding the old one keep it until they let go.
void InstallDirectory(ServerState& state, std::shared_ptr<const directory::Directory> dir);

// A copy of the settings as last loaded, and their replacement after a load: the numbers
// and flags are copied into the atomics above. Debug follows the file only when the file
// changed it, so a command-line debug switch survives a reload.
directory::PageIniSettings CurrentSettings(const ServerState& state);
void InstallSettings(ServerState& state, const directory::PageIniSettings& settings);
std::string DialingPrefix(const ServerState& state);

// Turns the console trace on or off (ServerState::Debug and the log's debug switch).
void SetServerDebug(ServerState& state, bool on);

// Allocates the record, the AT table and the Main context (100 entries) and an empty
// directory. Null when out of memory ("Calloc error" printed).
std::unique_ptr<ServerState> AllocateServerState();

// MaxReTrys 10, ReadNamesFromServer and ClientType Full set, TcpPort 5100.
void ApplyDefaults(ServerState& state);

}  // namespace core
