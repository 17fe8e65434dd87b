// popgate/poppage_ini_fuzz.cpp - libFuzzer target: any bytes as POPPAGE.INI. Each mailbox
// read must fit the fields the gateway copies it into.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/log.h"
#include "popgate/mailbox.h"
#include "popgate/poppage_ini.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Syntax errors are logged: keep them off the console and out of any file.
  const int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, 1);
    ::close(null);
  }
  common::SetProgramName("CORVPOP32");
  common::SetLogFileName("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  popgate::GatewayContext context;
  const int result = popgate::ParsePopPageIniText(text, "POPPAGE.INI", context);
  if (result < popgate::kPopPageRead || result > popgate::kPopPageNoMemory) __builtin_trap();
  for (const popgate::Mailbox& box : context.Mailboxes) {
    const bool fits =
        box.Name.size() < popgate::kMailboxNameWidth && box.PopHostName.size() < popgate::kHostFieldWidth &&
        box.SNPPHostName.size() < popgate::kHostFieldWidth && box.SMTPHostName.size() < popgate::kHostFieldWidth &&
        box.IncomingDirectory.size() < popgate::kDirectoryWidth &&
        box.PopSaveDircetory.size() < popgate::kDirectoryWidth;
    if (!fits) __builtin_trap();
  }
  return 0;
}
