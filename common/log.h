// common/log.h - the log line idiom: format, show on the console, append to the log file.
//
// Every program logs "%t %s: text\n" lines with its own log name. The file is opened,
// written in one write and closed for every line, so several programs can share it and it
// can be rotated between lines. Lines from many threads never interleave inside a line.
#pragma once

#include <string>
#include <string_view>

#include "common/format_text.h"

namespace common {

// The program's log name (CORVD32, CORVNET32, ...), passed by callers as the %s of "%t %s: ".
void SetProgramName(std::string_view name);
std::string ProgramName();

// The file lines are appended to; empty means "log.txt" in the current directory.
void SetLogFileName(std::string_view name);
std::string LogFileName();

// Appends one finished line. 1 when line is null or the file cannot be opened (the line is
// lost and LogWriteFailures rises by one), 0 when written.
int AppendLogFile(const char* line);
int AppendLogFile(std::string_view line);

// Appends that failed since the program started.
int LogWriteFailures();

// Writes text to the console verbatim, in one piece. Under systemd, when standard error is
// the journal's stream (JOURNAL_STREAM names it), the text goes there instead, each line
// with the "<N>" priority prefix journald reads, so an operator can filter by priority.
void WriteConsole(std::string_view text);

// The same for the diagnostic lines of the debug switch (journal priority debug).
void WriteDebugConsole(std::string_view text);

// The syslog priority a log line is given in the journal: 3 (err) for errors and time-outs,
// 4 (warning) for refused or invalid input and waits, 5 (notice) for starts and ends,
// 6 (info) for the rest. The lines carry no level of their own; their words decide.
int JournalPriority(std::string_view line);

// The debug switch: diagnostic lines go to the console only, and only when it is on.
void SetDebug(bool on);
bool DebugOn();

template <typename... Args>
void LogLine(std::string_view format, const Args&... args) {
  const std::string line = FormatText(format, args...);
  WriteConsole(line);
  AppendLogFile(std::string_view(line));
}

// The reporting points that skip the console step.
template <typename... Args>
void LogFileLine(std::string_view format, const Args&... args) {
  AppendLogFile(std::string_view(FormatText(format, args...)));
}

template <typename... Args>
void DebugLine(std::string_view format, const Args&... args) {
  if (DebugOn()) WriteDebugConsole(FormatText(format, args...));
}

}  // namespace common
