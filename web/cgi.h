// web/cgi.h - one corvweb request: the form page, the status and log views, or a post.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "web/form_body.h"
#include "web/web_run.h"

namespace web {

// What the web server hands the program. Environment holds only the variables that are set.
struct CgiRequest {
  std::map<std::string, std::string> Environment;
  std::vector<std::string> Arguments;  // argument 0 is the program's own path
  ByteSource Body;                     // standard input
  std::string SettingsFile = "wwwpage.ini";
};

// Runs the request and appends the whole response (header included) to out. Returns the
// exit status: 1 after a failed request check (method, content type, content length), else 0.
int RunCgi(const CgiRequest& request, std::string& out);

// Sends one page request by SNPP or by the pipe, with the run's page type and times.
// 0 when the server took it, 1 when not (the reason is written to the page when there is one).
[[nodiscard]] int SendPageRequest(WebRun& run, const std::string& name, const std::string& message);

// Writes the status ("status") or log view. 0 shown, 1 failed (the failure heading written).
int ShowReport(WebRun& run, bool status);

// A date "m-d-y" or "m/d/y" (the third character chooses) and a time "h:m". False when the
// text does not hold the numbers, or they are out of range for a calendar or a clock.
bool ParseFormDate(const std::string& text, int& month, int& day, int& year);
bool ParseFormTime(const std::string& text, int& hour, int& minute);

}  // namespace web
