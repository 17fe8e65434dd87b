// web/html_page.cpp
#include "web/html_page.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

#include "common/format_text.h"
#include "common/pipe_client.h"
#include "common/request_record.h"
#include "platform/clock.h"
#include "web/html.h"
#include "web/template_path.h"

namespace web {

namespace {

using snppclient::kNameChoiceLength;
using snppclient::kNameChoicesSize;

constexpr int kMaxListPages = static_cast<int>(kNameChoicesSize) / common::kListPageSize;

std::string TwoDigits(int value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

// One kind of list (persons or groups), page by page, while pages come back full. The
// table's 2500 entries bound the loop, so a server repeating full pages cannot hold it.
bool AppendListPages(WebRun& run, common::RequestType type) {
  std::vector<std::string>& names = run.Snpp.NameChoices;
  for (int page = 0; page < kMaxListPages && names.size() < kNameChoicesSize; ++page) {
    common::RequestRecord head{};
    head.RequestType = type;
    head.Parameter = static_cast<int16_t>(page);
    const std::vector<char> request = common::BuildRequest(head, "", "");
    std::vector<char> reply(kCgiReplyArea, '\0');
    int bytesRead = 0;
    bool remote = false;
    if (common::CallPagingServerCgi(run.Settings.LanServerName, request, reply, bytesRead, remote) != 0) {
      return !remote;
    }
    const std::span<const char> answer(reply.data(), static_cast<size_t>(bytesRead));
    const int count = common::ListReplyCount(answer);
    if (count < 0 || count > common::kListPageSize) break;
    for (int i = 0; i < count && names.size() < kNameChoicesSize; ++i) {
      names.emplace_back(common::ListReplyName(answer, i));
    }
    if (count != common::kListPageSize) break;
  }
  return true;
}

void FetchGroupMembers(WebRun& run, const std::string& group) {
  common::RequestRecord head{};
  head.RequestType = common::kListMembers;
  const std::vector<char> request = common::BuildRequest(head, group, "");
  std::vector<char> reply(kCgiReplyArea, '\0');
  int bytesRead = 0;
  bool remote = false;
  if (common::CallPagingServerCgi(run.Settings.LanServerName, request, reply, bytesRead, remote) != 0) {
    if (remote) NoteRemotePipe(run, true);
    return;
  }
  const std::span<const char> answer(reply.data(), static_cast<size_t>(bytesRead));
  int count = common::ListReplyCount(answer);
  if (count > common::kListPageSize) count = common::kListPageSize;
  for (int i = 0; i < count; ++i) run.Snpp.NameChoices.emplace_back(common::ListReplyName(answer, i));
}

}  // namespace

void NoteRemotePipe(WebRun& run, bool inList) {
  if (run.RemoteNoted) return;
  run.RemoteNoted = true;
  const std::string text = "The paging server is on another machine (LanServerName " +
                           HtmlEscape(run.Settings.LanServerName) +
                           "); this platform reaches a remote paging server over SNPP only: "
                           "set HostName in wwwpage.ini.";
  if (inList) {
    run.Out += "<option disabled>" + text + "</option>\n";
  } else {
    run.Out += "<P><B>" + text + "</B><P>\n";
  }
}

void FetchNames(WebRun& run) {
  run.Snpp.NameChoices.clear();
  if (run.SnppMode()) {
    run.Snpp.ServerHost = run.Settings.HostName;
    run.Snpp.ServerPort = run.Settings.TcpPort;
    run.Snpp.ListArgument = run.GroupFilter.value_or("");
    (void)snppclient::SnppListNames(run.Snpp);
    return;
  }
  if (run.GroupFilter) {
    FetchGroupMembers(run, *run.GroupFilter);
    return;
  }
  if (!AppendListPages(run, common::kListPersons) || !AppendListPages(run, common::kListGroups)) {
    NoteRemotePipe(run, true);
  }
}

int ExpandHtmlFile(WebRun& run, const std::string& path) {
  const std::optional<std::string> allowed = TemplatePath(run.TemplateFolder, path);
  if (!allowed) return 1;
  std::FILE* file = std::fopen(allowed->c_str(), "rb");
  if (file == nullptr) return 1;
  const std::tm now = platform::LocalTime(platform::Now());
  std::string& out = run.Out;

  bool directive = false;  // a "%" was read; its partner may be in the next block
  bool capturing = false;
  std::string captured;
  auto endCapture = [&] {
    capturing = false;
    run.GroupFilter = captured;
  };
  char block[kTemplateBlock];
  size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      const char c = block[i];
      if (directive) {
        directive = false;
        switch (c) {
          case '%':
            out += '%';
            break;
          case 'd':
            out += TwoDigits(now.tm_mon + 1) + "-" + TwoDigits(now.tm_mday) + "-" + TwoDigits(now.tm_year);
            break;
          case 't':
            out += TwoDigits(now.tm_hour) + ":" + TwoDigits(now.tm_min);
            break;
          case 'e':
            out += HtmlEscape(run.ScriptPath);
            break;
          case 'n':
            if (run.CurrentName) out += HtmlEscape(*run.CurrentName);
            break;
          case 'p':
            FetchNames(run);
            for (const std::string& name : run.Snpp.NameChoices) {
              out += "<option> " + HtmlEscape(name.substr(0, kNameChoiceLength)) + "\n";
            }
            break;
          case 'g':
            capturing = true;
            captured.clear();
            break;
          default:
            break;
        }
        continue;
      }
      if (c == '%') {
        directive = true;
        continue;
      }
      if (capturing) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
          if (captured.size() < kGroupNameField - 1) captured += c;
        } else {
          endCapture();
        }
        continue;
      }
      if (c == 26) continue;  // Ctrl-Z, the end-of-file mark of old editors
      out += c;
    }
  }
  if (capturing) endCapture();
  std::fclose(file);
  return 0;
}

std::string ScriptPathFor(const char* scriptName, const std::string& argv0) {
  if (scriptName != nullptr && *scriptName != '\0') return scriptName;
  const size_t slash = argv0.find_last_of('/');
  const std::string program = slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
  const std::string folder = argv0.find("tools") != std::string::npos ? "/scripts/tools/" : "/cgi-bin/";
  return folder + (program.empty() ? std::string("corvweb") : program);
}

}  // namespace web
