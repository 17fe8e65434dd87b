// tests/web_support.h - the real peers of corvweb and corvsend on 127.0.0.1: corvd32 and
// corvnet32 in a scratch folder, lighttpd running corvweb by CGI in both modes, and a small
// HTTP client. Every wait is bounded.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/tcp.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace webtest {

using testsupport::ChildProcess;
using testsupport::TempDir;

constexpr int kStartMs = 15000;

struct HttpResponse {
  int Status = 0;
  std::string Head;
  std::string Body;
};

// One HTTP/1.0 exchange; Status 0 when the server could not be reached in time.
inline HttpResponse Http(uint16_t port, const std::string& method, const std::string& target,
                         const std::string& body = "",
                         const std::string& contentType = "application/x-www-form-urlencoded") {
  HttpResponse r;
  platform::UniqueFd fd;
  if (platform::TcpConnect("127.0.0.1", port, 5000, fd) != 0) return r;
  std::string request = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  if (method == "POST") {
    request += "Content-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n" + body;
  if (platform::TcpSendAll(fd, request) != 0) return r;
  std::string all;
  char buf[8192];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const int n = platform::TcpReceive(fd, buf, 30000);
    if (n <= 0) break;
    all.append(buf, static_cast<size_t>(n));
  }
  const size_t split = all.find("\r\n\r\n");
  if (split == std::string::npos) return r;
  r.Head = all.substr(0, split);
  r.Body = all.substr(split + 4);
  if (r.Head.size() > 12) r.Status = std::atoi(r.Head.c_str() + 9);
  return r;
}

inline bool WaitForTcp(uint16_t port, int timeoutMs) {
  return testsupport::WaitUntil(
      [port] {
        platform::UniqueFd fd;
        return platform::TcpConnect("127.0.0.1", port, 500, fd) == 0;
      },
      timeoutMs, 20);
}

// A directory with a system whose port does not exist: pages wait in its queue (the dial
// thread keeps failing to open the port), where the status view shows them.
inline std::string PageIni(const std::string& folder, const std::string& hostName, uint16_t tcpPort,
                           const std::string& extraSystems = "", const std::string& extraNames = "") {
  return "GlobalSection\n"
         "HostName = '" +
         hostName +
         "'\n"
         "TcpPort = " +
         std::to_string(tcpPort) +
         "\n"
         "MaxReTrys = 1000\n"
         "PagerSystemsSection\n"
         "[Metro]\nPort = '" +
         folder + "/no-such-port'\n" + extraSystems +
         "NameSection\n"
         "[Ann]\nPageID = '1001'\nPagerType = Alphanumeric\nSystemName = 'Metro'\nGroup = 'Sales'\n"
         "[Bob]\nPageID = '1002'\nPagerType = Alphanumeric\nSystemName = 'Metro'\nGroup = 'Sales'\n"
         "[Cy]\nPageID = '1003'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n"
         "[<script>alert(1)</script>]\nPageID = '1004'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n" +
         extraNames;
}

// corvd32 and corvnet32 side by side in one folder (one log.txt), on a pipe of their own.
class PagingStack {
 public:
  explicit PagingStack(const std::string& pageIni = "") {
    pipe_ = dir_.File("pipe");
    snppPort_ = testsupport::FreeTcpPort();
    dir_.Write("page.ini", pageIni.empty() ? PageIni(dir_.Path(), "127.0.0.1", snppPort_) : pageIni);
    dir_.Write("SNPP.INI", "TcpPort=" + std::to_string(snppPort_) + "\n");
    server_ = std::make_unique<ChildProcess>(testsupport::ProgramPath("corvd32"), std::vector<std::string>{},
                                             dir_.Path(), Env());
    ready_ = testsupport::WaitForPipe(pipe_, kStartMs);
    if (!ready_) return;
    snpp_ = std::make_unique<ChildProcess>(testsupport::ProgramPath("corvnet32"), std::vector<std::string>{},
                                           dir_.Path(), Env());
    ready_ = testsupport::WaitForFileText(Log(), "CORVNET32: Server started successfully", kStartMs) &&
             WaitForTcp(snppPort_, kStartMs);
  }
  bool Ready() const { return ready_; }
  const TempDir& Dir() const { return dir_; }
  std::string Log() const { return dir_.File("log.txt"); }
  std::string LogText() const { return dir_.Read("log.txt"); }
  const std::string& Pipe() const { return pipe_; }
  uint16_t SnppPort() const { return snppPort_; }
  std::map<std::string, std::string> Env() const { return {{"CORVEL_PIPE", pipe_}}; }
  // Runs another program in the stack's folder and waits for it.
  std::string Run(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                  int& status, int timeoutMs = 20000) const {
    ChildProcess child(testsupport::ProgramPath(program), args, folder, Env());
    status = child.Wait(timeoutMs);
    return child.Output();
  }

