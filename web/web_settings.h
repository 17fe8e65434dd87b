// web/web_settings.h - wwwpage.ini, corvweb's configuration file.
#pragma once

#include <cstdint>
#include <string>

namespace web {

constexpr size_t kHostNameField = 100;  // HostName is held in 100 characters with its NUL

struct WebSettings {
  std::string LanServerName;     // machine that runs the paging server (remote pipe)
  std::string StartingHtmlFile;  // heading of the result page
  std::string OkHtmlFile;        // written after each name sent
  std::string BadHtmlFile;       // written after each name that could not be sent
  std::string EndingHtmlFile;    // footer of the result page
  std::string HostName;          // SNPP server; when set, the whole run speaks SNPP
  std::string HtmlFolder;        // the only folder templates are read from (default: the program's)
  uint16_t TcpPort = 5100;
};

// Reads the file into settings. A missing file leaves every default and is not an error.
// Lines are read 139 characters at a time; the first word names the key (it contains the
// key's name), the value is the text between the next pair of double quotes (TcpPort: the
// next number). Lines that name no key, or give no value, change nothing.
void ReadWebSettings(const std::string& fileName, WebSettings& settings);

}  // namespace web
