// popgate/pop_connection.cpp - POP3 over TCP, and over TLS with OpenSSL on memory buffers.
#include "popgate/pop_connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/tcp.h"

namespace popgate {

namespace {

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "TLS handshake failed";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool IsIpAddress(const std::string& host) {
  return !host.empty() && std::isdigit(static_cast<unsigned char>(host[0])) &&
         host.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

PopConnection::~PopConnection() { Close(); }

int PopConnection::Open(const std::string& host, uint16_t port, bool useTls, int timeoutMs, std::string& reason) {
  Close();
  std::string dotted = host;
  if (host.empty() || !std::isdigit(static_cast<unsigned char>(host[0]))) {
    if (platform::ResolveHost(host, dotted) != 0) {
      reason = "host name " + host + " does not resolve";
      return kLookUpFailed;
    }
  }
  const int rc = platform::TcpConnect(dotted, port, timeoutMs, fd_);
  if (rc != 0) {
    reason = std::string("connect to ") + dotted + ":" + std::to_string(port) + ": " + std::strerror(-rc);
    fd_.Reset();
    const int e = -rc;
    return (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM || e == EAFNOSUPPORT) ? kNoSocket
                                                                                            : kConnectFailed;
  }
  if (!useTls) return kOpened;
  const int tls = Handshake(host, timeoutMs, reason);
  if (tls != kOpened) Close();
  return tls;
}

int PopConnection::Handshake(const std::string& host, int timeoutMs, std::string& reason) {
  ERR_clear_error();
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (ctx_ == nullptr) {
    reason = OpenSslReason();
    return kTlsFailed;
  }
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  // The system trust store; SSL_CERT_FILE and SSL_CERT_DIR name another one when set.
  if (SSL_CTX_set_default_verify_paths(ctx_) != 1) {
    reason = "the trust store cannot be read: " + OpenSslReason();
    return kTlsFailed;
  }
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  ssl_ = SSL_new(ctx_);
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (ssl_ == nullptr || in == nullptr || out == nullptr) {
    BIO_free(in);
    BIO_free(out);
    reason = OpenSslReason();
    return kTlsFailed;
  }
  SSL_set_bio(ssl_, in, out);  // ssl_ owns both now
  if (IsIpAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, host.c_str());
    SSL_set1_host(ssl_, host.c_str());
  }
  SSL_set_connect_state(ssl_);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<char> raw(16384);
  for (;;) {
    const int r = SSL_do_handshake(ssl_);
    if (FlushTlsOutput() != 0) {
      reason = "the server closed the connection during the TLS handshake";
      return kTlsFailed;
    }
    if (r == 1) return kOpened;
    const int error = SSL_get_error(ssl_, r);
    if (error != SSL_ERROR_WANT_READ) {
      const long verify = SSL_get_verify_result(ssl_);
      reason = verify != X509_V_OK
                   ? std::string("certificate of ") + host + " not verified: " + X509_verify_cert_error_string(verify)
                   : OpenSslReason();
      return kTlsFailed;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int n = left.count() > 0 ? platform::TcpReceive(fd_, raw, static_cast<int>(left.count())) : -ETIMEDOUT;
    if (n <= 0) {
      reason = n == -ETIMEDOUT ? "no TLS answer from the server in time"
                               : "the server closed the connection during the TLS handshake";
      return kTlsFailed;
    }
    BIO_write(SSL_get_rbio(ssl_), raw.data(), n);
  }
}

int PopConnection::FlushTlsOutput() {
  BIO* out = SSL_get_wbio(ssl_);
  char buf[16384];
  while (BIO_ctrl_pending(out) > 0) {
    const int n = BIO_read(out, buf, sizeof buf);
    if (n <= 0) break;
    if (platform::TcpSendAll(fd_, std::span<const char>(buf, static_cast<size_t>(n))) != 0) return -1;
  }
  return 0;
}

int PopConnection::Send(std::string_view text) {
  if (ssl_ == nullptr) return platform::TcpSendAll(fd_, text) == 0 ? 0 : -1;
  // Into a memory buffer, SSL_write takes everything at once.
  if (!text.empty() && SSL_write(ssl_, text.data(), static_cast<int>(text.size())) <= 0) {
    ERR_clear_error();
    return -1;
  }
  return FlushTlsOutput();
}

int PopConnection::Receive(std::span<char> buf, int timeoutMs) {
  if (ssl_ == nullptr) {
    const int n = platform::TcpReceive(fd_, buf, timeoutMs);
    return n >= 0 || n == -ETIMEDOUT ? n : -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::vector<char> raw(16384);
  for (;;) {
    const int n = SSL_read(ssl_, buf.data(), static_cast<int>(buf.size()));
    // Reading may have produced TLS records to answer (key updates, alerts).
    if (FlushTlsOutput() != 0 && n <= 0) return -1;
    if (n > 0) return n;
    const int error = SSL_get_error(ssl_, n);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    if (error != SSL_ERROR_WANT_READ) {
      ERR_clear_error();
      return -1;
    }
    int waitMs = -1;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      waitMs = static_cast<int>(std::max<int64_t>(left.count(), 0));  // 0 still takes what is there
    }
    const int got = platform::TcpReceive(fd_, raw, waitMs);
    if (got <= 0) return got == 0 || got == -ETIMEDOUT ? got : -1;
    BIO_write(SSL_get_rbio(ssl_), raw.data(), got);
  }
}

void PopConnection::Shutdown() {
  if (fd_.Get() >= 0) platform::TcpShutdown(fd_);
}

void PopConnection::Close() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  ssl_ = nullptr;
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
  ctx_ = nullptr;
  fd_.Reset();
}

}  // namespace popgate
