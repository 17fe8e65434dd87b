// popgate/gateway.cpp - corvpop32's start-up and poll threads.
#include "popgate/gateway.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "common/config_path.h"
#include "common/log.h"
#include "common/pipe_client.h"
#include "common/version.h"
#include "platform/signals.h"
#include "popgate/pop_client.h"
#include "popgate/poppage_ini.h"

namespace popgate {

namespace {

constexpr int64_t kMinPollTimeSec = 1;

// The banner, the start line and the configuration. kGatewayRunning, or kGatewayEnded
// when memory ran out.
int ReadConfiguration(GatewayContext& context) {
  common::WriteConsole(common::FormatText("Corvel.  Version %s\n", common::kVersion));
  common::WriteConsole("Post Office Protocol(POP) Paging Gateway\n");
  common::WriteConsole("For use with OS/2 or NT Pager Server\n");
  common::SetProgramName(context.ProgramName);
  common::LogLine("%t %s: Corvel Internet Mail Gateway Starting.  Version %s\n", context.ProgramName, common::kVersion);
  try {
    context.Mailboxes.reserve(context.Capacity);
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error - calloc\n", context.ProgramName);
    return kGatewayEnded;
  }
  const int read = ReadPopPageIni(common::ConfigFile("POPPAGE.INI"), context);
  if (read == kPopPageNoMemory) return kGatewayEnded;  // "Error - calloc" is logged
  if (read != kPopPageRead) common::LogLine("%t %s: Error reading POPPAGE.INI\n", context.ProgramName);
  // The pagers' code page is the paging server's: MIME text is converted into it.
  context.MapCodePage = ReadMapCodePage(common::ConfigFile("page.ini"));
  return kGatewayRunning;
}

}  // namespace

int PollThreads::Start(const GatewayContext& context) {
  for (size_t i = 0; i < context.Mailboxes.size(); ++i) {
    try {
      threads_.emplace_back([&context, i](std::stop_token stop) { PollThread(context, i, stop); });
    } catch (const std::system_error&) {
      common::LogLine("%t %s: Error - calloc\n", context.ProgramName);
      return 1;
    }
  }
  return 0;
}

void PollThreads::Stop() {
  for (std::jthread& t : threads_) t.request_stop();  // all at once: their waits end together
  for (std::jthread& t : threads_) {
    if (t.joinable()) t.join();
  }
  threads_.clear();
}

void PollThread(const GatewayContext& context, size_t index, std::stop_token stop) {
  const Mailbox& box = context.Mailboxes[index];
  MailOptions options;
  options.ProgramName = context.ProgramName;
  options.MapCodePage = context.MapCodePage;
  PopSession session(box, options);
  while (!stop.stop_requested()) {
    session.Options.Debug = common::DebugOn();
    PollMailbox(session, stop);
    if (stop.stop_requested()) break;
    common::DebugLine("MIR: %d\n", session.EndOfMessage);
    // A PollTime below one second would poll without pause, and with a server that refuses
    // at once, flood the log: poll at most once a second.
    (void)PauseUnlessStopped(stop, std::max<int64_t>(box.PollTime, kMinPollTimeSec) * 1000);
  }
}

int StartGateway(int argc, char** argv, Gateway& gateway) {
  GatewayContext& context = gateway.Context;
  if (ReadConfiguration(context) != kGatewayRunning) return kGatewayEnded;
  if (common::WaitForPagingServer(context.ProgramName) != 0) return kGatewayEnded;
  common::LogLine("%t %s: Gateway started successfully\n", context.ProgramName);
  platform::BlockStopSignals();

  context.Debug = argc > 1 && std::strstr(argv[1], "debug") != nullptr;
  common::SetDebug(context.Debug);
  if (gateway.Threads.Start(context) != 0) return kGatewayEnded;
  if (context.Debug) {
    common::WriteConsole(common::FormatText("Sizeof work: %d\n", static_cast<int>(sizeof(GatewayContext))));
    common::WriteConsole(common::FormatText("Sizeof MPS: %d Total: %d\n", static_cast<int>(sizeof(Mailbox)),
                                            static_cast<int>(sizeof(Mailbox) * context.Capacity)));
  }
  return kGatewayRunning;
}

}  // namespace popgate
