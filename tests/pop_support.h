// tests/pop_support.h - the mail gateway's test peers: a real dovecot POP3 server with its
// own configuration, users and maildirs; a recording proxy in front of it; a fake paging
// server on the request pipe that records what the gateway sends.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/request_record.h"
#include "platform/pipe_endpoint.h"
#include "platform/tcp.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace poptest {

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::TempDir;

// True when a TCP connection to 127.0.0.1:port succeeds within timeoutMs.
inline bool WaitForTcpPort(uint16_t port, int timeoutMs) {
  return testsupport::WaitUntil(
      [port] {
        platform::UniqueFd fd;
        return platform::TcpConnect("127.0.0.1", port, 500, fd) == 0;
      },
      timeoutMs, 50);
}

// Runs a program to its end (bounded); true when it exited with status 0.
inline bool RunTool(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
  ChildProcess child(program, args, dir);
  return child.Wait(30000) == 0;
}

// A test certificate authority and a server certificate for 127.0.0.1 and localhost.
struct TestCertificates {
  std::string CaFile, CertFile, KeyFile, OtherCaFile;
  bool Make(const std::string& dir) {
    const std::string ossl = "/usr/bin/openssl";
    const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    auto with = [&ec](std::vector<std::string> a) {
      a.insert(a.begin() + 1, ec.begin(), ec.end());
      return a;
    };
    testsupport::WriteFile(dir + "/san.cnf", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    CaFile = dir + "/ca.pem";
    CertFile = dir + "/server.pem";
    KeyFile = dir + "/server.key";
    OtherCaFile = dir + "/other-ca.pem";
    return RunTool(ossl,
                   with({"req", "-x509", "-keyout", dir + "/ca.key", "-out", CaFile, "-days", "2", "-subj",
                         "/CN=Corvel Test CA"}),
                   dir) &&
           RunTool(ossl,
                   with({"req", "-x509", "-keyout", dir + "/other.key", "-out", OtherCaFile, "-days", "2", "-subj",
                         "/CN=Someone Else"}),
                   dir) &&
           RunTool(ossl, with({"req", "-keyout", KeyFile, "-out", dir + "/server.csr", "-subj", "/CN=127.0.0.1"}),
                   dir) &&
           RunTool(ossl,
                   {"x509", "-req", "-in", dir + "/server.csr", "-CA", CaFile, "-CAkey", dir + "/ca.key",
                    "-CAcreateserial", "-out", CertFile, "-days", "2", "-extfile", dir + "/san.cnf"},
                   dir);
  }
};

// dovecot serving POP3 on 127.0.0.1 from a folder of its own. Started in the foreground by
// the test and stopped with it.
struct DovecotOptions {
  uint16_t Port = 0;     // plain POP3; 0 = a free port
  uint16_t TlsPort = 0;  // POP3 inside TLS (needs Certificates); 0 = none
  const TestCertificates* Certificates = nullptr;
};

class Dovecot {
 public:
  using Options = DovecotOptions;

  explicit Dovecot(const Options& options = Options{}) : options_(options) {
    root_ = dir_.Path();
    ::chmod(root_.c_str(), 0755);  // dovecot's own users must reach the folder
    if (options_.Port == 0) options_.Port = testsupport::FreeTcpPort();
    if (::geteuid() == 0) {
      // dovecot refuses to run its login processes as root: use the users its package made.
      internalUser_ = "dovecot";
      loginUser_ = "dovenull";
    } else {
      const passwd* me = ::getpwuid(::geteuid());
      internalUser_ = loginUser_ = me ? me->pw_name : "nobody";
    }
    const passwd* mailUser = ::getpwnam(internalUser_.c_str());
    mailUid_ = mailUser ? mailUser->pw_uid : ::geteuid();
    mailGid_ = mailUser ? mailUser->pw_gid : ::getegid();
  }
  ~Dovecot() { Stop(); }

  uint16_t Port() const { return options_.Port; }
  std::string LogText() const { return testsupport::ReadFile(root_ + "/dovecot.log"); }

  void AddUser(const std::string& user, const std::string& password) {
    users_.push_back(user + ":{PLAIN}" + password + ":" + std::to_string(mailUid_) + ":" + std::to_string(mailGid_) +
                     "::" + Home(user) + "\n");
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(Home(user) + "/Maildir/" + sub);
    ChownTree(Home(user));
    std::string all;
    for (const std::string& u : users_) all += u;
    testsupport::WriteFile(root_ + "/passwd", all);
  }

  // Drops a mail into user's maildir as a new file (the way a delivery agent does).
  void Drop(const std::string& user, const std::string& mail) {
    const std::string name = std::to_string(++dropped_) + ".corvtest";
    const std::string tmp = Home(user) + "/Maildir/tmp/" + name;
    testsupport::WriteFile(tmp, mail);
    (void)::chown(tmp.c_str(), mailUid_, mailGid_);
    fs::rename(tmp, Home(user) + "/Maildir/new/" + name);
  }

