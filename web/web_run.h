// web/web_run.h - the state of one corvweb run: one request, one response, exit.
#pragma once

#include <optional>
#include <string>

#include "snppclient/snpp_client.h"
#include "web/web_settings.h"

namespace web {

constexpr size_t kQueryStringArea = 300;   // the query string is kept in 299 characters
constexpr size_t kGroupNameField = 200;    // a captured or given group name: 199 characters
constexpr size_t kRequestNameLength = 31;  // what the pipe record's Name field holds
constexpr size_t kHostSuffixArea = 100;    // " From: host" and its NUL
constexpr size_t kCgiReplyArea = 3100;
constexpr size_t kWebBlockSize = 16000;  // the SNPP client's receive block and command area

struct WebRun {
  // The SNPP client writes what it has to say into this run's response; corvweb keeps no log.
  WebRun() {
    Snpp.Response = &Out;
    Snpp.ReceiveBlockSize = kWebBlockSize;
    Snpp.CommandAreaSize = kWebBlockSize;
  }
  WebRun(const WebRun&) = delete;
  WebRun& operator=(const WebRun&) = delete;

  WebSettings Settings;
  std::string Out;  // the response body, written at exit
  std::string QueryCopy;
  std::optional<std::string> GroupFilter;
  std::optional<std::string> CurrentName;  // the name being sent now (%n)
  std::optional<std::string> RemoteHost;
  std::optional<std::string> RemoteAddr;
  bool AppendHostName = false;
  int PageType = 0;
  int Delay = 0;
  std::optional<std::string> Date, Time, Date1, Time1;
  std::string ScriptPath;            // SCRIPT_NAME, or /cgi-bin/ (or /scripts/tools/) + program
  std::string TemplateFolder = ".";  // HtmlFolder, else the program's folder
  snppclient::SnppClient Snpp;       // also holds NameChoices in pipe mode
  bool RemoteNoted = false;          // the remote-pipe notice was written once

  bool SnppMode() const { return !Settings.HostName.empty(); }
};

// The notice shown when LanServerName names another machine: this platform reaches a
// remote paging server over SNPP only. Written once per page: inside the name list as a
// disabled option, elsewhere as a paragraph.
void NoteRemotePipe(WebRun& run, bool inList);

}  // namespace web
