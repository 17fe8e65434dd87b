// directory/settings.h - the global settings that page.ini fills.
//
// The member initialisers are the start-up defaults (TcpPort 5100, MaxReTrys 10,
// ReadNamesFromServer and ClientType Full set). A reload changes only what the new file
// names, so the same PageIniSettings is handed to every load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/pipe_path.h"

namespace directory {

constexpr size_t kHostNameMax = 79;
constexpr size_t kLanServerNameMax = 79;
constexpr size_t kDisplayGroupNameMax = 49;
constexpr size_t kDialingPrefixMax = 9;
constexpr uint16_t kDefaultTcpPort = 5100;
constexpr int kDefaultMaxReTrys = 10;

struct PageIniSettings {
  std::string HostName;  // SNPP host of the command-line client
  std::string LanServerName;
  std::string CurrentLanServerName;  // set together with LanServerName
  uint16_t TcpPort = kDefaultTcpPort;
  std::string DisplayGroupName;  // stored; not used by the server
  bool Debug = false;            // Debug = Enabled (the caller applies it)
  int MapCodePage = 0;           // 0 CP437, 1 CP850
  bool LogMessages = false;
  bool ReadNamesFromServer = true;
  bool ClientTypeFull = true;         // ClientType = Full; Slim clears it
  std::string DialingPrefix;          // empty = none
  int MaxReTrys = kDefaultMaxReTrys;  // may be negative (every failed round gives up)
  int QueueSize = 0;                  // last QueueSize strictly between 100 and 30000; 0 = none
  std::string LogFileName;            // empty = none given (the loader also calls SetLogFileName)
  std::string PageStore;              // the page store's file; empty = pages.db in the working folder
  int HistoryDays = 30;               // days finished pages stay in the page store (0 or more)
  platform::PipeAccess PipeAccess = platform::PipeAccess::kEveryone;  // who may use the pipe
};

}  // namespace directory
