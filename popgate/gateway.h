// popgate/gateway.h - corvpop32's start-up, its poll threads and its shutdown.
#pragma once

#include "popgate/mailbox.h"

namespace popgate {

// The whole program: banner, POPPAGE.INI, the wait for the paging server, one poll thread
// per mailbox, then the wait for a stop signal. Returns the exit status (0).
int RunGateway(int argc, char** argv);

// The poll thread of one mailbox: polls, sleeps PollTime seconds, for ever.
void PollThread(const GatewayContext& context, size_t index);

}  // namespace popgate