  // Mails still in user's mailbox.
  int MailCount(const std::string& user) const {
    int n = 0;
    std::error_code ec;
    for (const char* sub : {"cur", "new"}) {
      for (const auto& e : fs::directory_iterator(Home(user) + "/Maildir/" + sub, ec)) {
        if (e.is_regular_file()) ++n;
      }
    }
    return n;
  }

  bool WaitForMailCount(const std::string& user, int count, int timeoutMs) const {
    return testsupport::WaitUntil([&] { return MailCount(user) == count; }, timeoutMs, 50);
  }

  // Writes the configuration and starts dovecot; true when its port answers.
  bool Start() {
    if (users_.empty()) AddUser("nobody-here", "x");
    std::string conf =
        "protocols = pop3\n"
        "listen = 127.0.0.1\n"
        "base_dir = " +
        root_ +
        "/run\n"
        "state_dir = " +
        root_ +
        "/state\n"
        "instance_name = corvtest" +
        std::to_string(options_.Port) +
        "\n"
        "default_internal_user = " +
        internalUser_ +
        "\n"
        "default_internal_group = " +
        GroupOf(internalUser_) +
        "\n"
        "default_login_user = " +
        loginUser_ +
        "\n"
        "log_path = " +
        root_ +
        "/dovecot.log\n"
        "info_log_path = " +
        root_ +
        "/dovecot.log\n"
        "auth_verbose = yes\n"
        "disable_plaintext_auth = no\n"
        "auth_mechanisms = plain\n"
        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " +
        root_ +
        "/passwd\n}\n"
        "userdb {\n  driver = passwd-file\n  args = " +
        root_ +
        "/passwd\n}\n"
        "mail_location = maildir:~/Maildir\n"
        "first_valid_uid = 0\n"
        "pop3_uidl_format = %08Xu%08Xv\n"
        // No chroot: a dovecot started by an ordinary user may not chroot at all.
        "service anvil {\n  chroot =\n}\n"
        "service imap-login {\n  chroot =\n  inet_listener imap {\n    port = 0\n  }\n  inet_listener imaps {\n    "
        "port = 0\n  }\n}\n"
        "service pop3-login {\n  chroot =\n"
        "  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " +
        std::to_string(options_.Port) +
        "\n  }\n"
        "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = " +
        std::to_string(options_.TlsPort) + "\n" + (options_.TlsPort != 0 ? "    ssl = yes\n" : "") +
        "  }\n"
        "}\n";
    if (options_.Certificates != nullptr) {
      conf += "ssl = yes\nssl_cert = <" + options_.Certificates->CertFile + "\nssl_key = <" +
              options_.Certificates->KeyFile + "\n";
    } else {
      conf += "ssl = no\n";
    }
    testsupport::WriteFile(root_ + "/dovecot.conf", conf);
    fs::create_directories(root_ + "/state");
    process_ = std::make_unique<ChildProcess>("/usr/sbin/dovecot",
                                              std::vector<std::string>{"-F", "-c", root_ + "/dovecot.conf"}, root_);
    const bool up =
        WaitForTcpPort(options_.Port, 15000) && (options_.TlsPort == 0 || WaitForTcpPort(options_.TlsPort, 15000));
    // The first connection above may have been counted as a client: let it go away.
    return up;
  }

  void Stop() {
    if (process_) {
      process_->Stop(SIGTERM, 10000);
      process_.reset();
    }
  }

  std::string Output() const { return process_ ? process_->Output() : std::string(); }

 private:
  std::string Home(const std::string& user) const { return root_ + "/mail/" + user; }
  static std::string GroupOf(const std::string& user) {
    const passwd* p = ::getpwnam(user.c_str());
    const group* g = p ? ::getgrgid(p->pw_gid) : nullptr;
    return g ? g->gr_name : user;
  }
  void ChownTree(const std::string& path) const {
    (void)::chown((root_ + "/mail").c_str(), mailUid_, mailGid_);
    (void)::chown(path.c_str(), mailUid_, mailGid_);
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(path, ec))
      (void)::chown(e.path().c_str(), mailUid_, mailGid_);
  }

