// tools/corvsim/tap_listener.h - the TAP terminal on the network: TAP over TCP, and over TLS,
// on 127.0.0.1, with the same terminal logic as behind the simulated modem.
//
// [tap-tcp] keys: port (0, the default: the system chooses), tls_port (absent: no TLS
// listener; 0: the system chooses), cert and key (PEM files, for TLS), terminal (tap, the
// default, or tapm), after_logoff (close, the default: the terminal closes the connection
// after its ESC EOT, as many do; stay: it keeps it open for the next log-on, as the vendors
// that ask clients to stay connected do), and the keys of the terminal kind (password,
// nak_first, rs_ids, disconnect_after, noise, verdict_text, idle_ms, ...).
//
// Record lines: "LISTEN tap port=N" and "LISTEN tap-tls port=N" once listening; per
// connection "CONNECT call=N tls=0|1", the terminal's own lines (LOGON, PAGE, LOGOFF,
// HANGUP) with the same call=N, and "CLOSE call=N" when the terminal closes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/net_stream.h"
#include "tools/corvsim/recorder.h"
#include "tools/corvsim/sim_config.h"

namespace corvsim {

class TapListener {
 public:
  TapListener(SectionConfig config, Recorder& recorder);
  ~TapListener();
  TapListener(const TapListener&) = delete;
  TapListener& operator=(const TapListener&) = delete;

  // Listens and starts accepting. 0, or -errno / platform::kTlsSetupFailed with error set.
  [[nodiscard]] int Start(std::string& error);
  // Stops accepting, ends every connection and joins their threads. Safe to call twice.
  void Stop();

  uint16_t Port() const { return port_; }
  uint16_t TlsPort() const { return tlsPort_; }  // 0 without a TLS listener

 private:
  void AcceptLoop(const platform::UniqueFd* listener, bool tls);
  void Serve(platform::UniqueFd socket, bool tls, int callNumber);

  SectionConfig config_;
  Recorder& recorder_;
  platform::TlsServerContext tls_;
  platform::UniqueFd listener_;
  platform::UniqueFd tlsListener_;
  uint16_t port_ = 0;
  uint16_t tlsPort_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> calls_{0};
  std::mutex mutex_;  // guards the two lists below
  std::vector<std::thread> threads_;
  std::set<platform::NetStream*> open_;  // connections to wake on Stop
};

}  // namespace corvsim
