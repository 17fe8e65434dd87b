// delivery/wctp.cpp - WCTP 1.3 documents, built and read with libxml2.
#include "delivery/wctp.h"

#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace delivery {

namespace {

constexpr size_t kReplyMax = 1 << 20;  // a status reply is a few kilobytes; more is not WCTP
constexpr size_t kReplyTextMax = 200;  // the carrier's text as kept for the log line

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
const xmlChar* X(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

// libxml2 sets itself up once, before any thread parses (its own rule for thread use).
void InitXml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

// The UTF-8 form of the bytes 0x80-0xFF of a code page, from the C library's tables.
using HighHalf = std::array<std::string, 128>;
HighHalf MakeHighHalf(const char* codePage) {
  HighHalf table;
  iconv_t cd = iconv_open("UTF-8", codePage);
  for (int b = 0x80; b <= 0xFF; ++b) {
    std::string& out = table[static_cast<size_t>(b - 0x80)];
    out = "?";
    if (cd == reinterpret_cast<iconv_t>(-1)) continue;
    char in[1] = {static_cast<char>(b)};
    char buf[8] = {};
    char* inPtr = in;
    char* outPtr = buf;
    size_t inLeft = 1, outLeft = sizeof buf;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
      out.assign(buf, sizeof buf - outLeft);
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return table;
}

const HighHalf& HighHalfOf(int codePage) {
  static const HighHalf cp437 = MakeHighHalf("IBM437");
  static const HighHalf cp850 = MakeHighHalf("IBM850");
  return codePage == 1 ? cp850 : cp437;
}

std::string Dump(xmlDoc* doc) {
  xmlChar* mem = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc, &mem, &size, "UTF-8", 1);
  std::string out = mem != nullptr ? std::string(reinterpret_cast<const char*>(mem), static_cast<size_t>(size)) : "";
  xmlFree(mem);
  return out;
}

// A new document with its wctp-Operation root (and the document type line carriers expect).
Doc NewOperation(xmlNode*& root) {
  InitXml();
  Doc doc(xmlNewDoc(X("1.0")));
  if (!doc) return doc;
  xmlCreateIntSubset(doc.get(), X("wctp-Operation"), nullptr, X(std::string(kWctpDtd)));
  root = xmlNewNode(nullptr, X("wctp-Operation"));
  if (root == nullptr) return Doc();
  xmlDocSetRootElement(doc.get(), root);
  xmlNewProp(root, X("wctpVersion"), X(std::string(kWctpVersion)));
  return doc;
}

void Attribute(xmlNode* node, const char* name, std::string_view value) {
  xmlNewProp(node, X(name), X(WctpText(value, 0)));
}

// Attribute names are compared as given; element names too (XML is case-sensitive).
bool Named(const xmlNode* node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, X(name)) == 0;
}

std::string Attr(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, X(name));
  if (value == nullptr) return "";
  std::string out(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return out;
}

std::string Content(const xmlNode* node) {
  xmlChar* value = xmlNodeGetContent(node);
  if (value == nullptr) return "";
  std::string out(reinterpret_cast<const char*>(value));
  xmlFree(value);
  // Surrounding blanks are layout, not the carrier's words.
  const size_t a = out.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  const size_t b = out.find_last_not_of(" \t\r\n");
  return out.substr(a, b - a + 1);
}

int ToInt(const std::string& text) {
  if (text.empty() || text.size() > 9) return 0;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
  return std::atoi(text.c_str());
}

int64_t ToInt64(const std::string& text) {
  if (text.empty() || text.size() > 18) return 0;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
  return std::strtoll(text.c_str(), nullptr, 10);
}

// The first element of that name in the subtree below node (depth first), or null.
const xmlNode* Find(const xmlNode* node, const char* name) {
  for (const xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (Named(c, name)) return c;
    if (const xmlNode* below = Find(c, name)) return below;
  }
  return nullptr;
}

// Calls f for every element of that name in the subtree below node.
template <typename F>
void ForEach(const xmlNode* node, const char* name, F&& f) {
  for (const xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (Named(c, name)) f(c);
    ForEach(c, name, f);
  }
}

// The first trackingNumber attribute in the subtree (on the success element or a header).
std::string TrackingIn(const xmlNode* node) {
  for (const xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    std::string t = Attr(c, "trackingNumber");
    if (!t.empty()) return t;
    t = TrackingIn(c);
    if (!t.empty()) return t;
  }
  return "";
}

std::string Cap(std::string text) {
  if (text.size() > kReplyTextMax) text.resize(kReplyTextMax);
  return text;
}

// Fills the code and text of a success or failure element.
void ReadOutcome(const xmlNode* op, WctpReply& reply) {
  const xmlNode* success = Find(op, "wctp-Success");
  if (success == nullptr) success = Find(op, "wctp-ClientSuccess");
  if (success != nullptr) {
    reply.Success = true;
    reply.Code = ToInt(Attr(success, "successCode"));
    reply.Text = Attr(success, "successText");
    if (reply.Text.empty()) reply.Text = Content(success);
    reply.TrackingNumber = Attr(success, "trackingNumber");
  }
  if (const xmlNode* failure = Find(op, "wctp-Failure"); failure != nullptr && success == nullptr) {
    reply.Code = ToInt(Attr(failure, "errorCode"));
    reply.Text = Attr(failure, "errorText");
    if (reply.Text.empty()) reply.Text = Content(failure);
  }
  reply.Text = Cap(reply.Text);
}

}  // namespace