  TempDir dir_;
  std::string root_;
  Options options_;
  std::string internalUser_, loginUser_;
  uid_t mailUid_ = 0;
  gid_t mailGid_ = 0;
  std::vector<std::string> users_;
  int dropped_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// One page request as the paging server received it.
struct ReceivedRequest {
  int RequestType = -1;
  int TimeMode = -1;
  int RecordKind = -1;
  std::string Name;
  std::string Message;
  size_t Bytes = 0;
};

// A paging server on the request pipe that answers "OK" and records each request. Names in
// Drop are answered with nothing: the connection closes as if the server had died mid-way.
class FakePagingServer {
 public:
  explicit FakePagingServer(const std::string& path) : path_(path) {
    if (platform::PipeListen(path_, listener_) != 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakePagingServer() {
    stop_ = true;
    (void)platform::PipeAnswers(path_);  // wakes the accept
    if (thread_.joinable()) thread_.join();
  }
  bool Listening() const { return listener_.Get() >= 0; }
  void DropName(const std::string& name) {
    std::lock_guard lock(mutex_);
    drop_.insert(name);
  }
  std::vector<ReceivedRequest> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  bool WaitForRequests(size_t n, int timeoutMs) const {
    return testsupport::WaitUntil([&] { return Requests().size() >= n; }, timeoutMs);
  }

 private:
  void Serve() {
    while (!stop_) {
      platform::UniqueFd conn;
      if (platform::PipeAccept(listener_, conn) != 0) continue;
      if (stop_) break;
      std::vector<char> buf(common::kMaxRequestBytes + 100);
      size_t real = 0;
      const int n = platform::PipeReceive(conn, buf, real);
      if (n <= 0) continue;  // a presence test: connected and closed
      ReceivedRequest r;
      r.Bytes = static_cast<size_t>(n);
      if (static_cast<size_t>(n) >= common::kRequestHeadSize) {
        common::RequestRecord head;
        std::memcpy(&head, buf.data(), sizeof head);
        r.RecordKind = head.RecordKind;
        r.RequestType = head.RequestType;
        r.TimeMode = head.TimeMode;
        r.Name = common::FieldText(head.Name);
        const size_t len = std::min<size_t>(static_cast<size_t>(std::max<int>(head.MessageLength, 0)),
                                            static_cast<size_t>(n) - common::kRequestHeadSize);
        r.Message.assign(buf.data() + common::kRequestHeadSize, len);
      }
      bool drop = false;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(r);
        drop = drop_.count(r.Name) > 0;
      }
      if (!drop) (void)platform::PipeSend(conn, std::string_view("OK"));
    }
  }

  std::string path_;
  platform::UniqueFd listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::set<std::string> drop_;
  std::vector<ReceivedRequest> requests_;
};

// A TCP proxy in front of a POP3 server that records what the client sends and sees when
// the client ends its connection.
class RecordingProxy {
 public:
  explicit RecordingProxy(uint16_t serverPort) : serverPort_(serverPort) {
    if (platform::TcpListen("127.0.0.1", 0, 8, listener_, port_) != 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~RecordingProxy() {
    stop_ = true;
    platform::TcpShutdown(listener_);
    if (thread_.joinable()) thread_.join();
    for (auto& t : pumps_) t.join();
  }
  uint16_t Port() const { return port_; }
  std::string ClientText() const {
    std::lock_guard lock(mutex_);
    return clientText_;
  }
  // Connections whose client side has ended (closed, or silent for 30 s): nothing more
  // can come from them.
  int ClientsEnded() const { return clientsEnded_; }
  // Waits until the client has sent text and then ended its connection.
  bool WaitForClientEnd(const std::string& text, int timeoutMs) const {
    return testsupport::WaitUntil(
        [&] { return ClientText().find(text) != std::string::npos && clientsEnded_ >= clientsStarted_; }, timeoutMs);
  }

 private:
  void Serve() {
    while (!stop_) {
      auto client = std::make_shared<platform::UniqueFd>();
      std::string peer;
      if (platform::TcpAccept(listener_, *client, peer) != 0) return;
      auto server = std::make_shared<platform::UniqueFd>();
      if (platform::TcpConnect("127.0.0.1", serverPort_, 5000, *server) != 0) continue;
      ++clientsStarted_;
      pumps_.emplace_back([this, client, server] { Pump(*client, *server, true); });
      pumps_.emplace_back([this, client, server] { Pump(*server, *client, false); });
    }
  }
  void Pump(const platform::UniqueFd& from, const platform::UniqueFd& to, bool record) {
    char buf[4096];
    bool forward = true;  // a side that is gone is still read to its end, and recorded
    for (;;) {
      const int n = platform::TcpReceive(from, buf, 30000);
      if (n <= 0) break;
      if (record) {
        std::lock_guard lock(mutex_);
        clientText_.append(buf, static_cast<size_t>(n));
      }
      if (forward && platform::TcpSendAll(to, std::span<const char>(buf, static_cast<size_t>(n))) != 0) {
        forward = false;
      }
    }
    // Only the direction that ended is passed on, so each side still ends its own stream
    // and the client's close is seen as the client's, not as the echo of the server's.
    ::shutdown(to.Get(), SHUT_WR);
    if (record) ++clientsEnded_;
  }

  uint16_t serverPort_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::vector<std::thread> pumps_;
  std::atomic<bool> stop_{false};
  std::atomic<int> clientsStarted_{0};
  std::atomic<int> clientsEnded_{0};
  mutable std::mutex mutex_;
  std::string clientText_;
};

}  // namespace poptest
