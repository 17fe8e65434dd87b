// http/http_server.cpp - the libmicrohttpd glue.
#include "http/http_server.h"

#include <microhttpd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "common/log.h"
#include "platform/ip_address.h"

namespace corvhttp {

namespace {

// One request's state between the library's calls: its body as it arrives.
struct Upload {
  std::string Body;
  bool TooLarge = false;
};

MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, const char* value) {
  auto* query = static_cast<std::map<std::string, std::string>*>(cls);
  if (key != nullptr) (*query)[key] = value != nullptr ? value : "";
  return MHD_YES;
}

// Client text in a log line stays on that line and within reason.
std::string LogSafe(std::string_view text) {
  std::string out(text.substr(0, 200));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return out;
}

MHD_Result Reply(MHD_Connection* connection, const ApiResponse& response) {
  MHD_Response* r = MHD_create_response_from_buffer(response.Body.size(), const_cast<char*>(response.Body.data()),
                                                    MHD_RESPMEM_MUST_COPY);
  if (r == nullptr) return MHD_NO;
  MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, response.ContentType.c_str());
  for (const auto& [name, value] : response.Headers) MHD_add_response_header(r, name.c_str(), value.c_str());
  const MHD_Result rc = MHD_queue_response(connection, static_cast<unsigned>(response.Status), r);
  MHD_destroy_response(r);
  return rc;
}

MHD_Result Access(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char* uploadData, size_t* uploadDataSize, void** state) {
  auto& context = *static_cast<ApiContext*>(cls);
  if (*state == nullptr) {
    // The first call brings the headers only. A body announced as too large is refused
    // before it is read.
    auto upload = std::make_unique<Upload>();
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBodyBytes) upload->TooLarge = true;
    *state = upload.release();
    return MHD_YES;
  }
  auto* upload = static_cast<Upload*>(*state);
  if (*uploadDataSize != 0) {
    if (!upload->TooLarge && upload->Body.size() + *uploadDataSize <= kMaxBodyBytes) {
      upload->Body.append(uploadData, *uploadDataSize);
    } else {
      upload->TooLarge = true;  // read on and dropped, so the answer can still be sent
      upload->Body.clear();
    }
    *uploadDataSize = 0;
    return MHD_YES;
  }

  ApiRequest request;
  request.Method = method != nullptr ? method : "";
  request.Path = url != nullptr ? url : "";
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectArgument, &request.Query);
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  request.Peer = info != nullptr ? platform::SocketAddressText(info->client_addr) : "";
  const char* authorization = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
  request.Authorization = authorization != nullptr ? authorization : "";
  request.Body = std::move(upload->Body);
  request.BodyTooLarge = upload->TooLarge;

  const ApiResponse response = HandleApi(request, context);
  common::LogLine("%t %s: %s \"%s %s\" %d\n", common::ProgramName(), request.Peer, LogSafe(request.Method),
                  LogSafe(request.Path), response.Status);
  return Reply(connection, response);
}

void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<Upload*>(*state);
  *state = nullptr;
}

}  // namespace

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Start(platform::UniqueFd listener, const std::string& certificatePem, const std::string& keyPem,
                      std::string& problem) {
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_ERROR_LOG;
  const bool tls = !certificatePem.empty();
  if (tls) flags |= MHD_USE_TLS;
  certificate_ = certificatePem;
  key_ = keyPem;
  const int fd = listener.Get();
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSec, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Completed), nullptr},
  };
  if (tls) {
    options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(certificate_.c_str())});
    options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(key_.c_str())});
  }
  options.push_back({MHD_OPTION_END, 0, nullptr});
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &Access, &context_, MHD_OPTION_ARRAY, options.data(),
                             MHD_OPTION_END);
  if (daemon_ == nullptr) {
    problem = tls ? "the HTTP server did not start (is the certificate or the key unusable?)"
                  : "the HTTP server did not start";
    return 1;
  }
  (void)listener.Release();  // the library closes it when it stops
  return 0;
}

void HttpServer::Stop() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

}  // namespace corvhttp
