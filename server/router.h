// server/router.h - moving pages from the Main queue to the port queues.
#pragma once

#include <stop_token>

#include "core/server_state.h"

namespace server {

// What one router pass did.
enum class RouteResult {
  kEmpty,     // the Main queue had no page
  kMoved,     // the head page went to a port queue
  kDropped,   // the head page had no system (or no usable port) and was given up
  kLost,      // the port queue refused the page after it left the Main queue
  kPortBusy,  // the system's port in turn was full, and no page behind it could move
};

// One pass over the Main queue: the head page moves to its system's port in turn; when that
// port's queue is full, the first page behind it whose system's port has room moves instead
// (each system's pages keep their order).
RouteResult RoutePass(core::ServerState& state);

// The router thread: at most 19 pages between two 100 ms sleeps; sleeps until a page
// arrives while the Main queue is empty.
void RouterThread(core::ServerState& state, std::stop_token stop);

}  // namespace server