std::string WctpMessageId(std::string_view gatewayId, uint64_t pageKey, int piece) {
  const std::string suffix = std::to_string(pageKey) + "-" + std::to_string(piece < 0 ? 0 : piece);
  std::string gateway;
  for (char c : gatewayId) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_') gateway += c;
  }
  if (gateway.empty()) return suffix.substr(0, kWctpMessageIdMax);
  const size_t room = kWctpMessageIdMax > suffix.size() + 1 ? kWctpMessageIdMax - suffix.size() - 1 : 0;
  if (room == 0) return suffix.substr(0, kWctpMessageIdMax);
  return gateway.substr(0, room) + "-" + suffix;
}

std::string WctpText(std::string_view pageText, int codePage) {
  const HighHalf& high = HighHalfOf(codePage);
  std::string out;
  out.reserve(pageText.size());
  for (char ch : pageText) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      out += high[c - 0x80];
    } else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
      out += ' ';  // XML 1.0 has no way to carry these; a carrier would refuse the document
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int BuildWctpSubmitRequest(const WctpSubmit& submit, std::string& xml) {
  xmlNode* root = nullptr;
  Doc doc = NewOperation(root);
  if (!doc) return -ENOMEM;
  xmlNode* request = xmlNewChild(root, nullptr, X("wctp-SubmitRequest"), nullptr);
  xmlNode* header = xmlNewChild(request, nullptr, X("wctp-SubmitHeader"), nullptr);
  if (header == nullptr) return -ENOMEM;
  if (!submit.SubmitTimestamp.empty()) Attribute(header, "submitTimestamp", submit.SubmitTimestamp);
  xmlNode* originator = xmlNewChild(header, nullptr, X("wctp-Originator"), nullptr);
  xmlNode* control = xmlNewChild(header, nullptr, X("wctp-MessageControl"), nullptr);
  xmlNode* recipient = xmlNewChild(header, nullptr, X("wctp-Recipient"), nullptr);
  xmlNode* payload = xmlNewChild(request, nullptr, X("wctp-Payload"), nullptr);
  if (originator == nullptr || control == nullptr || recipient == nullptr || payload == nullptr) return -ENOMEM;
  Attribute(originator, "senderID", submit.SenderID);
  if (!submit.SecurityCode.empty()) Attribute(originator, "securityCode", submit.SecurityCode);
  if (!submit.MiscInfo.empty()) Attribute(originator, "miscInfo", submit.MiscInfo);
  Attribute(control, "messageID", submit.MessageID.substr(0, kWctpMessageIdMax));
  if (submit.NotifyWhenDelivered) Attribute(control, "notifyWhenDelivered", "true");
  Attribute(recipient, "recipientID", submit.RecipientID);
  // xmlNewTextChild escapes the text (xmlNewChild would take "&" as the start of an entity).
  if (xmlNewTextChild(payload, nullptr, X("wctp-Alphanumeric"), X(WctpText(submit.Text, submit.CodePage))) == nullptr)
    return -ENOMEM;
  xml = Dump(doc.get());
  return xml.empty() ? -ENOMEM : 0;
}

int BuildWctpClientQuery(std::string_view senderId, std::string_view recipientId, std::string_view trackingNumber,
                         std::string& xml) {
  xmlNode* root = nullptr;
  Doc doc = NewOperation(root);
  if (!doc) return -ENOMEM;
  xmlNode* query = xmlNewChild(root, nullptr, X("wctp-ClientQuery"), nullptr);
  if (query == nullptr) return -ENOMEM;
  Attribute(query, "senderID", senderId);
  Attribute(query, "recipientID", recipientId);
  Attribute(query, "trackingNumber", trackingNumber);
  xml = Dump(doc.get());
  return xml.empty() ? -ENOMEM : 0;
}

