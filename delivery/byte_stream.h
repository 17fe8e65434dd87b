// delivery/byte_stream.h - the byte stream a terminal conversation runs over: a serial port
// behind a modem, or a socket (TCP, or TLS inside it) to a terminal on the network.
//
// A conversation such as TAP needs only this: write bytes, read the next byte within a
// limit, tell a silent peer from one that has gone, wait for a text, throw away chatter. So
// the same conversation code serves both; what differs (dialling, or connecting) happens
// before the stream is handed over. Time limits on what the peer says are real time,
// whatever CORVEL_TIME_SCALE says, as on the serial port.
#pragma once

#include <cerrno>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "delivery/com_port.h"
#include "platform/net_stream.h"

namespace delivery {

constexpr int kStreamTimeout = -ETIMEDOUT;  // ReadByte: nothing came within the limit
constexpr int kStreamClosed = -ECONNRESET;  // ReadByte: the peer ended the stream, or a stop came

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Writes all of bytes. 0, or -errno when the stream is gone (the caller notices the
  // missing answer in any case; this lets it say why).
  [[nodiscard]] virtual int Write(std::string_view bytes) = 0;

  // The next byte (0..255) within limitMs; kStreamTimeout when none came; kStreamClosed
  // once the peer has closed the stream or the owner's stop was requested.
  [[nodiscard]] virtual int ReadByte(int limitMs) = 0;

  // True once ReadByte can only say kStreamClosed.
  virtual bool Closed() const = 0;
};

// Waits up to limitSec seconds for expected (after CaretConvert) anywhere in the stream,
// comparing the low 7 bits of each byte in a sliding window, as the serial port's
// WaitForText does. 0 seen; 1 time-out or the stream closed first.
int WaitForStreamText(ByteStream& stream, std::string_view expected, int limitSec);

// Throws away what has arrived and what keeps arriving with gaps under 12 ms, for at most
// 5 seconds, so a peer that never goes quiet cannot hold the caller.
void DrainStream(ByteStream& stream);

// A ComPort of a modem call, as a ByteStream. Does not own the port: the call's owner opens
// and closes it.
class ComPortStream final : public ByteStream {
 public:
  explicit ComPortStream(ComPort* port) : port_(port) {}
  [[nodiscard]] int Write(std::string_view bytes) override;
  [[nodiscard]] int ReadByte(int limitMs) override;
  bool Closed() const override { return port_ == nullptr || !*port_; }

 private:
  ComPort* port_;
};

// A connection to a terminal on the network: TCP, or TLS inside it. Not movable (a stop
// callback points at it); hold it by value in the conversation or in a unique_ptr.
class SocketStream final : public ByteStream {
 public:
  SocketStream() = default;
  ~SocketStream() override;
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  // Connects to host:port (TLS when tls.Enabled) within timeoutMs. A stop requested on
  // stop later wakes every wait on the stream, which then reads as closed. 0, or the
  // results of platform::NetStream::Connect; FailureText() says why.
  [[nodiscard]] int Open(const std::string& host, uint16_t port, const platform::TlsClientSettings& tls, int timeoutMs,
                         std::stop_token stop = {});

  [[nodiscard]] int Write(std::string_view bytes) override;
  [[nodiscard]] int ReadByte(int limitMs) override;
  bool Closed() const override { return closed_; }

  // Ends the connection (TLS close_notify first). Safe to call more than once.
  void Close();

  bool IsTls() const { return stream_.IsTls(); }
  const std::string& FailureText() const { return stream_.FailureText(); }

 private:
  struct ShutdownOnStop {
    platform::NetStream* Stream;
    void operator()() const { Stream->Shutdown(); }
  };

  platform::NetStream stream_;
  std::optional<std::stop_callback<ShutdownOnStop>> onStop_;
  std::stop_token stop_;
  std::string buffer_;  // bytes received and not yet read
  size_t next_ = 0;     // index of the next byte of buffer_
  bool closed_ = true;
};

}  // namespace delivery
