// tools/corvsim/wctp_carrier.h - a simulated paging carrier that takes pages by WCTP 1.3:
// HTTP, and HTTPS on a test certificate, on 127.0.0.1 (libmicrohttpd), the documents read
// and answered with libxml2, every request recorded.
//
// [wctp] keys: port (0, the default: the system chooses), tls_port (absent: no HTTPS; 0:
// the system chooses), cert and key (PEM files, for HTTPS); the scripted answers:
//   sender_id      a submit from another senderID is answered 401 (empty: any)
//   security_code  another securityCode is answered 402 (empty: any)
//   refuse_ids     recipients answered 403
//   fail_first     the first N submits (over the carrier's life) are answered 500
//   answer         the code every other submit gets (default 200; 500 always fails)
//   slow_ms        a pause before every answer (default 0)
//   status_steps   what successive queries about an accepted page report ("QUEUED
//                  DELIVERED" reports QUEUED once, then DELIVERED); default DELIVERED
//   tracking       on (default): the confirmation carries a trackingNumber "T<n>"
//
// Record lines: "LISTEN wctp port=N", "LISTEN wctp-tls port=N"; then one per request:
//   WCTP submit n=1 tls=0 sender=... security=... messageID=... recipient=... notify=true
//        len=5 text=Hello code=200 tracking=T1
//   WCTP query tls=0 sender=... recipient=... tracking=T1 status=QUEUED
//   WCTP poll tls=0 poller=... acks=1,2 reports=2
//   WCTP bad tls=0 reason=...   (not WCTP, not POST, or too long)
// Texts are escaped as in every record (RecordEscape), of their UTF-8 bytes.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/corvsim/recorder.h"
#include "tools/corvsim/sim_config.h"

struct MHD_Daemon;

namespace corvsim {

// What the carrier knows about one accepted page.
struct WctpCarrierPage {
  std::string MessageID;
  std::string Tracking;
  std::string Recipient;
  size_t StatusStep = 0;  // the next step of status_steps to report
};

class WctpCarrier {
 public:
  WctpCarrier(SectionConfig config, Recorder& recorder);
  ~WctpCarrier();
  WctpCarrier(const WctpCarrier&) = delete;
  WctpCarrier& operator=(const WctpCarrier&) = delete;

  // Starts the HTTP (and HTTPS) daemons. 0, or -1 with error set.
  [[nodiscard]] int Start(std::string& error);
  void Stop();

  uint16_t Port() const { return port_; }
  uint16_t TlsPort() const { return tlsPort_; }

  // Answers one POSTed document (the HTTP status and the body). Public for the tests.
  int Answer(const std::string& body, bool tls, std::string& reply);

  // What a daemon's request handler is given: the carrier, and whether it is the HTTPS one.
  struct DaemonContext {
    WctpCarrier* Carrier;
    bool Tls;
  };

 private:
  std::string Submit(const void* op, bool tls, int& status);
  std::string Query(const void* op, bool tls);
  std::string Poll(const void* op, bool tls);

  SectionConfig config_;
  Recorder& recorder_;
  MHD_Daemon* http_ = nullptr;
  MHD_Daemon* https_ = nullptr;
  std::string certPem_, keyPem_;  // kept: the daemon reads them in place
  DaemonContext plain_{this, false};
  DaemonContext secure_{this, true};
  uint16_t port_ = 0;
  uint16_t tlsPort_ = 0;
  std::mutex mutex_;  // guards what follows: requests arrive on several threads
  long submits_ = 0;
  int64_t nextSequence_ = 1;
  std::vector<WctpCarrierPage> pages_;
};

}  // namespace corvsim
