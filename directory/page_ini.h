// directory/page_ini.h - reading page.ini into a directory and the global settings.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "directory/directory.h"
#include "directory/settings.h"

namespace directory {

// What the loader hands to the rest of the server, so directory/ never includes server/.
struct PageIniHooks {
  PortCallback RegisterPort;  // each port of each stored system, in order; may be empty
  // A QueueSize strictly between 100 and 30000: the Main queue's new capacity. The owner
  // of the queue decides whether it differs and whether it may resize now; may be empty.
  std::function<void(int entries)> ResizeMainQueue;
  // A LogFileName line: where later log lines go. Empty means common::SetLogFileName, which
  // is what the programs want; tests and the fuzz target keep the log where it is.
  std::function<void(std::string_view fileName)> ApplyLogFileName;
};

// Reads the page.ini at path (its name as given also appears in syntax-error lines) and
// adds its entries to dir and its settings to settings. Log lines use common::LogLine and
// common::ProgramName(); a LogFileName line also switches the log file at once (see
// PageIniHooks::ApplyLogFileName).
// 0 when read without a syntax error; 1 for a missing file ("Error opening PAGE.INI file -
// File not found", dir and settings untouched) or when any syntax error was logged (the
// entries before and after the bad line are still stored).
[[nodiscard]] int LoadPageIni(const std::string& path, Directory& dir, PageIniSettings& settings,
                              const PageIniHooks& hooks);
[[nodiscard]] int LoadPageIni(const std::string& path, Directory& dir, PageIniSettings& settings,
                              const PortCallback& registerPort);

// The same reader over text already in memory (tests, fuzzing); fileName is only shown.
[[nodiscard]] int ParsePageIniText(std::string_view text, const std::string& fileName, Directory& dir,
                                   PageIniSettings& settings, const PageIniHooks& hooks);

}  // namespace directory
