// platform/net_stream.h - a byte stream over TCP, optionally inside TLS: the client side that
// reaches paging carriers (SNPP, TAP over TCP), and the server side the simulators answer on.
//
// TLS runs over memory buffers, so OpenSSL never touches the socket: every wait is a poll
// with its time limit, and Shutdown from another thread wakes a blocked Read the same way
// for both kinds. A client verifies the server's certificate against the system trust
// store (SSL_CERT_FILE / SSL_CERT_DIR when set) or a CA file, and checks the host name (or
// the address, when it connects to one) against it. Writes never raise SIGPIPE.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// Results beyond the socket's own -errno values.
constexpr int kTlsHandshakeFailed = -EPROTO;   // no TLS session could be agreed
constexpr int kTlsNotTrusted = -EKEYREJECTED;  // the certificate or its name did not verify
constexpr int kTlsSetupFailed = -ENOPKG;       // trust store, certificate or key unusable

constexpr int kNetWriteLimitMs = 30000;  // a peer that stops reading fails a write after this

struct TlsClientSettings {
  bool Enabled = false;
  std::string CaFile;      // empty: the system trust store
  std::string ServerName;  // name the certificate must carry; empty: the host connected to
};

struct TlsServerState;  // net_stream.cpp

// A server's certificate and key, loaded once and shared by every stream it accepts.
class TlsServerContext {
 public:
  TlsServerContext();
  ~TlsServerContext();
  TlsServerContext(const TlsServerContext&) = delete;
  TlsServerContext& operator=(const TlsServerContext&) = delete;

  // Loads a PEM certificate (chain) and its key. 0, or kTlsSetupFailed with reason set.
  [[nodiscard]] int Load(const std::string& certFile, const std::string& keyFile, std::string& reason);
  bool Loaded() const { return state_ != nullptr; }
  TlsServerState* State() const { return state_.get(); }

 private:
  std::unique_ptr<TlsServerState> state_;
};

struct TlsSession;  // net_stream.cpp

// One connection; move-only. Only one thread reads and writes; Shutdown may come from any.
class NetStream {
 public:
  NetStream();
  ~NetStream();
  NetStream(NetStream&& other) noexcept;
  NetStream& operator=(NetStream&& other) noexcept;
  NetStream(const NetStream&) = delete;
  NetStream& operator=(const NetStream&) = delete;

  // Connects to host (a name or dotted IPv4 address) at port and, when tls.Enabled, runs
  // the TLS handshake, all within timeoutMs. 0; -EHOSTUNREACH (the name does not resolve),
  // -ETIMEDOUT, -ECONNREFUSED or another -errno from the socket; kTlsHandshakeFailed,
  // kTlsNotTrusted or kTlsSetupFailed. FailureText() says why in words.
  [[nodiscard]] int Connect(const std::string& host, uint16_t port, const TlsClientSettings& tls, int timeoutMs);

  // Takes an accepted socket and, with tls (may be null), runs the server's handshake
  // within timeoutMs. 0, or the results of Connect.
  [[nodiscard]] int Accept(UniqueFd socket, const TlsServerContext* tls, int timeoutMs);

  // Sends all of bytes, waiting at most kNetWriteLimitMs (or what SetWriteLimit set) for a
  // peer that does not read. 0, or -errno (-EPIPE once the peer is gone, -EAGAIN when the
  // peer stopped reading).
  [[nodiscard]] int Write(std::string_view bytes);

  // Waits at most timeoutMs (-1: no limit) for bytes. The count stored; 0 when the peer
  // closed (or Shutdown was called); -ETIMEDOUT when nothing came in time; -EPROTO for a
  // broken TLS record; another -errno.
  [[nodiscard]] int Read(std::span<char> buf, int timeoutMs);

  // How long a write may wait for a peer that does not read (from the next write on).
  void SetWriteLimit(int ms);

  // Ends both directions; a Read blocked in another thread returns 0. Safe from any thread
  // while the stream is open.
  void Shutdown();

  // Says goodbye (TLS close_notify, without waiting for the answer) and releases the
  // socket. Nothing may call Shutdown from then on.
  void Close();

  bool IsOpen() const { return fd_.Valid(); }
  bool IsTls() const { return tls_ != nullptr; }
  const std::string& FailureText() const { return failure_; }

 private:
  int Handshake(int timeoutMs);
  int FlushTls();
  int Fail(int rc, std::string text);

  UniqueFd fd_;
  std::unique_ptr<TlsSession> tls_;
  std::string failure_;
};

// Words for a result of NetStream (the -errno text, or what the TLS results mean).
std::string NetStreamErrorText(int rc);

}  // namespace platform