 private:
  TempDir dir_;
  std::string pipe_;
  uint16_t snppPort_ = 0;
  bool ready_ = false;
  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<ChildProcess> snpp_;
};

// lighttpd with mod_cgi on 127.0.0.1 and a port of its own. corvweb is installed twice:
// /cgi-bin/corvweb talks to the pipe, /snpp-bin/corvweb to corvnet32 (its wwwpage.ini
// names HostName and TcpPort). The form page is at the document root.
class WebServer {
 public:
  WebServer(const PagingStack& stack, const std::string& pipeIni = "", const std::string& snppIni = "") {
    namespace fs = std::filesystem;
    root_ = dir_.File("htdocs");
    fs::create_directories(root_ + "/cgi-bin");
    fs::create_directories(root_ + "/snpp-bin");
    fs::copy_file(testsupport::SourcePath("web/pages/form.htm"), root_ + "/form.htm");
    for (const char* folder : {"/cgi-bin/", "/snpp-bin/"}) {
      fs::create_symlink(testsupport::ProgramPath("corvweb"), root_ + folder + "corvweb");
      fs::copy_file(testsupport::SourcePath("web/pages/ok.htm"), root_ + folder + "ok.htm");
      fs::copy_file(testsupport::SourcePath("web/pages/bad.htm"), root_ + folder + "bad.htm");
      // corvweb takes its templates from its own folder only.
      fs::copy_file(testsupport::SourcePath("web/pages/form.htm"), root_ + folder + "form.htm");
    }
    testsupport::WriteFile(
        root_ + "/cgi-bin/wwwpage.ini",
        pipeIni.empty() ? testsupport::ReadFile(testsupport::SourcePath("web/pages/wwwpage.ini")) : pipeIni);
    testsupport::WriteFile(root_ + "/snpp-bin/wwwpage.ini",
                           snppIni.empty() ? "HostName = \"127.0.0.1\"\nTcpPort = " + std::to_string(stack.SnppPort()) +
                                                 "\nOkHtmlFile = \"ok.htm\"\n"
                                           : snppIni);
    port_ = testsupport::FreeTcpPort();
    dir_.Write("lighttpd.conf", "server.document-root = \"" + root_ +
                                    "\"\n"
                                    "server.bind = \"127.0.0.1\"\n"
                                    "server.port = " +
                                    std::to_string(port_) +
                                    "\n"
                                    "server.modules = (\"mod_cgi\", \"mod_setenv\", \"mod_access\")\n"
                                    "server.errorlog = \"" +
                                    dir_.File("error.log") +
                                    "\"\n"
                                    "server.pid-file = \"" +
                                    dir_.File("lighttpd.pid") +
                                    "\"\n"
                                    "url.access-deny = (\".ini\")\n"
                                    "$HTTP[\"url\"] =~ \"^/(cgi|snpp)-bin/\" { cgi.assign = (\"\" => \"\") }\n"
                                    "setenv.add-environment = (\"CORVEL_PIPE\" => \"" +
                                    stack.Pipe() + "\")\n");
    server_ = std::make_unique<ChildProcess>(
        "/usr/sbin/lighttpd", std::vector<std::string>{"-D", "-f", dir_.File("lighttpd.conf")}, dir_.Path());
    ready_ = WaitForTcp(port_, kStartMs);
  }
  ~WebServer() {
    if (server_) server_->Stop(15, 5000);
  }
  bool Ready() const { return ready_; }
  uint16_t Port() const { return port_; }
  std::string Url(const std::string& target) const { return "http://127.0.0.1:" + std::to_string(port_) + target; }
  std::string ErrorLog() const { return dir_.Read("error.log"); }
  const TempDir& Dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string root_;
  uint16_t port_ = 0;
  bool ready_ = false;
  std::unique_ptr<ChildProcess> server_;
};

// Times a text occurs in another.
inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

}  // namespace webtest
