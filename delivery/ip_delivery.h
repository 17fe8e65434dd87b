// delivery/ip_delivery.h - the drivers of paging systems reached over IP: TAP and TAP manual
// mode on a TCP or TLS socket, WCTP 1.3 over HTTP(S), and SNPP to a carrier's server.
//
// They keep the contract of delivery.h, with a connection where the modem drivers have a
// call: no port is opened and nothing is dialled. Each records a page `sending` before it
// goes out and its end before it leaves the queue. The carriers' answers decide as the
// protocols say: WCTP 2xx and SNPP 2xx send the page; WCTP 4xx and SNPP 5xx give it up at
// once (it can never go as it is); anything else (WCTP 3xx/5xx, SNPP 4xx, HTTP and network
// failures) leaves it at the head and fails the round, so the worker's retry policy decides.
#pragma once

#include <cstdint>
#include <string>

#include "delivery/delivery.h"
#include "delivery/wctp_watch.h"

namespace delivery {

constexpr int kIpConnectLimitMs = 10000;  // a TAP terminal on the network must answer by then

// TAP over a socket to the system's TapHost (inside TLS with TapTls): the same conversation
// as on a modem line. Results as DeliverTap (1 also when no connection could be made).
[[nodiscard]] int DeliverTapOverIp(DialWork& work);

// TAP manual mode over a socket to the system's TapHost. Results as DeliverTapManual.
[[nodiscard]] int DeliverTapManualOverIp(DialWork& work);

// The head page to the system's WCTP carrier (one page per call). 0 when the carrier took
// it or refused it for good (it left the queue), 1 for a failed round (it stays).
[[nodiscard]] int DeliverWctp(DialWork& work);

// The pages queued for the head page's system to its SNPP carrier, on one session for as
// many of them as follow each other (up to MaxPagesPerConnection). 0 when the session ended
// normally, 1 when it could not be had or a page failed its round (that page stays).
[[nodiscard]] int DeliverSnpp(DialWork& work);

// The gateway's part of every WCTP messageID: this host's name, so two gateways that share
// a sender ID at a carrier do not hand out the same IDs.
const std::string& WctpGatewayId();

}  // namespace delivery
