// web/web_settings_fuzz.cpp - libFuzzer target: any bytes as wwwpage.ini (read through a
// memory file, as the reader opens it by name). Values must fit where corvweb puts them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/web_settings.h"

namespace {
int memoryFile = -1;
std::string memoryPath;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  memoryFile = ::memfd_create("wwwpage.ini", 0);
  if (memoryFile < 0) std::abort();
  memoryPath = "/proc/self/fd/" + std::to_string(memoryFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (::ftruncate(memoryFile, 0) != 0 || ::pwrite(memoryFile, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
  web::WebSettings settings;
  web::ReadWebSettings(memoryPath, settings);
  if (settings.HostName.size() >= web::kHostNameField || settings.TcpPort == 0) __builtin_trap();
  // One line holds at most 139 characters, so no value can be longer.
  for (const std::string* value : {&settings.LanServerName, &settings.StartingHtmlFile, &settings.OkHtmlFile,
                                   &settings.BadHtmlFile, &settings.EndingHtmlFile, &settings.HtmlFolder}) {
    if (value->size() > 139) __builtin_trap();
  }
  return 0;
}
