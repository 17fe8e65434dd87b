// tools/corvsim/wctp_carrier.cpp - the simulated WCTP carrier: libmicrohttpd daemons, the
// documents read and answered with libxml2.
#include "tools/corvsim/wctp_carrier.h"

#include <arpa/inet.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "tools/corvsim/sim_line.h"

namespace corvsim {

namespace {

constexpr size_t kBodyMax = 65536;

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

const xmlChar* X(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

std::string Attr(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return "";
  std::string out(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return out;
}

bool Named(const xmlNode* node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

const xmlNode* Find(const xmlNode* node, const char* name) {
  for (const xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
    if (Named(c, name)) return c;
    if (const xmlNode* below = Find(c, name)) return below;
  }
  return nullptr;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A reply document: the operation with one element inside, built by fill.
template <typename Fill>
std::string Reply(const char* operation, Fill&& fill) {
  Doc doc(xmlNewDoc(X("1.0")));
  xmlCreateIntSubset(doc.get(), X("wctp-Operation"), nullptr, X("http://dtd.wctp.org/wctp-dtd-v1r3.dtd"));
  xmlNode* root = xmlNewNode(nullptr, X("wctp-Operation"));
  xmlDocSetRootElement(doc.get(), root);
  xmlNewProp(root, X("wctpVersion"), X("wctp-dtd-v1r3"));
  fill(xmlNewChild(root, nullptr, X(operation), nullptr));
  xmlChar* mem = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc.get(), &mem, &size, "UTF-8", 1);
  std::string out(reinterpret_cast<const char*>(mem), static_cast<size_t>(size));
  xmlFree(mem);
  return out;
}

void Outcome(xmlNode* parent, int code, const std::string& text, const std::string& tracking = "") {
  const bool ok = code >= 200 && code <= 299;
  xmlNode* n = xmlNewChild(parent, nullptr, X(ok ? "wctp-Success" : "wctp-Failure"), nullptr);
  xmlNewProp(n, X(ok ? "successCode" : "errorCode"), X(std::to_string(code)));
  xmlNewProp(n, X(ok ? "successText" : "errorText"), X(text));
  if (!tracking.empty()) xmlNewProp(n, X("trackingNumber"), X(tracking));
}

const char* CodeText(int code) {
  switch (code) {
    case 200:
      return "Message accepted";
    case 401:
      return "Invalid senderID";
    case 402:
      return "Invalid securityCode";
    case 403:
      return "Invalid recipientID";
    case 500:
      return "Internal error, try again later";
    default:
      return code >= 200 && code < 300 ? "Accepted" : "Failed";
  }
}

struct Request {
  std::string Body;
  bool TooLong = false;
};

using DaemonContext = WctpCarrier::DaemonContext;

MHD_Result Handle(void* cls, MHD_Connection* connection, const char*, const char* method, const char*,
                  const char* uploadData, size_t* uploadSize, void** state) {
  DaemonContext* context = static_cast<DaemonContext*>(cls);
  if (*state == nullptr) {
    *state = new Request();
    return MHD_YES;
  }
  Request* request = static_cast<Request*>(*state);
  if (*uploadSize != 0) {
    if (request->Body.size() + *uploadSize > kBodyMax) {
      request->TooLong = true;
    } else {
      request->Body.append(uploadData, *uploadSize);
    }
    *uploadSize = 0;
    return MHD_YES;
  }
  std::string body;
  int status = 200;
  if (std::strcmp(method, "POST") != 0) {
    status = 405;
    body = "POST only\n";
    context->Carrier->Answer("", context->Tls, body);  // records the bad request
    status = 405;
  } else if (request->TooLong) {
    status = 413;
    body = "too long\n";
  } else {
    status = context->Carrier->Answer(request->Body, context->Tls, body);
  }
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  MHD_add_response_header(response, "Content-Type", status == 200 ? "text/xml; charset=utf-8" : "text/plain");
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued;
}

void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<Request*>(*state);
  *state = nullptr;
}

MHD_Daemon* StartDaemon(uint16_t port, DaemonContext* context, const std::string* cert, const std::string* key,
                        uint16_t& boundPort) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_ERROR_LOG;
  MHD_Daemon* daemon = nullptr;
  if (cert != nullptr) {
    daemon = MHD_start_daemon(flags | MHD_USE_TLS, port, nullptr, nullptr, Handle, context, MHD_OPTION_SOCK_ADDR, &addr,
                              MHD_OPTION_NOTIFY_COMPLETED, Completed, nullptr, MHD_OPTION_CONNECTION_TIMEOUT, 30u,
                              MHD_OPTION_HTTPS_MEM_CERT, cert->c_str(), MHD_OPTION_HTTPS_MEM_KEY, key->c_str(),
                              MHD_OPTION_END);
  } else {
    daemon = MHD_start_daemon(flags, port, nullptr, nullptr, Handle, context, MHD_OPTION_SOCK_ADDR, &addr,
                              MHD_OPTION_NOTIFY_COMPLETED, Completed, nullptr, MHD_OPTION_CONNECTION_TIMEOUT, 30u,
                              MHD_OPTION_END);
  }
  if (daemon == nullptr) return nullptr;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
  boundPort = info != nullptr ? info->port : port;
  return daemon;
}

}  // namespace

WctpCarrier::WctpCarrier(SectionConfig config, Recorder& recorder) : config_(std::move(config)), recorder_(recorder) {}

WctpCarrier::~WctpCarrier() { Stop(); }

int WctpCarrier::Start(std::string& error) {
  xmlInitParser();
  http_ = StartDaemon(static_cast<uint16_t>(config_.GetInt("port", 0)), &plain_, nullptr, nullptr, port_);
  if (http_ == nullptr) {
    error = "cannot start the WCTP carrier on port " + config_.Get("port", "0");
    return -1;
  }
  recorder_.Append("LISTEN wctp port=" + std::to_string(port_));
  if (config_.Get("tls_port").empty()) return 0;
  certPem_ = ReadFile(config_.Get("cert"));
  keyPem_ = ReadFile(config_.Get("key"));
  if (certPem_.empty() || keyPem_.empty()) {
    error = "the WCTP carrier's cert or key cannot be read";
    return -1;
  }
  https_ = StartDaemon(static_cast<uint16_t>(config_.GetInt("tls_port", 0)), &secure_, &certPem_, &keyPem_, tlsPort_);
  if (https_ == nullptr) {
    error = "cannot start the WCTP carrier's HTTPS on port " + config_.Get("tls_port");
    return -1;
  }
  recorder_.Append("LISTEN wctp-tls port=" + std::to_string(tlsPort_));
  return 0;
}

void WctpCarrier::Stop() {
  if (http_ != nullptr) MHD_stop_daemon(http_);
  if (https_ != nullptr) MHD_stop_daemon(https_);
  http_ = https_ = nullptr;
}

int WctpCarrier::Answer(const std::string& body, bool tls, std::string& reply) {
  const std::string tag = std::string(" tls=") + (tls ? "1" : "0");
  const long slowMs = config_.GetInt("slow_ms", 0);
  if (slowMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
  if (body.empty()) {
    recorder_.Append("WCTP bad" + tag + " reason=no-document");
    return 405;
  }
  Doc doc(xmlReadMemory(body.data(), static_cast<int>(body.size()), "request.xml", nullptr,
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS));
  const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (!Named(root, "wctp-Operation") || Attr(root, "wctpVersion") != "wctp-dtd-v1r3") {
    recorder_.Append("WCTP bad" + tag + " reason=" + (root == nullptr ? "not-xml" : "not-wctp-1.3"));
    reply = Reply("wctp-Confirmation", [](xmlNode* op) { Outcome(op, 301, "Not a WCTP 1.3 document"); });
    return 200;
  }
  const xmlNode* op = root->children;
  while (op != nullptr && op->type != XML_ELEMENT_NODE) op = op->next;
  int status = 200;
  if (Named(op, "wctp-SubmitRequest")) {
    reply = Submit(op, tls, status);
  } else if (Named(op, "wctp-ClientQuery")) {
    reply = Query(op, tls);
  } else if (Named(op, "wctp-PollForMessages")) {
    reply = Poll(op, tls);
  } else {
    recorder_.Append("WCTP bad" + tag + " reason=unknown-operation");
    reply = Reply("wctp-Confirmation", [](xmlNode* o) { Outcome(o, 302, "Operation not supported"); });
  }
  return status;
}

std::string WctpCarrier::Submit(const void* opPtr, bool tls, int& status) {
  const xmlNode* op = static_cast<const xmlNode*>(opPtr);
  const xmlNode* originator = Find(op, "wctp-Originator");
  const xmlNode* control = Find(op, "wctp-MessageControl");
  const xmlNode* recipient = Find(op, "wctp-Recipient");
  const xmlNode* text = Find(op, "wctp-Alphanumeric");
  const std::string sender = Attr(originator, "senderID");
  const std::string security = Attr(originator, "securityCode");
  const std::string messageId = Attr(control, "messageID");
  const std::string notify = Attr(control, "notifyWhenDelivered");
  const std::string pagerId = Attr(recipient, "recipientID");
  std::string message;
  if (text != nullptr) {
    xmlChar* content = xmlNodeGetContent(text);
    if (content != nullptr) message = reinterpret_cast<const char*>(content);
    xmlFree(content);
  }
  int code = 200;
  std::string tracking;
  long n = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    n = ++submits_;
    const std::string wantSender = config_.Get("sender_id");
    const std::string wantCode = config_.Get("security_code");
    bool refusedId = false;
    for (const std::string& id : config_.GetList("refuse_ids")) refusedId = refusedId || id == pagerId;
    if (originator == nullptr || control == nullptr || recipient == nullptr || messageId.empty()) {
      code = 303;  // not a valid submit
    } else if (!wantSender.empty() && sender != wantSender) {
      code = 401;
    } else if (!wantCode.empty() && security != wantCode) {
      code = 402;
    } else if (refusedId) {
      code = 403;
    } else if (n <= config_.GetInt("fail_first", 0)) {
      code = 500;
    } else {
      code = static_cast<int>(config_.GetInt("answer", 200));
    }
    if (code >= 200 && code <= 299) {
      tracking = config_.GetBool("tracking", true) ? "T" + std::to_string(n) : "";
      pages_.push_back({messageId, tracking, pagerId, 0});
    }
  }
  recorder_.Append("WCTP submit n=" + std::to_string(n) + " tls=" + (tls ? "1" : "0") +
                   " sender=" + RecordEscape(sender) + " security=" + RecordEscape(security) +
                   " messageID=" + RecordEscape(messageId) + " recipient=" + RecordEscape(pagerId) +
                   " notify=" + (notify.empty() ? "false" : notify) + " len=" + std::to_string(message.size()) +
                   " text=" + RecordEscape(message) + " code=" + std::to_string(code) +
                   " tracking=" + (tracking.empty() ? "-" : tracking));
  status = 200;  // WCTP answers its own failures inside a 200 reply
  return Reply("wctp-Confirmation", [&](xmlNode* o) { Outcome(o, code, CodeText(code), tracking); });
}

std::string WctpCarrier::Query(const void* opPtr, bool tls) {
  const xmlNode* op = static_cast<const xmlNode*>(opPtr);
  const std::string tracking = Attr(op, "trackingNumber");
  const std::vector<std::string> steps = config_.GetList("status_steps");
  std::string status;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (WctpCarrierPage& page : pages_) {
      if (page.Tracking != tracking && page.MessageID != tracking) continue;
      const size_t step = std::min(page.StatusStep, steps.empty() ? 0 : steps.size() - 1);
      status = steps.empty() ? "DELIVERED" : steps[step];
      ++page.StatusStep;
      break;
    }
  }
  recorder_.Append(std::string("WCTP query tls=") + (tls ? "1" : "0") + " sender=" +
                   RecordEscape(Attr(op, "senderID")) + " recipient=" + RecordEscape(Attr(op, "recipientID")) +
                   " tracking=" + RecordEscape(tracking) + " status=" + (status.empty() ? "none" : status));
  return Reply("wctp-ClientQueryResponse", [&](xmlNode* o) {
    if (status.empty()) {
      xmlNewChild(o, nullptr, X("wctp-NoMessages"), nullptr);
      return;
    }
    xmlNode* message = xmlNewChild(o, nullptr, X("wctp-ClientMessage"), nullptr);
    xmlNode* header = xmlNewChild(message, nullptr, X("wctp-ClientResponseHeader"), nullptr);
    xmlNewProp(header, X("trackingNumber"), X(tracking));
    xmlNode* info = xmlNewChild(message, nullptr, X("wctp-ClientStatusInfo"), nullptr);
    xmlNode* note = xmlNewChild(info, nullptr, X("wctp-Notification"), nullptr);
    xmlNewProp(note, X("type"), X(status));
  });
}

std::string WctpCarrier::Poll(const void* opPtr, bool tls) {
  const xmlNode* op = static_cast<const xmlNode*>(opPtr);
  std::string acks;
  if (const xmlNode* back = Find(op, "wctp-ReturnToSvc")) {
    for (const xmlNode* c = back->children; c != nullptr; c = c->next) {
      if (!Named(c, "wctp-MessageReceivedAck")) continue;
      acks += (acks.empty() ? "" : ",") + Attr(c, "sequenceNo");
    }
  }
  const std::vector<std::string> steps = config_.GetList("status_steps");
  struct Report {
    int64_t Sequence;
    std::string MessageID, Recipient, Tracking, Status;
  };
  std::vector<Report> reports;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (WctpCarrierPage& page : pages_) {
      const size_t count = steps.empty() ? 1 : steps.size();
      if (page.StatusStep >= count) continue;  // everything about it has been reported
      reports.push_back({nextSequence_++, page.MessageID, page.Recipient, page.Tracking,
                         steps.empty() ? std::string("DELIVERED") : steps[page.StatusStep]});
      ++page.StatusStep;
    }
  }
  recorder_.Append(std::string("WCTP poll tls=") + (tls ? "1" : "0") + " poller=" + RecordEscape(Attr(op, "pollerID")) +
                   " acks=" + (acks.empty() ? "-" : acks) + " reports=" + std::to_string(reports.size()));
  return Reply("wctp-PollResponse", [&](xmlNode* o) {
    if (reports.empty()) {
      xmlNewChild(o, nullptr, X("wctp-NoMessages"), nullptr);
      return;
    }
    for (const Report& r : reports) {
      xmlNode* message = xmlNewChild(o, nullptr, X("wctp-Message"), nullptr);
      xmlNewProp(message, X("sequenceNo"), X(std::to_string(r.Sequence)));
      xmlNode* info = xmlNewChild(message, nullptr, X("wctp-StatusInfo"), nullptr);
      xmlNode* header = xmlNewChild(info, nullptr, X("wctp-ResponseHeader"), nullptr);
      if (!r.Tracking.empty()) xmlNewProp(header, X("trackingNumber"), X(r.Tracking));
      xmlNewProp(xmlNewChild(header, nullptr, X("wctp-Originator"), nullptr), X("senderID"), X("corvsim"));
      xmlNewProp(xmlNewChild(header, nullptr, X("wctp-MessageControl"), nullptr), X("messageID"), X(r.MessageID));
      xmlNewProp(xmlNewChild(header, nullptr, X("wctp-Recipient"), nullptr), X("recipientID"), X(r.Recipient));
      xmlNewProp(xmlNewChild(info, nullptr, X("wctp-Notification"), nullptr), X("type"), X(r.Status));
    }
  });
}

}  // namespace corvsim
