// platform/net_stream.cpp - TCP streams, and TLS over them with OpenSSL on memory buffers.
#include "platform/net_stream.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/tcp.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kRawChunk = 16384;  // one TLS record at most

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

std::string OpenSslText(std::string_view fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return std::string(fallback);
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool IsAddress(const std::string& host) {
  in_addr addr{};
  return ::inet_pton(AF_INET, host.c_str(), &addr) == 1;
}

// Milliseconds left until deadline, never negative; -1 stays "no limit".
int LeftMs(Clock::time_point deadline, bool limited) {
  if (!limited) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<int64_t>(left, 0));
}

void ApplyWriteLimit(const UniqueFd& fd, int ms) {
  if (!fd.Valid()) return;
  timeval limit{};
  limit.tv_sec = ms / 1000;
  limit.tv_usec = (ms % 1000) * 1000;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

struct TlsServerState {
  std::unique_ptr<SSL_CTX, SslCtxFree> Ctx;
};

struct TlsSession {
  std::unique_ptr<SSL_CTX, SslCtxFree> OwnCtx;  // a client's; a server's context is shared
  std::unique_ptr<SSL, SslFree> Ssl;
  std::string PeerName;  // what the certificate had to name (client side)
};

TlsServerContext::TlsServerContext() = default;
TlsServerContext::~TlsServerContext() = default;

int TlsServerContext::Load(const std::string& certFile, const std::string& keyFile, std::string& reason) {
  ERR_clear_error();
  auto state = std::make_unique<TlsServerState>();
  state->Ctx.reset(SSL_CTX_new(TLS_server_method()));
  if (!state->Ctx) {
    reason = OpenSslText("no TLS context");
    return kTlsSetupFailed;
  }
  SSL_CTX_set_min_proto_version(state->Ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(state->Ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (SSL_CTX_use_certificate_chain_file(state->Ctx.get(), certFile.c_str()) != 1) {
    reason = "certificate " + certFile + ": " + OpenSslText("unreadable");
    return kTlsSetupFailed;
  }
  if (SSL_CTX_use_PrivateKey_file(state->Ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(state->Ctx.get()) != 1) {
    reason = "key " + keyFile + ": " + OpenSslText("unreadable or not the certificate's");
    return kTlsSetupFailed;
  }
  state_ = std::move(state);
  return 0;
}

NetStream::NetStream() = default;
NetStream::~NetStream() { Close(); }
NetStream::NetStream(NetStream&& other) noexcept
    : fd_(std::move(other.fd_)), tls_(std::move(other.tls_)), failure_(std::move(other.failure_)) {}
NetStream& NetStream::operator=(NetStream&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::move(other.fd_);
    tls_ = std::move(other.tls_);
    failure_ = std::move(other.failure_);
  }
  return *this;
}

int NetStream::Fail(int rc, std::string text) {
  failure_ = std::move(text);
  tls_.reset();
  fd_.Reset();
  return rc;
}

int NetStream::Connect(const std::string& host, uint16_t port, const TlsClientSettings& tls, int timeoutMs) {
  Close();
  failure_.clear();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  const int rc = TcpConnect(host, port, std::max(timeoutMs, 1), fd_);
  if (rc != 0) {
    return Fail(rc, rc == -EHOSTUNREACH
                        ? "host name " + host + " does not resolve"
                        : "connect to " + host + ":" + std::to_string(port) + ": " + NetStreamErrorText(rc));
  }
  ApplyWriteLimit(fd_, kNetWriteLimitMs);
  if (!tls.Enabled) return 0;

  ERR_clear_error();
  auto session = std::make_unique<TlsSession>();
  session->OwnCtx.reset(SSL_CTX_new(TLS_client_method()));
  if (!session->OwnCtx) return Fail(kTlsSetupFailed, OpenSslText("no TLS context"));
  SSL_CTX* ctx = session->OwnCtx.get();
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Many servers close without a TLS goodbye after their last reply; that is an end, not
  // a broken record.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  const int trust = tls.CaFile.empty() ? SSL_CTX_set_default_verify_paths(ctx)
                                       : SSL_CTX_load_verify_locations(ctx, tls.CaFile.c_str(), nullptr);
  if (trust != 1) {
    return Fail(kTlsSetupFailed, "trust store " + (tls.CaFile.empty() ? std::string("of the system") : tls.CaFile) +
                                     " unreadable: " + OpenSslText("no certificates"));
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  session->Ssl.reset(SSL_new(ctx));
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (!session->Ssl || in == nullptr || out == nullptr) {
    BIO_free(in);
    BIO_free(out);
    return Fail(kTlsSetupFailed, OpenSslText("no TLS session"));
  }
  SSL* ssl = session->Ssl.get();
  SSL_set_bio(ssl, in, out);  // the session owns both now
  session->PeerName = tls.ServerName.empty() ? host : tls.ServerName;
  if (IsAddress(session->PeerName)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), session->PeerName.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, session->PeerName.c_str());
    SSL_set1_host(ssl, session->PeerName.c_str());
  }
  SSL_set_connect_state(ssl);
  tls_ = std::move(session);
  return Handshake(LeftMs(deadline, true));
}

int NetStream::Accept(UniqueFd socket, const TlsServerContext* tls, int timeoutMs) {
  Close();
  failure_.clear();
  fd_ = std::move(socket);
  ApplyWriteLimit(fd_, kNetWriteLimitMs);
  if (tls == nullptr) return 0;
  if (!tls->Loaded()) return Fail(kTlsSetupFailed, "no certificate loaded");
  ERR_clear_error();
  auto session = std::make_unique<TlsSession>();
  session->Ssl.reset(SSL_new(tls->State()->Ctx.get()));
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (!session->Ssl || in == nullptr || out == nullptr) {
    BIO_free(in);
    BIO_free(out);
    return Fail(kTlsSetupFailed, OpenSslText("no TLS session"));
  }
  SSL_set_bio(session->Ssl.get(), in, out);
  SSL_set_accept_state(session->Ssl.get());
  tls_ = std::move(session);
  return Handshake(timeoutMs);
}

int NetStream::Handshake(int timeoutMs) {
  SSL* ssl = tls_->Ssl.get();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::string raw(kRawChunk, '\0');
  for (;;) {
    const int r = SSL_do_handshake(ssl);
    const int flushed = FlushTls();
    if (r == 1 && flushed == 0) return 0;
    if (flushed != 0) return Fail(kTlsHandshakeFailed, "the peer closed the connection during the TLS handshake");
    const int error = SSL_get_error(ssl, r);
    if (error != SSL_ERROR_WANT_READ) {
      const long verify = SSL_get_verify_result(ssl);
      if (verify != X509_V_OK) {
        return Fail(kTlsNotTrusted,
                    "certificate of " + tls_->PeerName + " not verified: " + X509_verify_cert_error_string(verify));
      }
      return Fail(kTlsHandshakeFailed, "TLS handshake failed: " + OpenSslText("no common ground"));
    }
    const int left = LeftMs(deadline, true);
    const int n = left > 0 ? TcpReceive(fd_, raw, left) : -ETIMEDOUT;
    if (n <= 0) {
      return Fail(n == -ETIMEDOUT ? -ETIMEDOUT : kTlsHandshakeFailed,
                  n == -ETIMEDOUT ? "no TLS answer from the peer in time"
                                  : "the peer closed the connection during the TLS handshake");
    }
    BIO_write(SSL_get_rbio(ssl), raw.data(), n);
  }
}

int NetStream::FlushTls() {
  BIO* out = SSL_get_wbio(tls_->Ssl.get());
  char buf[kRawChunk];
  while (BIO_ctrl_pending(out) > 0) {
    const int n = BIO_read(out, buf, sizeof buf);
    if (n <= 0) break;
    if (const int rc = TcpSendAll(fd_, std::span<const char>(buf, static_cast<size_t>(n))); rc != 0) return rc;
  }
  return 0;
}

int NetStream::Write(std::string_view bytes) {
  if (!fd_.Valid()) return -EPIPE;
  if (!tls_) return TcpSendAll(fd_, bytes);
  // Into a memory buffer, SSL_write takes everything at once.
  if (!bytes.empty() && SSL_write(tls_->Ssl.get(), bytes.data(), static_cast<int>(bytes.size())) <= 0) {
    ERR_clear_error();
    return -EPIPE;
  }
  return FlushTls();
}

int NetStream::Read(std::span<char> buf, int timeoutMs) {
  if (buf.empty()) return -EINVAL;
  if (!fd_.Valid()) return 0;
  if (!tls_) return TcpReceive(fd_, buf, timeoutMs);
  const bool limited = timeoutMs >= 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::string raw(kRawChunk, '\0');
  for (;;) {
    const int n = SSL_read(tls_->Ssl.get(), buf.data(), static_cast<int>(std::min<size_t>(buf.size(), INT32_MAX)));
    // Reading may have made records to answer (key updates, alerts).
    const int flushed = FlushTls();
    if (n > 0) return n;
    const int error = SSL_get_error(tls_->Ssl.get(), n);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    if (error != SSL_ERROR_WANT_READ) {
      ERR_clear_error();
      return -EPROTO;
    }
    if (flushed != 0) return 0;  // the peer is gone
    const int got = TcpReceive(fd_, raw, LeftMs(deadline, limited));
    if (got <= 0) return got;  // 0 closed, -ETIMEDOUT, -errno
    BIO_write(SSL_get_rbio(tls_->Ssl.get()), raw.data(), got);
  }
}

void NetStream::SetWriteLimit(int ms) { ApplyWriteLimit(fd_, ms < 1 ? 1 : ms); }

void NetStream::Shutdown() {
  if (fd_.Valid()) TcpShutdown(fd_);
}

void NetStream::Close() {
  if (tls_ && fd_.Valid() && SSL_is_init_finished(tls_->Ssl.get())) {
    SSL_shutdown(tls_->Ssl.get());
    (void)FlushTls();
    ERR_clear_error();
  }
  tls_.reset();
  fd_.Reset();
}

std::string NetStreamErrorText(int rc) {
  switch (rc) {
    case 0:
      return "no error";
    case kTlsHandshakeFailed:
      return "TLS handshake failed";
    case kTlsNotTrusted:
      return "certificate not trusted";
    case kTlsSetupFailed:
      return "TLS set-up failed";
    case -EHOSTUNREACH:
      return "host name does not resolve";
    default:
      return std::strerror(-rc);
  }
}

}  // namespace platform
