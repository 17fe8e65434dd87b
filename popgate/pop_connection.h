// popgate/pop_connection.h - one POP3 connection: plain TCP, or TLS over it (port 995).
//
// TLS runs over memory buffers, so OpenSSL never touches the socket: every wait is the
// platform receive with its time limit, and Shutdown from another thread (a stop) wakes
// it the same way for both kinds. Only the poll thread that opened the connection sends,
// receives and closes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace popgate {

enum OpenResult : int {
  kOpened = 0,
  kLookUpFailed = 1,   // the host name does not resolve
  kNoSocket = 2,       // no socket could be made
  kConnectFailed = 3,  // refused, unreachable or no answer in time
  kTlsFailed = 4,      // handshake failed or the certificate did not verify
};

class PopConnection {
 public:
  PopConnection() = default;
  ~PopConnection();
  PopConnection(const PopConnection&) = delete;
  PopConnection& operator=(const PopConnection&) = delete;

  // Connects to host (a dotted address when it begins with a digit, else a name to look
  // up) at port, within timeoutMs. With useTls, runs the TLS handshake and verifies the
  // server's certificate against the system trust store (SSL_CERT_FILE / SSL_CERT_DIR
  // when set) and host. One of OpenResult; reason says why for every failure.
  [[nodiscard]] int Open(const std::string& host, uint16_t port, bool useTls, int timeoutMs, std::string& reason);

  // Sends all of text. 0, or -1 when the connection is gone.
  [[nodiscard]] int Send(std::string_view text);

  // Waits at most timeoutMs (-1: no limit) for data. Bytes stored, 0 when the peer or
  // Shutdown closed the connection, -ETIMEDOUT when nothing came in time, -1 on error.
  [[nodiscard]] int Receive(std::span<char> buf, int timeoutMs);

  // Ends both directions; a Receive waiting in another thread returns 0. Safe from any
  // thread while the connection is open.
  void Shutdown();

  // Releases the socket and the TLS state. Nothing may call Shutdown from then on.
  void Close();

  bool IsOpen() const { return fd_.Get() >= 0; }

 private:
  int Handshake(const std::string& host, int timeoutMs, std::string& reason);
  int FlushTlsOutput();

  platform::UniqueFd fd_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace popgate
