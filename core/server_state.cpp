// core/server_state.cpp - making the global record and swapping its configuration.
#include "core/server_state.h"

#include <new>
#include <utility>

#include "common/log.h"

namespace core {

std::shared_ptr<const directory::Directory> CurrentDirectory(const ServerState& state) {
  std::lock_guard<std::mutex> hold(state.ConfigLock);
  return state.Dir;
}

void InstallDirectory(ServerState& state, std::shared_ptr<const directory::Directory> dir) {
  std::lock_guard<std::mutex> hold(state.ConfigLock);
  state.Dir = std::move(dir);
  // A load starts every system's round-robin cursor afresh.
  for (auto& cursor : state.NextPort) cursor.store(0, std::memory_order_relaxed);
}

directory::PageIniSettings CurrentSettings(const ServerState& state) {
  std::lock_guard<std::mutex> hold(state.ConfigLock);
  return state.Settings;
}

void InstallSettings(ServerState& state, const directory::PageIniSettings& settings) {
  bool debugChanged = false;
  {
    std::lock_guard<std::mutex> hold(state.ConfigLock);
    debugChanged = settings.Debug != state.Settings.Debug;
    state.Settings = settings;
  }
  state.TcpPort = static_cast<int16_t>(settings.TcpPort);
  state.MaxReTrys = settings.MaxReTrys;
  state.MapCodePage = settings.MapCodePage;
  state.LogMessages = settings.LogMessages;
  state.ReadNamesFromServer = settings.ReadNamesFromServer;
  state.ClientTypeFull = settings.ClientTypeFull;
  state.HistoryDays = settings.HistoryDays;
  if (debugChanged) SetServerDebug(state, settings.Debug);
}

std::string DialingPrefix(const ServerState& state) {
  std::lock_guard<std::mutex> hold(state.ConfigLock);
  return state.Settings.DialingPrefix;
}

void SetServerDebug(ServerState& state, bool on) {
  state.Debug = on;
  common::SetDebug(on);
}

std::unique_ptr<ServerState> AllocateServerState() {
  std::unique_ptr<ServerState> state(new (std::nothrow) ServerState);
  if (!state) {
    common::WriteConsole("Calloc error\n");
    return nullptr;
  }
  state->AtTable.reset(new (std::nothrow) AtEntry[kAtSlots]());
  std::shared_ptr<directory::Directory> dir;
  try {
    dir = std::make_shared<directory::Directory>();
  } catch (const std::bad_alloc&) {
    dir.reset();
  }
  state->Main = MakeDialContext("", kMainQueueEntries);
  if (!state->AtTable || !dir || !state->Main) {
    common::WriteConsole("Calloc error\n");
    return nullptr;
  }
  state->Dir = std::move(dir);
  return state;
}

void ApplyDefaults(ServerState& state) {
  directory::PageIniSettings defaults;  // its initialisers are the start-up defaults
  {
    std::lock_guard<std::mutex> hold(state.ConfigLock);
    state.Settings = defaults;
  }
  state.MaxReTrys = defaults.MaxReTrys;
  state.ReadNamesFromServer = defaults.ReadNamesFromServer;
  state.ClientTypeFull = defaults.ClientTypeFull;
  state.TcpPort = static_cast<int16_t>(defaults.TcpPort);
}

}  // namespace core
