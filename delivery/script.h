// delivery/script.h - paging by a user-written dialogue script.
//
// A script file alternates a line to send and a text to wait for. Send lines carry
// escapes for the pager ID, the message, the system's number, control characters and
// pauses. The script is read anew before every page and run once per page; the page
// leaves the queue after the modem set-up, before the script runs, and a page whose ID
// and message did not both go out is logged "Error - Unalbe to send page.".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "delivery/delivery.h"

namespace delivery {

// A script holds at most this many send/expect pairs; a longer file is refused whole.
constexpr size_t kMaxScriptPairs = 100;
// Lines are read into a buffer of this size, so at most 69 characters of a line are
// taken and the rest of a longer line is read as the next line.
constexpr size_t kScriptLineSize = 70;
// The pause of the %d escape.
constexpr int kScriptPauseMs = 2000;

struct ScriptPair {
  std::string Send;    // raw send line, escapes still in it
  std::string Expect;  // converted expected text; empty means no wait after Send
};

struct Script {
  std::vector<ScriptPair> Pairs;
};

// LoadScript / ParseScript results.
constexpr int kScriptLoaded = 0;
constexpr int kScriptMissing = 1;  // the file could not be opened
constexpr int kScriptTooLong = 2;  // more than kMaxScriptPairs pairs

// An expected text as read from the file: backslash r becomes CR, a backslash with any
// other character (or alone at the end) is dropped.
std::string ConvertScriptExpectedText(std::string_view line);

// Fills script from the text of a script file (CR LF read as LF). kScriptTooLong leaves
// script empty.
int ParseScript(std::string_view fileText, Script& script);

// Reads fileName into script. The script is emptied first, so a file that cannot be read
// never leaves another system's script to run. Missing and too-long files are logged
// with the file name.
int LoadScript(const std::string& fileName, Script& script);

// One send line with its escapes expanded: byte runs, each followed by a pause.
struct ScriptStep {
  std::string Bytes;
  int PauseMs = 0;
};
struct ExpandedLine {
  std::vector<ScriptStep> Steps;
  bool IdSent = false;       // the line held %i
  bool MessageSent = false;  // the line held %m
};

// Expands backslash n (CR LF), backslash r (CR), caret X (X AND 0x1F), %i (pagerId),
// %m (message, as queued), %p (phone) and %d (a kScriptPauseMs pause); any other
// backslash or percent pair, and a lone escape character at the end, sends nothing.
ExpandedLine ExpandScriptLine(std::string_view line, std::string_view pagerId, std::string_view message,
                              std::string_view phone);

// Sends one send line to the port with its escapes expanded for work.Current and the
// system's number, pausing where it says %d. Returns what the line marked as sent.
ExpandedLine SendScriptLine(DialWork& work, std::string_view line);

// Runs script for the head page: the modem set-up (no dialling; the script dials), then
// every pair in order, waiting 60 s for each expected text that is not empty. 0 when the
// last wait succeeded or there was none, 1 when a wait timed out, the queue was empty or
// the port failed (page kept). "Paged" is logged as soon as the ID and the message went out.
[[nodiscard]] int RunScript(DialWork& work, const Script& script);

// Loads the system's ScriptFileName and runs it.
[[nodiscard]] int DeliverScript(DialWork& work);

}  // namespace delivery
