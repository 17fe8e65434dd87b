// snpp/tls_channel.cpp - OpenSSL on memory buffers over the platform's TCP calls.
#include "snpp/tls_channel.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/tcp.h"

namespace snpp {

namespace {

constexpr size_t kRawBytes = 16384;  // one TLS record at most

std::string OpenSslReason(std::string_view fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return std::string(fallback);
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

int LeftMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

}  // namespace

TlsServerContext::~TlsServerContext() {
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
}

int TlsServerContext::Load(const std::string& certificatePath, const std::string& keyPath, std::string& problem) {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) {
    problem = OpenSslReason("no TLS context");
    return 1;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(ctx, certificatePath.c_str()) != 1) {
    problem = "certificate " + certificatePath + ": " + OpenSslReason("cannot be read");
  } else if (SSL_CTX_use_PrivateKey_file(ctx, keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
    problem = "key " + keyPath + ": " + OpenSslReason("cannot be read");
  } else if (SSL_CTX_check_private_key(ctx) != 1) {
    problem = "key " + keyPath + " does not belong to certificate " + certificatePath;
  } else {
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
    ctx_ = ctx;
    return 0;
  }
  ERR_clear_error();
  SSL_CTX_free(ctx);
  return 1;
}

TlsChannel::TlsChannel(const TlsServerContext& context, const platform::UniqueFd& socket) : socket_(socket) {
  ssl_ = SSL_new(context.Get());
  if (ssl_ == nullptr) return;
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (in == nullptr || out == nullptr) {
    BIO_free(in);
    BIO_free(out);
    SSL_free(ssl_);
    ssl_ = nullptr;
    return;
  }
  SSL_set_bio(ssl_, in, out);  // ssl_ owns both now
  SSL_set_accept_state(ssl_);
}

TlsChannel::~TlsChannel() {
  if (ssl_ != nullptr) SSL_free(ssl_);
}

int TlsChannel::Flush() {
  BIO* out = SSL_get_wbio(ssl_);
  char buf[kRawBytes];
  while (BIO_ctrl_pending(out) > 0) {
    const int n = BIO_read(out, buf, sizeof buf);
    if (n <= 0) break;
    if (platform::TcpSendAll(socket_, std::span<const char>(buf, static_cast<size_t>(n))) != 0) return -1;
  }
  return 0;
}

int TlsChannel::Handshake(int timeoutMs, std::string& problem) {
  if (ssl_ == nullptr) {
    problem = "no memory for TLS";
    return 1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<char> raw(kRawBytes);
  for (;;) {
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    if (Flush() != 0) {
      problem = "the client closed the connection during the TLS handshake";
      return 1;
    }
    if (r == 1) return 0;
    if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ) {
      problem = OpenSslReason("TLS handshake failed");
      return 1;
    }
    const int n = platform::TcpReceive(socket_, raw, LeftMs(deadline));
    if (n <= 0) {
      problem =
          n == -ETIMEDOUT ? "no TLS handshake in time" : "the client closed the connection during the TLS handshake";
      return 1;
    }
    BIO_write(SSL_get_rbio(ssl_), raw.data(), n);
  }
}

int TlsChannel::Receive(std::span<char> buf, int timeoutMs) {
  if (ssl_ == nullptr || buf.empty()) return -EINVAL;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::vector<char> raw(kRawBytes);
  for (;;) {
    ERR_clear_error();
    const int n = SSL_read(ssl_, buf.data(), static_cast<int>(std::min<size_t>(buf.size(), 1 << 30)));
    if (Flush() != 0 && n <= 0) return -EPIPE;
    if (n > 0) return n;
    const int error = SSL_get_error(ssl_, n);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;  // the client's close_notify
    if (error != SSL_ERROR_WANT_READ) {
      ERR_clear_error();
      return -EPROTO;
    }
    const int got = platform::TcpReceive(socket_, raw, timeoutMs < 0 ? -1 : LeftMs(deadline));
    if (got <= 0) return got;  // closed, timed out or failed
    BIO_write(SSL_get_rbio(ssl_), raw.data(), got);
  }
}

void TlsChannel::Close() {
  if (ssl_ == nullptr) return;
  ERR_clear_error();
  SSL_shutdown(ssl_);
  (void)Flush();
  ERR_clear_error();
}

int TlsChannel::Send(std::string_view bytes) {
  if (ssl_ == nullptr) return -1;
  // Into a memory buffer SSL_write takes everything at once.
  if (!bytes.empty() && SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) <= 0) {
    ERR_clear_error();
    return -1;
  }
  return Flush();
}

}  // namespace snpp
