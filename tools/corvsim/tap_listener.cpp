// tools/corvsim/tap_listener.cpp - TAP over TCP and TLS: accept loops and one thread per
// connection, each running the terminal on a SocketLine.
#include "tools/corvsim/tap_listener.h"

#include <cstdio>

#include "platform/tcp.h"
#include "tools/corvsim/tapm_session.h"
#include "tools/corvsim/terminal.h"

namespace corvsim {

namespace {

constexpr int kHandshakeMs = 5000;

// A network connection as the terminal's line.
class SocketLine final : public TermLine {
 public:
  SocketLine(platform::NetStream& stream, Recorder& recorder) : stream_(stream), recorder_(recorder) {}
  int ReadByte(int timeoutMs) override {
    if (next_ < buffer_.size()) return static_cast<unsigned char>(buffer_[next_++]);
    if (closed_) return kHangup;
    buffer_.assign(4096, '\0');
    next_ = 0;
    const int n = stream_.Read(buffer_, timeoutMs < 0 ? 0 : timeoutMs);
    if (n > 0) {
      buffer_.resize(static_cast<size_t>(n));
      return static_cast<unsigned char>(buffer_[next_++]);
    }
    buffer_.clear();
    if (n == -ETIMEDOUT) return kTimeout;
    closed_ = true;  // the computer closed the connection, or it broke
    return kHangup;
  }
  void Write(std::string_view bytes) override {
    if (!closed_) (void)stream_.Write(bytes);
  }
  void Record(const std::string& line) override { recorder_.Append(line); }
  bool Closed() const { return closed_; }

 private:
  platform::NetStream& stream_;
  Recorder& recorder_;
  std::string buffer_;
  size_t next_ = 0;
  bool closed_ = false;
};

}  // namespace

TapListener::TapListener(SectionConfig config, Recorder& recorder) : config_(std::move(config)), recorder_(recorder) {}

TapListener::~TapListener() { Stop(); }

int TapListener::Start(std::string& error) {
  const long port = config_.GetInt("port", 0);
  int rc = platform::TcpListen("127.0.0.1", static_cast<uint16_t>(port), 16, listener_, port_);
  if (rc != 0) {
    error = "cannot listen for TAP on port " + std::to_string(port) + ": " + platform::NetStreamErrorText(rc);
    return rc;
  }
  const bool withTls = !config_.Get("tls_port").empty();
  if (withTls) {
    rc = tls_.Load(config_.Get("cert"), config_.Get("key"), error);
    if (rc != 0) return rc;
    const long tlsPort = config_.GetInt("tls_port", 0);
    rc = platform::TcpListen("127.0.0.1", static_cast<uint16_t>(tlsPort), 16, tlsListener_, tlsPort_);
    if (rc != 0) {
      error =
          "cannot listen for TAP over TLS on port " + std::to_string(tlsPort) + ": " + platform::NetStreamErrorText(rc);
      return rc;
    }
  }
  recorder_.Append("LISTEN tap port=" + std::to_string(port_));
  if (withTls) recorder_.Append("LISTEN tap-tls port=" + std::to_string(tlsPort_));
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.emplace_back([this] { AcceptLoop(&listener_, false); });
  if (withTls) threads_.emplace_back([this] { AcceptLoop(&tlsListener_, true); });
  return 0;
}

void TapListener::AcceptLoop(const platform::UniqueFd* listener, bool tls) {
  while (!stopping_.load()) {
    platform::UniqueFd socket;
    std::string peer;
    if (platform::TcpAccept(*listener, socket, peer) != 0) {
      if (stopping_.load()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const int call = ++calls_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.load()) return;
    threads_.emplace_back([this, s = std::move(socket), tls, call]() mutable { Serve(std::move(s), tls, call); });
  }
}

void TapListener::Serve(platform::UniqueFd socket, bool tls, int callNumber) {
  const std::string tag = "call=" + std::to_string(callNumber);
  platform::NetStream stream;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.load()) return;
    open_.insert(&stream);
  }
  const int rc = stream.Accept(std::move(socket), tls ? &tls_ : nullptr, kHandshakeMs);
  recorder_.Append("CONNECT " + tag + " tls=" + (tls ? "1" : "0") +
                   (rc == 0 ? std::string() : " failed=" + RecordEscape(stream.FailureText())));
  if (rc == 0) {
    SocketLine line(stream, recorder_);
    const CallInfo call{callNumber, ""};
    const bool manual = config_.Get("terminal", "tap") == "tapm";
    const bool stay = config_.Get("after_logoff", "close") == "stay";
    for (;;) {
      TapEnd end = TapEnd::kIdle;
      const bool closedByComputer =
          manual ? RunTapmSession(line, config_, call) : RunTapSession(line, config_, call, end);
      if (closedByComputer || line.Closed() || stopping_.load()) break;
      if (!manual && stay && end == TapEnd::kLoggedOff) continue;
      recorder_.Append("CLOSE " + tag);
      break;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(&stream);
  stream.Close();
}

void TapListener::Stop() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.exchange(true)) return;
    platform::TcpShutdown(listener_);
    platform::TcpShutdown(tlsListener_);
    for (platform::NetStream* s : open_) s->Shutdown();
    threads.swap(threads_);
  }
  for (std::thread& t : threads)
    if (t.joinable()) t.join();
}

}  // namespace corvsim
