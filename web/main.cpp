// web/main.cpp - corvweb, the CGI program: environment and standard input in, page out.
#include <cstdio>
#include <cstdlib>

#include "common/config_path.h"
#include "web/cgi.h"

int main(int argc, char** argv) {
  web::CgiRequest request;
  for (const char* name : {"QUERY_STRING", "PATH_TRANSLATED", "PATH_INFO", "REMOTE_HOST", "REMOTE_ADDR",
                           "REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH", "SCRIPT_NAME"}) {
    if (const char* value = std::getenv(name)) request.Environment[name] = value;
  }
  for (int i = 0; i < argc; ++i) request.Arguments.emplace_back(argv[i]);
  request.Body = [] { return std::getchar(); };
  request.SettingsFile = common::ConfigFile(request.SettingsFile);  // CORVEL_CONFIG_DIR from the web server
  std::string out;
  const int status = web::RunCgi(request, out);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return status;
}
