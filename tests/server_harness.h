// tests/server_harness.h - a real corvd32 in a scratch folder, and requests on its pipe.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/request_record.h"
#include "platform/pipe_endpoint.h"
#include "tests/support/file_watch.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace servertest {

// Port names that are paths no device lives at: dial threads run and fail to open them, so
// no test ever reaches a real serial port. MaxReTrys = 0 keeps the pages they hold.
inline const char* kSystemsIni =
    "MaxReTrys = 0\n"
    "PagerSystemsSection\n"
    "[Metro]\nSystemType = Tap\nPort = '/nonexistent/tty1'\nPort = '/nonexistent/tty2'\n";

inline std::string Person(const std::string& name, const std::string& id, const std::string& extra = "") {
  return "[" + name + "]\nPageID = '" + id + "'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n" + extra;
}

inline std::string StandardIni() {
  return std::string(kSystemsIni) + "NameSection\n" + Person("Ann", "1001", "Group = 'Team'\n") +
         Person("Bob", "1002", "Group = 'Team'\n");
}

class Server {
 public:
  Server() : pipe_(dir_.File("CORVD")) {}
  ~Server() { Stop(SIGKILL); }

  const testsupport::TempDir& Dir() const { return dir_; }
  std::string Log() const { return dir_.Read("log.txt"); }
  std::string Output() const { return dir_.Read("corvd32.out"); }
  const std::string& Pipe() const { return pipe_; }

  // Starts corvd32 and waits until it serves its pipe.
  void Start(const std::vector<std::string>& args = {}, const std::map<std::string, std::string>& env = {}) {
    std::map<std::string, std::string> all = env;
    all["CORVEL_PIPE"] = pipe_;
    process_ = std::make_unique<testsupport::ChildProcess>(testsupport::ProgramPath("corvd32"), args, dir_.Path(), all);
    ASSERT_TRUE(testsupport::WaitForPipe(pipe_, 10000)) << Output();
    ASSERT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Paging server started successfully", 10000));
  }

  // Sends the stop signal; the exit status, or -1 when it did not end.
  int Stop(int sig) {
    if (!process_) return -1;
    const int status = process_->Stop(sig, 10000);
    process_.reset();
    return status;
  }

  // One transaction: the reply's bytes (empty when nothing came), but a page's reply as a
  // sender reads its text: "OK" without the message numbers after its terminator (Numbers).
  std::string Request(const common::RequestRecord& head, const std::string& name,
                      const std::string& message = "") const {
    return Send(common::BuildRequest(head, name, message));
  }
  std::string Send(const std::vector<char>& bytes) const {
    std::vector<char> reply(20000);
    const int n = platform::PipeTransact(pipe_, bytes, reply, 10000);
    std::string text = n > 0 ? std::string(reply.data(), static_cast<size_t>(n)) : std::string();
    if (text.rfind(std::string("OK\0#", 4), 0) == 0) text.resize(2);
    return text;
  }

  std::string Page(const std::string& name, const std::string& text, int type = 0) const {
    return Request(Head(type), name, text);
  }
  std::string Status(int flag) const {
    common::RequestRecord head = Head(common::kStatusReport);
    head.Parameter = static_cast<int16_t>(flag);
    return Request(head, "");
  }
  std::vector<std::string> List(int type, int page, const std::string& name = "") const {
    common::RequestRecord head = Head(type);
    head.Parameter = static_cast<int16_t>(page);
    const std::string reply = Request(head, name);
    std::vector<std::string> names;
    const std::span<const char> bytes(reply.data(), reply.size());
    for (int i = 0; i < common::ListReplyCount(bytes); ++i) names.emplace_back(common::ListReplyName(bytes, i));
    return names;
  }

  static common::RequestRecord Head(int type, int timeMode = 0) {
    common::RequestRecord head{};
    head.RequestType = static_cast<int16_t>(type);
    head.TimeMode = static_cast<int16_t>(timeMode);
    return head;
  }

 private:
  testsupport::TempDir dir_;
  std::string pipe_;
  std::unique_ptr<testsupport::ChildProcess> process_;
};

// The number in a status report's line "prefix N".
inline int TotalAfter(const std::string& report, const std::string& prefix) {
  const size_t at = report.find(prefix);
  return at == std::string::npos ? -1 : std::atoi(report.c_str() + at + prefix.size());
}

// Status reports until one satisfies done, for at most timeoutMs; the last one. The report
// lists one queue after the other while the router moves pages between them, so a single
// report may miss or repeat a page in transit.
template <typename Done>
std::string StatusWhen(const Server& server, int flag, Done done, int timeoutMs = 5000) {
  std::string report;
  testsupport::WaitUntil([&] { return done(report = server.Status(flag)); }, timeoutMs, 50);
  return report;
}

// Waits until the server's page.ini watch has taken the file's time as its baseline, so an
// edit made now is seen as a change. Its first check opens the file twice: once before it
// takes the time, once before it compares. True when that happened within timeoutMs.
inline bool WaitForIniBaseline(testsupport::FileCloseWatch& ini, int timeoutMs) {
  return testsupport::WaitUntil([&] { return ini.Closes() >= 2; }, timeoutMs);
}

}  // namespace servertest
