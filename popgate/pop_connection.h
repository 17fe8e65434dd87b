// popgate/pop_connection.h - one POP3 connection: plain TCP, or TLS over it (port 995).
//
// TLS runs over memory buffers, so OpenSSL never touches the socket: the receiving thread
// blocks in the platform receive without holding anything, while the poll thread may send
// at the same time. The TLS state is only used under the connection's lock.
#pragma once

#include <cstdint>
#include <mutex>
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
  [[nodiscard]] int Open(const std::string& host, uint16_t port, bool useTls, int timeoutMs,
                         std::string& reason);

  // Sends all of text. 0, or -1 when the connection is gone.
  [[nodiscard]] int Send(std::string_view text);

  // Waits for data (no time limit; Shutdown wakes it). Bytes stored, 0 when the peer or
  // Shutdown closed the connection, -1 on error.
  [[nodiscard]] int Receive(std::span<char> buf);

  // Ends both directions; a thread blocked in Receive returns. Safe from any thread.
  void Shutdown();

  // Releases the socket and the TLS state. Call after the receiving thread has ended.
  void Close();

  bool IsOpen() const { return fd_.Get() >= 0; }

 private:
  int Handshake(const std::string& host, int timeoutMs, std::string& reason);
  int FlushTlsOutput();  // under lock_

  platform::UniqueFd fd_;
  std::mutex lock_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace popgate
