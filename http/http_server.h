// http/http_server.h - libmicrohttpd around the routes of http/api.h: one thread per
// connection (a page request waits on the pipe), bodies kept up to 64 KB, HTTPS when a
// certificate is given, and one access line per request in the log.
#pragma once

#include <string>

#include "http/api.h"
#include "platform/unique_fd.h"

struct MHD_Daemon;

namespace corvhttp {

constexpr unsigned kMaxConnections = 150;
constexpr unsigned kConnectionTimeoutSec = 60;

class HttpServer {
 public:
  explicit HttpServer(ApiContext& context) : context_(context) {}
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Serves on listener (bound and listening; the server owns it from now on). With
  // certificatePem and keyPem (PEM texts) the server speaks HTTPS only. 0, or 1 with
  // problem set.
  [[nodiscard]] int Start(platform::UniqueFd listener, const std::string& certificatePem, const std::string& keyPem,
                          std::string& problem);

  // Stops accepting, ends the connections and joins the library's threads.
  void Stop();

  ApiContext& Context() { return context_; }

 private:
  ApiContext& context_;
  MHD_Daemon* daemon_ = nullptr;
  std::string certificate_;  // the library keeps pointers to these while it runs
  std::string key_;
};

}  // namespace corvhttp
