// delivery/script.cpp - dialogue scripts: reading the file, expanding the send lines, and
// running the script for one page.
#include "delivery/script.h"

#include <fstream>
#include <sstream>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "delivery/modem_control.h"

namespace delivery {
namespace {

// One fgets-sized chunk of text starting at pos: up to and including the first line feed,
// at most kScriptLineSize - 1 characters. Returns false at the end of the text.
bool NextChunk(std::string_view text, size_t& pos, std::string& line) {
  if (pos >= text.size()) return false;
  const size_t limit = std::min(text.size() - pos, kScriptLineSize - 1);
  size_t n = 0;
  while (n < limit && text[pos + n] != '\n') ++n;
  if (n < limit) ++n;  // take the line feed
  line.assign(text.substr(pos, n));
  pos += n;
  // A C string ends at its first NUL; keep the file's bytes only up to it.
  if (const size_t nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
  // The line feed ends the line, except on a line that holds nothing else.
  if (line.size() > 1 && line.back() == '\n') line.pop_back();
  return true;
}

}  // namespace

std::string ConvertScriptExpectedText(std::string_view line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      out.push_back(line[i]);
      continue;
    }
    if (i + 1 < line.size() && line[i + 1] == 'r') out.push_back('\r');
    ++i;  // the escaped character is consumed either way
  }
  return out;
}

int ParseScript(std::string_view fileText, Script& script) {
  script.Pairs.clear();
  // Text mode: a file edited on Windows reads the same.
  std::string text;
  text.reserve(fileText.size());
  for (size_t i = 0; i < fileText.size(); ++i) {
    if (fileText[i] == '\r' && i + 1 < fileText.size() && fileText[i + 1] == '\n') continue;
    text.push_back(fileText[i]);
  }
  size_t pos = 0;
  std::string line;
  while (NextChunk(text, pos, line)) {
    if (script.Pairs.size() == kMaxScriptPairs) {
      script.Pairs.clear();
      return kScriptTooLong;
    }
    ScriptPair pair;
    pair.Send = line;
    common::DebugLine("OUT: %s\n", pair.Send);
    const bool more = NextChunk(text, pos, line);
    if (more) {
      pair.Expect = ConvertScriptExpectedText(line);
      common::DebugLine("IN: %s\n", pair.Expect);
    }
    script.Pairs.push_back(std::move(pair));
    if (!more) break;
  }
  return kScriptLoaded;
}

int LoadScript(const std::string& fileName, Script& script) {
  script.Pairs.clear();
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    common::DebugLine("Error - Unable to open up script file(%s)\n", fileName);
    common::LogLine("%t %s: Error - Unable to open up script file(%s)\n", common::ProgramName(), fileName);
    return kScriptMissing;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (ParseScript(text.str(), script) == kScriptTooLong) {
    common::LogLine("%t %s: Error - Script file(%s) has more than %d send and expect pairs, not used\n",
                    common::ProgramName(), fileName, static_cast<int>(kMaxScriptPairs));
    return kScriptTooLong;
  }
  return kScriptLoaded;
}

ExpandedLine ExpandScriptLine(std::string_view line, std::string_view pagerId, std::string_view message,
                              std::string_view phone) {
  ExpandedLine out;
  out.Steps.emplace_back();
  auto bytes = [&out]() -> std::string& { return out.Steps.back().Bytes; };
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const bool hasNext = i + 1 < line.size();
    const char next = hasNext ? line[i + 1] : '\0';
    if (c == '\\') {
      if (next == 'n') bytes() += "\r\n";
      if (next == 'r') bytes() += '\r';
      ++i;
    } else if (c == '^') {
      if (hasNext) bytes() += static_cast<char>(next & 0x1F);
      ++i;
    } else if (c == '%') {
      switch (next) {
        case 'i':
          bytes() += pagerId;
          out.IdSent = true;
          break;
        case 'm':
          bytes() += message;
          out.MessageSent = true;
          break;
        case 'p':
          bytes() += phone;
          break;
        case 'd':
          out.Steps.back().PauseMs += kScriptPauseMs;
          out.Steps.emplace_back();
          break;
        default:
          break;
      }
      ++i;
    } else {
      bytes() += c;
    }
  }
  if (out.Steps.size() > 1 && out.Steps.back().Bytes.empty() && out.Steps.back().PauseMs == 0) {
    out.Steps.pop_back();
  }
  return out;
}

ExpandedLine SendScriptLine(DialWork& work, std::string_view line) {
  ExpandedLine expanded = ExpandScriptLine(line, common::FieldText(work.Current.PageID),
                                           common::FieldText(work.Current.Message), work.System().SystemPhoneNumber);
  for (const ScriptStep& step : expanded.Steps) {
    if (!step.Bytes.empty()) WriteComText(&work.Port, step.Bytes);
    if (step.PauseMs > 0) Delay(step.PauseMs);
  }
  return expanded;
}

int RunScript(DialWork& work, const Script& script) {
  int result = kDeliverOk;
  if (!PlaceCall(work, kScriptCall, result)) return result;
  core::QueueEntry* head = work.Stop.stop_requested() ? nullptr : core::PeekHead(work.State, work.Queue);
  const bool havePage = head != nullptr;
  if (havePage) {
    core::RecordSending(work.State, *head, work.SystemName());
    work.Current = *head;
  }
  bool idSent = false;
  bool messageSent = false;
  if (!havePage) result = kDeliverFailed;
  for (size_t i = 0; havePage && i < script.Pairs.size(); ++i) {
    const ScriptPair& pair = script.Pairs[i];
    common::DebugLine("\nSending: %s\n", pair.Send);
    const ExpandedLine sent = SendScriptLine(work, pair.Send);
    idSent = idSent || sent.IdSent;
    messageSent = messageSent || sent.MessageSent;
    if (pair.Expect.empty()) continue;
    common::DebugLine("\nWainting for: %s\n", pair.Expect);
    if (WaitForText(&work.Port, pair.Expect, 60) != 0) {
      result = kDeliverFailed;
      break;
    }
    result = kDeliverOk;
  }
  CloseComPort(work.Port);
  common::DebugLine("\nDone\n");
  if (havePage) {
    const std::string name = common::FieldText(work.Current.Name);
    if (idSent && messageSent) {
      const std::string words = work.State.LogMessages.load() ? core::LogResult("Paged %s with Message \"%s\"", common::Outside(name),
                                                                                common::Outside(common::FieldText(work.Current.Message)))
                                                              : core::LogResult("Paged %s", common::Outside(name));
      core::RecordOutcome(work.State, work.Current, core::PageState::kSent, words);
      ++work.State.PagesSent;
    } else {
      core::RecordOutcome(work.State, work.Current, core::PageState::kGivenUp,
                          core::LogResult("Error - Unalbe to send page."));
      ++work.State.FailedPages;
    }
    static_cast<void>(core::DropHead(work.Queue));
  }
  Delay(1500);
  return result;
}

int DeliverScript(DialWork& work) {
  Script script;
  // A missing or refused file leaves no pairs: the call still takes the page off the
  // queue and reports it unsent, as a script that never loaded would.
  (void)LoadScript(work.System().ScriptFileName, script);
  return RunScript(work, script);
}

}  // namespace delivery
