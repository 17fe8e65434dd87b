// snpp/tls_channel.h - SNPP inside TLS: the server's certificate and key, and one connection's
// TLS over its socket. OpenSSL works on memory buffers, so every wait is the platform's
// receive with its time limit, and a socket shut down from another thread (a stop) wakes a
// TLS session exactly as it wakes a plain one.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace snpp {

class TlsServerContext {
 public:
  TlsServerContext() = default;
  ~TlsServerContext();
  TlsServerContext(const TlsServerContext&) = delete;
  TlsServerContext& operator=(const TlsServerContext&) = delete;

  // Loads the certificate chain (PEM) and its private key and checks that they belong
  // together. 0, or 1 with problem saying why.
  [[nodiscard]] int Load(const std::string& certificatePath, const std::string& keyPath, std::string& problem);
  bool Loaded() const { return ctx_ != nullptr; }
  SSL_CTX* Get() const { return ctx_; }

 private:
  SSL_CTX* ctx_ = nullptr;
};

class TlsChannel {
 public:
  // socket outlives the channel; context is loaded.
  TlsChannel(const TlsServerContext& context, const platform::UniqueFd& socket);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // The server's side of the handshake, within timeoutMs. 0, or 1 with problem set.
  [[nodiscard]] int Handshake(int timeoutMs, std::string& problem);

  // As platform::TcpReceive: bytes stored, 0 when the peer closed (or the socket was shut),
  // -ETIMEDOUT when nothing came within timeoutMs (-1: no limit), other negative on error.
  [[nodiscard]] int Receive(std::span<char> buf, int timeoutMs);

  // Sends all of bytes. 0, or -1 when the connection is gone.
  [[nodiscard]] int Send(std::string_view bytes);

  // Tells the client the session ends (TLS close_notify), so it can tell an end from a cut.
  void Close();

 private:
  int Flush();

  const platform::UniqueFd& socket_;
  SSL* ssl_ = nullptr;
};

}  // namespace snpp
