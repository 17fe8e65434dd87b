// popgate/gateway.cpp - corvpop32's start-up and poll threads.
#include "popgate/gateway.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/version.h"
#include "common/log.h"
#include "common/pipe_client.h"
#include "platform/clock.h"
#include "platform/signals.h"
#include "popgate/pop_client.h"
#include "popgate/poppage_ini.h"

namespace popgate {

namespace {
constexpr int64_t kMinPollTimeSec = 1;
}  // namespace

void PollThread(const GatewayContext& context, size_t index) {
  const Mailbox& box = context.Mailboxes[index];
  MailOptions options;
  options.ProgramName = context.ProgramName;
  options.Debug = common::DebugOn();
  options.MapCodePage = context.MapCodePage;
  PopSession session(box, options);
  for (;;) {
    session.Options.Debug = common::DebugOn();
    PollMailbox(session);
    int endOfMessage = 0;
    {
      std::lock_guard lock(session.Lock);
      endOfMessage = session.EndOfMessage;
    }
    common::DebugLine("MIR: %d\n", endOfMessage);
    // A PollTime below one second would poll without pause, and with a server that refuses
    // at once, flood the log: poll at most once a second.
    platform::SleepMs(std::max<int64_t>(box.PollTime, kMinPollTimeSec) * 1000);
  }
}

int RunGateway(int argc, char** argv) {
  common::WriteConsole(common::FormatText("Corvel.  Version %s\n", common::kVersion));
  common::WriteConsole("Post Office Protocol(POP) Paging Gateway\n");
  common::WriteConsole("For use with OS/2 or NT Pager Server\n");
  GatewayContext context;
  common::SetProgramName(context.ProgramName);
  common::LogLine("%t %s: Corvel Internet Mail Gateway Starting.  Version %s\n", context.ProgramName, common::kVersion);
  try {
    context.Mailboxes.reserve(context.Capacity);
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error - calloc\n", context.ProgramName);
    return 0;
  }
  if (ReadPopPageIni("POPPAGE.INI", context) != 0) {
    common::LogLine("%t %s: Error reading POPPAGE.INI\n", context.ProgramName);
  }
  // The pagers' code page is the paging server's: MIME text is converted into it.
  context.MapCodePage = ReadMapCodePage("page.ini");

  if (common::WaitForPagingServer(context.ProgramName) != 0) return 0;
  common::LogLine("%t %s: Gateway started successfully\n", context.ProgramName);
  platform::BlockStopSignals();  // before the first thread: only the main thread sees a stop

  context.Debug = argc > 1 && std::strstr(argv[1], "debug") != nullptr;
  common::SetDebug(context.Debug);
  for (size_t i = 0; i < context.Mailboxes.size(); ++i) {
    try {
      std::thread(PollThread, std::cref(context), i).detach();  // runs until the process ends
    } catch (const std::system_error&) {
      common::LogLine("%t %s: Error - calloc\n", context.ProgramName);
      return 0;
    }
  }
  if (context.Debug) {
    common::WriteConsole(common::FormatText("Sizeof work: %d\n", static_cast<int>(sizeof(GatewayContext))));
    common::WriteConsole(common::FormatText("Sizeof MPS: %d Total: %d\n", static_cast<int>(sizeof(Mailbox)),
                                            static_cast<int>(sizeof(Mailbox) * context.Capacity)));
  }
  (void)platform::WaitForStopSignal();
  common::LogLine("%t %s: Server ended successfully\n", context.ProgramName);
  std::fflush(stdout);
  std::_Exit(0);  // a poll in progress is cut off wherever it stands
}

}  // namespace popgate