int BuildWctpPollForMessages(std::string_view pollerId, std::string_view securityCode,
                             const std::vector<int64_t>& acknowledge, std::string& xml) {
  xmlNode* root = nullptr;
  Doc doc = NewOperation(root);
  if (!doc) return -ENOMEM;
  xmlNode* poll = xmlNewChild(root, nullptr, X("wctp-PollForMessages"), nullptr);
  if (poll == nullptr) return -ENOMEM;
  Attribute(poll, "pollerID", pollerId);
  if (!securityCode.empty()) Attribute(poll, "securityCode", securityCode);
  if (!acknowledge.empty()) {
    xmlNode* back = xmlNewChild(poll, nullptr, X("wctp-ReturnToSvc"), nullptr);
    for (int64_t sequenceNo : acknowledge) {
      xmlNode* ack = xmlNewChild(back, nullptr, X("wctp-MessageReceivedAck"), nullptr);
      if (ack == nullptr) return -ENOMEM;
      Attribute(ack, "sequenceNo", std::to_string(sequenceNo));
      xmlNode* ok = xmlNewChild(ack, nullptr, X("wctp-Success"), nullptr);
      if (ok == nullptr) return -ENOMEM;
      Attribute(ok, "successCode", "200");
    }
  }
  xml = Dump(doc.get());
  return xml.empty() ? -ENOMEM : 0;
}

WctpPageStatus WctpStatusFromText(std::string_view type) {
  std::string upper;
  for (char c : type) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "QUEUED") return WctpPageStatus::Queued;
  if (upper == "DELIVERED") return WctpPageStatus::Delivered;
  if (upper == "READ") return WctpPageStatus::Read;
  return WctpPageStatus::Unknown;
}

const char* WctpStatusName(WctpPageStatus status) {
  switch (status) {
    case WctpPageStatus::Queued:
      return "QUEUED";
    case WctpPageStatus::Delivered:
      return "DELIVERED";
    case WctpPageStatus::Read:
      return "READ";
    default:
      return "UNKNOWN";
  }
}

int ParseWctpReply(std::string_view xml, WctpReply& reply) {
  reply = WctpReply{};
  if (xml.empty() || xml.size() > kReplyMax) return -EBADMSG;
  // A carrier's reply declares no entities. One that does is refused before parsing: an
  // entity could name a local file, or expand exponentially when its text is read.
  if (xml.find("<!ENTITY") != std::string_view::npos) return -EBADMSG;
  InitXml();
  // No NOENT, no DTDLOAD: entities stay unexpanded and the document type is never fetched.
  Doc doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "wctp-reply.xml", nullptr,
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS));
  if (!doc) return -EBADMSG;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!Named(root, "wctp-Operation")) return -EBADMSG;
  const xmlNode* op = root->children;
  while (op != nullptr && op->type != XML_ELEMENT_NODE) op = op->next;
  if (op == nullptr) return -EBADMSG;
  reply.Operation = reinterpret_cast<const char*>(op->name);

  ReadOutcome(op, reply);
  reply.NoMessages = Find(op, "wctp-NoMessages") != nullptr || Named(op, "wctp-NoMessages");
  if (reply.TrackingNumber.empty()) reply.TrackingNumber = Attr(op, "trackingNumber");
  if (reply.TrackingNumber.empty()) reply.TrackingNumber = TrackingIn(op);
  if (Named(op, "wctp-Failure")) {  // a failure straight under the operation
    reply.Code = ToInt(Attr(op, "errorCode"));
    reply.Text = Cap(Attr(op, "errorText"));
  }

  if (Named(op, "wctp-PollResponse")) {
    ForEach(op, "wctp-Message", [&reply](const xmlNode* message) {
      WctpStatusReport report;
      report.SequenceNo = ToInt64(Attr(message, "sequenceNo"));
      if (const xmlNode* control = Find(message, "wctp-MessageControl")) report.MessageID = Attr(control, "messageID");
      report.TrackingNumber = TrackingIn(message);
      if (const xmlNode* note = Find(message, "wctp-Notification"))
        report.Status = WctpStatusFromText(Attr(note, "type"));
      reply.Reports.push_back(std::move(report));
    });
    // A poll answered with messages is a success even without a success element.
    if (!reply.Reports.empty() || reply.NoMessages) reply.Success = reply.Code == 0 || reply.Success;
  } else {
    // A query may list a page's notifications one by one: the furthest one counts.
    ForEach(op, "wctp-Notification", [&reply](const xmlNode* note) {
      const WctpPageStatus s = WctpStatusFromText(Attr(note, "type"));
      if (static_cast<int>(s) > static_cast<int>(reply.Status)) reply.Status = s;
    });
    if (Named(op, "wctp-ClientQueryResponse") && reply.Code == 0 &&
        (reply.Status != WctpPageStatus::Unknown || reply.NoMessages))
      reply.Success = true;
  }
  return 0;
}

WctpVerdict ClassifyWctpCode(int code) {
  if (code >= 200 && code <= 299) return WctpVerdict::kAccepted;
  if (code >= 400 && code <= 499) return WctpVerdict::kRefused;
  return WctpVerdict::kFailedRound;
}

}  // namespace delivery
