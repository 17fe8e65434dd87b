// web/cgi_fuzz.cpp - libFuzzer target: one corvweb request in-process, its query string,
// extra path and posted body from the input. Page mode serves a template with every
// directive from a folder of its own; the pipe leads nowhere, so each send fails at once.
// The response must start with the header, end with status 0 or 1, and never copy a file
// from outside the template folder.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "web/cgi.h"

namespace {

std::string folder;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char made[] = "/tmp/corvweb-fuzz-XXXXXX";
  if (::mkdtemp(made) == nullptr) std::abort();
  folder = made;
  std::FILE* form = std::fopen((folder + "/form.htm").c_str(), "wb");
  if (form == nullptr) std::abort();
  std::fputs("<form action=\"%e\">%d %t [%n] %gSales <select>%p</select> 100%% %x\x1a</form>", form);
  std::fclose(form);
  std::FILE* secret = std::fopen((folder + "/../corvweb-fuzz-secret").c_str(), "wb");
  if (secret != nullptr) {
    std::fputs("SECRET-OUTSIDE", secret);
    std::fclose(secret);
  }
  ::setenv("CORVEL_PIPE", "/dev/null/no-pipe", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  // Layout: flags, then query string NUL extra path NUL body.
  const size_t firstEnd = std::min(input.find('\0'), input.size());
  const std::string_view query = input.substr(0, firstEnd);
  std::string_view rest = firstEnd < input.size() ? input.substr(firstEnd + 1) : std::string_view();
  const size_t secondEnd = std::min(rest.find('\0'), rest.size());
  const std::string_view pathInfo = rest.substr(0, secondEnd);
  const std::string body(secondEnd < rest.size() ? rest.substr(secondEnd + 1) : std::string_view());

  web::CgiRequest request;
  request.Arguments = {folder + "/corvweb"};
  if (data[0] & 1) request.Arguments.push_back(std::string(query.substr(0, 8)));
  request.SettingsFile = folder + "/no-wwwpage.ini";
  request.Environment["QUERY_STRING"] = std::string(query);
  if (data[0] & 2) {
    request.Environment["PATH_INFO"] = std::string(pathInfo);
    request.Environment["PATH_TRANSLATED"] = folder + std::string(pathInfo);
  }
  request.Environment["REQUEST_METHOD"] = (data[0] & 4) ? "GET" : "POST";
  request.Environment["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  // Usually the true length; sometimes one the body does not have.
  request.Environment["CONTENT_LENGTH"] =
      (data[0] & 8) ? std::string(pathInfo) : std::to_string(body.size() + ((data[0] & 16) ? 1 : 0));
  if (data[0] & 32) request.Environment["REMOTE_ADDR"] = std::string(query);
  auto at = std::make_shared<size_t>(0);
  request.Body = [&body, at]() -> int { return *at < body.size() ? static_cast<unsigned char>(body[(*at)++]) : -1; };

  std::string out;
  const int status = web::RunCgi(request, out);
  Check(status == 0 || status == 1);
  Check(out.rfind("Content-type: text/html\n\n", 0) == 0);
  // The file outside the folder never shows (unless the input itself wrote its text).
  if (std::string_view(reinterpret_cast<const char*>(data), size).find("SECRET") == std::string_view::npos) {
    Check(out.find("SECRET-OUTSIDE") == std::string::npos);
  }
  return 0;
}
