// delivery/byte_stream.cpp - the conversation's byte stream over a serial port or a socket.
#include "delivery/byte_stream.h"

#include <chrono>

namespace delivery {

namespace {

using Clock = std::chrono::steady_clock;

// As on the serial port: a gap this long ends a drain; a peer that never goes quiet is
// left after kDrainLimitMs.
constexpr int kDrainGapMs = 12;
constexpr int kDrainLimitMs = 5000;
constexpr size_t kReceiveChunk = 4096;

int LeftMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

int WaitForStreamText(ByteStream& stream, std::string_view expected, int limitSec) {
  const std::string want = CaretConvert(expected);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limitSec < 0 ? 0 : limitSec);
  std::string window;
  for (;;) {
    const int left = LeftMs(deadline);
    if (left == 0) return 1;
    const int byte = stream.ReadByte(left);
    if (byte < 0) return 1;
    window.push_back(static_cast<char>(byte & 0x7F));
    if (window.size() > want.size()) window.erase(0, window.size() - want.size());
    if (window == want) return 0;
  }
}

void DrainStream(ByteStream& stream) {
  const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(kDrainLimitMs);
  while (Clock::now() < giveUp) {
    if (stream.ReadByte(kDrainGapMs) < 0) return;
  }
}

int ComPortStream::Write(std::string_view bytes) {
  if (Closed()) return -EPIPE;
  return WriteComText(port_, bytes);
}

int ComPortStream::ReadByte(int limitMs) {
  if (Closed()) return kStreamClosed;
  int timedOut = 0;
  const int byte = ReadComByteTimed(port_, limitMs, timedOut);
  if (byte < 0) return kStreamClosed;
  return timedOut ? kStreamTimeout : byte;
}

SocketStream::~SocketStream() { Close(); }

int SocketStream::Open(const std::string& host, uint16_t port, const platform::TlsClientSettings& tls, int timeoutMs,
                       std::stop_token stop) {
  Close();
  buffer_.clear();
  next_ = 0;
  if (stop.stop_requested()) return -ECANCELED;
  const int rc = stream_.Connect(host, port, tls, timeoutMs);
  if (rc != 0) return rc;
  closed_ = false;
  stop_ = std::move(stop);
  // Registered after the connect: the callback may run at once, on this thread, and must
  // find an open stream to shut down.
  onStop_.emplace(stop_, ShutdownOnStop{&stream_});
  return 0;
}

int SocketStream::Write(std::string_view bytes) {
  if (closed_) return -EPIPE;
  return stream_.Write(bytes);
}

int SocketStream::ReadByte(int limitMs) {
  if (next_ < buffer_.size()) return static_cast<unsigned char>(buffer_[next_++]);
  if (closed_) return kStreamClosed;
  if (stop_.stop_requested()) {
    closed_ = true;
    return kStreamClosed;
  }
  buffer_.assign(kReceiveChunk, '\0');
  next_ = 0;
  const int n = stream_.Read(buffer_, limitMs < 0 ? 0 : limitMs);
  if (n > 0) {
    buffer_.resize(static_cast<size_t>(n));
    return static_cast<unsigned char>(buffer_[next_++]);
  }
  buffer_.clear();
  if (n == -ETIMEDOUT && !stop_.stop_requested()) return kStreamTimeout;
  closed_ = true;  // the peer closed, the stream broke, or the stop shut it down
  return kStreamClosed;
}

void SocketStream::Close() {
  onStop_.reset();  // waits for a stop callback that is running: the stream stays valid for it
  stream_.Close();
  closed_ = true;
}

}  // namespace delivery
