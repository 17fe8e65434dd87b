// web/cgi.cpp - the CGI main flow, the request checks, the form fields and the sends.
#include "web/cgi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common/format_text.h"
#include "common/pipe_client.h"
#include "common/request_record.h"
#include "web/html.h"
#include "web/html_page.h"
#include "web/template_path.h"

namespace web {

namespace {

constexpr size_t kCarriageReturnSpan = 1500;  // CRs become spaces among these characters
constexpr uint16_t kDefaultSnppPort = 5100;
constexpr size_t kMaxSuffixHost = kHostSuffixArea - 1 - std::string_view(" From: ").size();

const std::string* Find(const CgiRequest& request, const char* name) {
  const auto it = request.Environment.find(name);
  return it == request.Environment.end() ? nullptr : &it->second;
}

std::optional<std::string> Optional(const CgiRequest& request, const char* name) {
  const std::string* value = Find(request, name);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

// strtok's way of cutting: skip leading separators, end at the next one.
std::string_view NextToken(std::string_view& rest, std::string_view separators) {
  const size_t start = rest.find_first_not_of(separators);
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  const size_t end = rest.find_first_of(separators, start);
  const std::string_view token = rest.substr(start, end == std::string_view::npos ? end : end - start);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return token;
}

int LeadingInteger(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

void WriteNameResult(WebRun& run, const std::string& name, bool sent) {
  const std::string& file = sent ? run.Settings.OkHtmlFile : run.Settings.BadHtmlFile;
  if (!file.empty() && ExpandHtmlFile(run, file) == 0) return;
  if (sent) {
    run.Out += "Page request has been sent for: " + HtmlEscape(name) + ".<P>";
  } else {
    run.Out += "Error sending page request to:  " + HtmlEscape(name) + ".<P>";
  }
}

// The schedule of a pipe page, checked once for the whole post. False (with an error line
// in errors) when a date or time the page type needs is missing or does not parse.
bool CheckSchedule(const WebRun& run, std::string& errors) {
  if (run.SnppMode() || (run.PageType != 2 && run.PageType != 3)) return true;
  const bool at = run.PageType == 2;
  const std::optional<std::string>& date = at ? run.Date : run.Date1;
  const std::optional<std::string>& time = at ? run.Time : run.Time1;
  const char* dateName = at ? "date" : "date1";
  const char* timeName = at ? "time" : "time1";
  bool good = true;
  int a = 0, b = 0, c = 0;
  if (!date || !ParseFormDate(*date, a, b, c)) {
    errors += common::FormatText("Error: the %s field \"%s\" is not a date (month-day-year or month/day/year).<P>\n",
                                 dateName, HtmlEscape(date.value_or("")));
    good = false;
  }
  if (!time || !ParseFormTime(*time, a, b)) {
    errors += common::FormatText("Error: the %s field \"%s\" is not a time (hour:minute).<P>\n", timeName,
                                 HtmlEscape(time.value_or("")));
    good = false;
  }
  return good;
}

int PipeSendPage(WebRun& run, const std::string& name, const std::string& message) {
  if (name.empty() || (run.PageType != 3 && message.empty())) return 1;
  common::RequestRecord head{};
  head.RequestType = common::kPageRequest;
  head.TimeMode = 0;
  int month = 0, day = 0, year = 0, hour = 0, minute = 0;
  switch (run.PageType) {
    case 1:
      head.TimeMode = 2;
      head.Minute = run.Delay;
      break;
    case 2:
    case 3: {
      const bool at = run.PageType == 2;
      if (!ParseFormDate((at ? run.Date : run.Date1).value_or(""), month, day, year) ||
          !ParseFormTime((at ? run.Time : run.Time1).value_or(""), hour, minute)) {
        return 1;  // CheckSchedule has said why; no request goes out with undefined numbers
      }
      if (at) {
        head.TimeMode = 1;
      } else {
        head.RequestType = common::kDeleteAt;
      }
      head.Month = static_cast<uint8_t>(month);
      head.Day = static_cast<uint8_t>(day);
      head.Year = static_cast<uint16_t>(year);
      head.Hour = static_cast<uint8_t>(hour);
      head.Minute = minute;
      break;
    }
    default:
      break;
  }
  const std::vector<char> request = common::BuildRequest(head, name, message);
  std::vector<char> reply(kCgiReplyArea, '\0');
  int bytesRead = 0;
  bool remote = false;
  if (common::CallPagingServerCgi(run.Settings.LanServerName, request, reply, bytesRead, remote) != 0) {
    if (remote) NoteRemotePipe(run, false);
    return 1;
  }
  return 0;
}

}  // namespace

bool ParseFormDate(const std::string& text, int& month, int& day, int& year) {
  // The third character chooses the separator ("12-31-99"); a date such as "1-2-98" has
  // its separator elsewhere, so the other one is tried before the date counts as bad.
  const bool dashFirst = text.size() > 2 && text[2] == '-';
  const char* formats[] = {dashFirst ? "%d-%d-%d" : "%d/%d/%d", dashFirst ? "%d/%d/%d" : "%d-%d-%d"};
  bool parsed = false;
  for (const char* format : formats) {
    if (std::sscanf(text.c_str(), format, &month, &day, &year) == 3) {
      parsed = true;
      break;
    }
  }
  if (!parsed) return false;
  return InRange(month, 1, 12) && InRange(day, 1, 31) && InRange(year, 0, 9999);
}

bool ParseFormTime(const std::string& text, int& hour, int& minute) {
  if (std::sscanf(text.c_str(), "%d:%d", &hour, &minute) != 2) return false;
  return InRange(hour, 0, 23) && InRange(minute, 0, 59);
}

int SendPageRequest(WebRun& run, const std::string& name, const std::string& message) {
  if (!run.SnppMode()) return PipeSendPage(run, name, message);
  run.Snpp.ServerHost = run.Settings.HostName;
  run.Snpp.ServerPort = run.Settings.TcpPort;
  run.Snpp.PagerId = name;
  run.Snpp.MessageText = message;
  if (snppclient::SnppSendPage(run.Snpp) != 0) {
    run.Out += "<pre>Error sending page to SNPP server.\n</pre>";
    return 1;
  }
  return 0;
}

int ShowReport(WebRun& run, bool status) {
  const char* failure = status ? "<H1>Error getting status.</H1>\n" : "<H1>Error getting log.</H1>\n";
  if (run.SnppMode()) {
    run.Snpp.ServerHost = run.Settings.HostName;
    run.Snpp.ServerPort = run.Settings.TcpPort;
    std::string report;
    const int got = snppclient::SnppGetReport(run.Snpp, status ? "MSTA" : "MLOG", report);
    if (got >= 0) PrintPre(run.Out, report);  // what arrived is shown, also when it is not whole
    if (got == 0) return 0;
    run.Out += failure;
    return 1;
  }
  common::RequestRecord head{};
  head.RequestType = status ? common::kStatusReport : common::kLogReport;
  head.Parameter = status ? 1 : 0;
  const std::vector<char> request = common::BuildRequest(head, "", "");
  std::vector<char> reply(kCgiReplyArea, '\0');
  int bytesRead = 0;
  bool remote = false;
  if (common::CallPagingServerCgi(run.Settings.LanServerName, request, reply, bytesRead, remote) != 0) {
    if (remote) NoteRemotePipe(run, false);
    run.Out += failure;
    return 1;
  }
  PrintPre(run.Out, std::string_view(reply.data(), strnlen(reply.data(), reply.size())));
  return 0;
}

namespace {

// Reading the request: the configuration, the script path, the group of the query
// string (group=Name lists only the members of that group) and the sender's host.
void ReadRequest(const CgiRequest& request, WebRun& run) {
  run.Settings.TcpPort = kDefaultSnppPort;
  ReadWebSettings(request.SettingsFile, run.Settings);
  const std::string argv0 = request.Arguments.empty() ? std::string() : request.Arguments[0];
  const std::string* scriptName = Find(request, "SCRIPT_NAME");
  run.ScriptPath = ScriptPathFor(scriptName ? scriptName->c_str() : nullptr, argv0);
  run.TemplateFolder = run.Settings.HtmlFolder.empty() ? ProgramFolder(argv0) : run.Settings.HtmlFolder;
  if (const std::string* query = Find(request, "QUERY_STRING")) {
    run.QueryCopy = query->substr(0, kQueryStringArea - 1);
    std::string_view rest = run.QueryCopy;
    const std::string_view first = NextToken(rest, "=&");
    if (first.find("group") != std::string_view::npos) {
      const std::string_view group = NextToken(rest, "=&\n\r");
      // A browser writes a group name with a blank as "Sales+Team" or "Sales%20Team".
      const std::string name = DecodeFormField("=" + std::string(group)).Value;
      if (!name.empty()) run.GroupFilter = name.substr(0, kGroupNameField - 1);
    }
  }
  run.RemoteHost = Optional(request, "REMOTE_HOST");
  run.RemoteAddr = Optional(request, "REMOTE_ADDR");
}

// Choosing what to answer: a page (the URL names the program followed by the
// page's name), a view (one argument), or else a posted form.
struct Choice {
  enum Kind { kPage, kView, kPost } What = kPost;
  std::string Text;  // the page's name in the template folder, or the view word
};

Choice ChooseView(const CgiRequest& request, const WebRun& run) {
  const std::optional<std::string> pathTranslated = Optional(request, "PATH_TRANSLATED");
  const std::optional<std::string> pathInfo = Optional(request, "PATH_INFO");
  if (pathTranslated && pathInfo && !pathInfo->empty()) {
    // The page is the extra path's name in the template folder. PATH_TRANSLATED maps it
    // onto the document root, a tree the web server may share with files never meant to
    // be printed; only the template folder is corvweb's own.
    std::string name = pathInfo->substr(0, pathInfo->find('?'));
    name.erase(0, name.find_first_not_of('/'));
    return {Choice::kPage, name};
  }
  if (request.Arguments.size() == 2) return {Choice::kView, request.Arguments[1]};
  // Some web servers (lighttpd) pass no argument for "?status"; the query string is the
  // view word then, when it holds no "=".
  const std::string* query = Find(request, "QUERY_STRING");
  if (request.Arguments.size() <= 1 && query != nullptr && !query->empty() && query->find('=') == std::string::npos) {
    return {Choice::kView, run.QueryCopy};
  }
  return {};
}

// A view word is any part of "status" or, failing that, of "log"; anything else shows nothing.
void ShowView(WebRun& run, const std::string& word) {
  if (std::string_view("status").find(word) != std::string_view::npos) {
    ShowReport(run, true);
  } else if (std::string_view("log").find(word) != std::string_view::npos) {
    ShowReport(run, false);
  }
}

// CONTENT_LENGTH as a count of bytes: decimal digits only, else -1.
long ContentLength(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::strtol(text.c_str(), nullptr, 10);
}

// The checks a post must pass. 0 with length set, or 1 with the refusal written.
int CheckPost(const CgiRequest& request, WebRun& run, long& length) {
  const std::string* method = Find(request, "REQUEST_METHOD");
  if (method == nullptr || *method != "POST") {
    run.Out += "This script should be referenced with a METHOD of POST.\n";
    return 1;
  }
  const std::string* contentType = Find(request, "CONTENT_TYPE");
  if (contentType == nullptr || *contentType != "application/x-www-form-urlencoded") {
    run.Out += "This script can only be used to decode form results. \n";
    return 1;
  }
  const std::string* contentLength = Find(request, "CONTENT_LENGTH");
  length = contentLength ? ContentLength(*contentLength) : -1;
  if (length < 0) {
    run.Out += "This script requires CONTENT_LENGTH environment variable.\n";
    return 1;
  }
  // A form of names and a message is a few kilobytes; a larger body is not read at all, so
  // that no visitor can make the program hold megabytes.
  if (length > kMaxFormBody) {
    run.Out += common::FormatText("This script accepts form results of at most %ld bytes.\n", kMaxFormBody);
    return 1;
  }
  return 0;
}

// What a posted form asks for, besides the scheduling values kept in the run.
struct PostedForm {
  std::optional<std::string> Message;  // the last message field
  std::vector<std::string> Names;      // one page request each, in body order
  std::string Notices;                 // what was wrong with the fields
};

struct FormFieldRule {
  std::string_view Name;  // compared exactly
  void (*Apply)(const std::string& value, WebRun& run, PostedForm& form);
};

constexpr FormFieldRule kFormFields[] = {
    {"pagetype",
     [](const std::string& v, WebRun& run, PostedForm&) {
       run.PageType = LeadingInteger(v);
       if (run.PageType < 0 || run.PageType > 3) run.PageType = 0;  // any other number: send now
     }},
    {"delay", [](const std::string& v, WebRun& run, PostedForm&) { run.Delay = LeadingInteger(v); }},
    {"date", [](const std::string& v, WebRun& run, PostedForm&) { run.Date = v; }},
    {"time", [](const std::string& v, WebRun& run, PostedForm&) { run.Time = v; }},
    {"date1", [](const std::string& v, WebRun& run, PostedForm&) { run.Date1 = v; }},
    {"time1", [](const std::string& v, WebRun& run, PostedForm&) { run.Time1 = v; }},
    {"option", [](const std::string& v, WebRun& run, PostedForm&) { run.AppendHostName |= v == "AppendHostName"; }},
    {"message", [](const std::string& v, WebRun&, PostedForm& form) { form.Message = v; }},
    {"name", [](const std::string& v, WebRun&, PostedForm& form) { form.Names.push_back(v); }},
};

// Handling the form: applies each field of the whole body in body order.
PostedForm HandleForm(const std::string& body, WebRun& run) {
  size_t at = 0;
  const ByteSource next = [&body, &at]() -> int {
    return at < body.size() ? static_cast<unsigned char>(body[at++]) : -1;
  };
  const std::vector<FormField> fields = ReadFormFields(next, static_cast<long>(body.size()));
  PostedForm form;
  for (const FormField& field : fields) {
    if (field.BadEscape) {
      form.Notices += "Error: the form field " + HtmlEscape(field.Name) +
                      " holds a % that is not followed by two hex digits; it was used as written.<P>\n";
    }
    for (const FormFieldRule& rule : kFormFields) {
      if (field.Name == rule.Name) rule.Apply(field.Value, run, form);
    }
  }
  // Without a message field, the first field of the body is the message.
  if (!form.Message && !fields.empty()) form.Message = fields.front().Value;
  return form;
}

// The message as it is sent: carriage returns turned to spaces, and with AppendHostName
// the sender's host after it (" From: host").
std::string MessageToSend(const WebRun& run, const PostedForm& form) {
  std::string text = form.Message.value_or("");
  for (size_t i = 0; i < text.size() && i < kCarriageReturnSpan; ++i) {
    if (text[i] == '\r') text[i] = ' ';
  }
  if (run.AppendHostName) {
    std::string host = run.RemoteHost ? *run.RemoteHost : run.RemoteAddr ? *run.RemoteAddr : "?";
    if (host.size() > kMaxSuffixHost) host.resize(kMaxSuffixHost);
    text += " From: " + host;
  }
  return text;
}

// Rendering the result page: the heading, what was wrong, one result per name
// (sent as it is written) and the footer.
void RenderResult(WebRun& run, const PostedForm& form) {
  if (run.Settings.StartingHtmlFile.empty()) {
    run.Out += "<H1>Corvel</H1><HR>";
  } else {
    (void)ExpandHtmlFile(run, run.Settings.StartingHtmlFile);
  }
  run.Out += form.Notices;
  const bool scheduleGood = CheckSchedule(run, run.Out);
  const std::string text = MessageToSend(run, form);
  for (const std::string& name : form.Names) {
    run.CurrentName = name;
    const bool sent = scheduleGood && SendPageRequest(run, name, text) == 0;
    WriteNameResult(run, name, sent);
  }
  if (run.Settings.EndingHtmlFile.empty()) {
    const std::string script = HtmlEscape(run.ScriptPath);
    run.Out += "<HR>To verify that your page has been sent, you can <A HREF=\"" + script +
               "?status\"> Show the status of the paging system</A> or <A HREF=\"" + script +
               "?log\"> Show the log file</A>";
  } else {
    (void)ExpandHtmlFile(run, run.Settings.EndingHtmlFile);
  }
}

// Everything after reading the request: choose, then serve the page, show the view or
// handle and render the form. Returns the exit status.
int Respond(const CgiRequest& request, WebRun& run) {
  const Choice choice = ChooseView(request, run);
  switch (choice.What) {
    case Choice::kPage:
      if (ExpandHtmlFile(run, choice.Text) != 0) run.Out += "Error opening up " + HtmlEscape(choice.Text) + "<p>\n";
      return 0;
    case Choice::kView:
      ShowView(run, choice.Text);
      return 0;
    case Choice::kPost:
      break;
  }
  long length = 0;
  if (CheckPost(request, run, length) != 0) return 1;
  // The whole body before anything is sent: a body cut short (a visitor who went away, a
  // broken proxy) would otherwise lose its last field without a word, the message or a name.
  std::string body;
  if (!ReadFormBody(request.Body, length, body)) {
    run.Out += common::FormatText("The form results ended after %ld of the %ld bytes announced; nothing was sent.\n",
                                  static_cast<long>(body.size()), length);
    return 1;
  }
  RenderResult(run, HandleForm(body, run));
  return 0;
}

}  // namespace

int RunCgi(const CgiRequest& request, std::string& out) {
  out += "Content-type: text/html\n\n";
  std::unique_ptr<WebRun> state(new (std::nothrow) WebRun());
  if (!state) {
    out += "Error<p>";
    return 0;
  }
  ReadRequest(request, *state);
  const int status = Respond(request, *state);
  out += state->Out;
  return status;
}

}  // namespace web
