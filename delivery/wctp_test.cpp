// WCTP documents: what a submit, a query and a poll look like on the wire, how replies are
// read (also hostile and broken ones), the messageID rule and the code classes.
#include "delivery/wctp.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cerrno>
#include <string>

namespace delivery {
namespace {

// The document read back with libxml2, for checks of what a carrier would see.
class Parsed {
 public:
  explicit Parsed(const std::string& xml)
      : doc_(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "t.xml", nullptr, XML_PARSE_NONET)) {}
  ~Parsed() { xmlFreeDoc(doc_); }
  bool Ok() const { return doc_ != nullptr; }
  xmlNode* Root() const { return xmlDocGetRootElement(doc_); }
  // The element at a path of element names below the root ("a/b/c"), or null.
  xmlNode* At(const std::string& path) const {
    xmlNode* node = Root();
    size_t start = 0;
    while (node != nullptr && start <= path.size()) {
      const size_t slash = path.find('/', start);
      const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
      xmlNode* c = node->children;
      while (c != nullptr && !(c->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(c->name)))
        c = c->next;
      node = c;
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    return node;
  }
  static std::string Attr(xmlNode* node, const char* name) {
    if (node == nullptr) return "<no element>";
    xmlChar* v = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (v == nullptr) return "<absent>";
    std::string out(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return out;
  }
  static std::string Text(xmlNode* node) {
    xmlChar* v = xmlNodeGetContent(node);
    std::string out(v != nullptr ? reinterpret_cast<const char*>(v) : "");
    xmlFree(v);
    return out;
  }
  // Element children's names in order.
  static std::string Children(xmlNode* node) {
    std::string names;
    for (xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next)
      if (c->type == XML_ELEMENT_NODE)
        names += std::string(names.empty() ? "" : ",") + reinterpret_cast<const char*>(c->name);
    return names;
  }

 private:
  xmlDoc* doc_;
};

TEST(WctpSubmit, DocumentHasTheVersionTheOrderAndEveryTextEscaped) {
  WctpSubmit submit;
  submit.SenderID = "corvel & co";
  submit.SecurityCode = "s\"e<c>";
  submit.MessageID = "gw-17-1";
  submit.RecipientID = "5551234";
  submit.Text = "Server <db1> & \"disk\" full\r\nnext line ]]> end";
  submit.NotifyWhenDelivered = true;
  std::string xml;
  ASSERT_EQ(BuildWctpSubmitRequest(submit, xml), 0);
  EXPECT_NE(xml.find("<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">"), std::string::npos);
  EXPECT_EQ(xml.find("<db1>"), std::string::npos) << xml;  // no text went out raw
  Parsed p(xml);
  ASSERT_TRUE(p.Ok()) << xml;
  EXPECT_EQ(Parsed::Attr(p.Root(), "wctpVersion"), "wctp-dtd-v1r3");
  EXPECT_EQ(Parsed::Children(p.At("wctp-SubmitRequest")), "wctp-SubmitHeader,wctp-Payload");
  EXPECT_EQ(Parsed::Children(p.At("wctp-SubmitRequest/wctp-SubmitHeader")),
            "wctp-Originator,wctp-MessageControl,wctp-Recipient");
  xmlNode* originator = p.At("wctp-SubmitRequest/wctp-SubmitHeader/wctp-Originator");
  EXPECT_EQ(Parsed::Attr(originator, "senderID"), "corvel & co");
  EXPECT_EQ(Parsed::Attr(originator, "securityCode"), "s\"e<c>");
  EXPECT_EQ(Parsed::Attr(originator, "miscInfo"), "<absent>");  // optional ones only when set
  xmlNode* control = p.At("wctp-SubmitRequest/wctp-SubmitHeader/wctp-MessageControl");
  EXPECT_EQ(Parsed::Attr(control, "messageID"), "gw-17-1");
  EXPECT_EQ(Parsed::Attr(control, "notifyWhenDelivered"), "true");
  EXPECT_EQ(Parsed::Attr(p.At("wctp-SubmitRequest/wctp-SubmitHeader/wctp-Recipient"), "recipientID"), "5551234");
  EXPECT_EQ(Parsed::Attr(p.At("wctp-SubmitRequest/wctp-SubmitHeader"), "submitTimestamp"), "<absent>");
  EXPECT_EQ(Parsed::Text(p.At("wctp-SubmitRequest/wctp-Payload/wctp-Alphanumeric")),
            "Server <db1> & \"disk\" full\r\nnext line ]]> end");
}

TEST(WctpSubmit, PagerTextBecomesUtf8AndControlsBecomeBlanks) {
  // CP437: 0x81 is u-umlaut, 0xE1 sharp s; CP850: 0x9B is o-slash (0x9B is a cent sign in CP437).
  EXPECT_EQ(WctpText("Gr\x81\xE1"
                     "e",
                     0),
            "Gr\xC3\xBC\xC3\x9F"
            "e");
  EXPECT_EQ(WctpText("\x9B", 1), "\xC3\xB8");
  EXPECT_EQ(WctpText("\x9B", 0), "\xC2\xA2");
  EXPECT_EQ(WctpText(std::string("a\x01"
                                 "b\x1B"
                                 "c\td\x7F"
                                 "e\0f",
                                 11),
                     0),
            "a b c\td e f");

  WctpSubmit submit;
  submit.SenderID = "gw";
  submit.MessageID = "m";
  submit.RecipientID = "1";
  submit.Text = std::string(
      "bell\x07 and \x81"
      "ber");
  submit.CodePage = 0;
  std::string xml;
  ASSERT_EQ(BuildWctpSubmitRequest(submit, xml), 0);
  Parsed p(xml);  // a control character in the document would make it unreadable
  ASSERT_TRUE(p.Ok()) << xml;
  EXPECT_EQ(Parsed::Text(p.At("wctp-SubmitRequest/wctp-Payload/wctp-Alphanumeric")),
            "bell  and \xC3\xBC"
            "ber");
}

TEST(WctpMessageId, StableShortAndTheKeyAlwaysSurvives) {
  EXPECT_EQ(WctpMessageId("corvel", 17, 1), "corvel-17-1");
  EXPECT_EQ(WctpMessageId("corvel", 17, 1), WctpMessageId("corvel", 17, 1));  // a retry keeps it
  EXPECT_NE(WctpMessageId("corvel", 17, 1), WctpMessageId("corvel", 17, 2));
  EXPECT_EQ(WctpMessageId("pager gw/1:x", 5, 0), "pagergw1x-5-0");  // only safe characters
  EXPECT_EQ(WctpMessageId("", 5, 2), "5-2");
  const std::string id = WctpMessageId("a-very-long-gateway-name.example.net", 18446744073709551615u, 12);
  EXPECT_LE(id.size(), kWctpMessageIdMax);
  EXPECT_EQ(id.substr(id.size() - 23), "18446744073709551615-12");
  EXPECT_EQ(id.size(), kWctpMessageIdMax);
}

TEST(WctpQueries, ClientQueryAndPollCarryWhatTheCarrierNeeds) {
  std::string xml;
  ASSERT_EQ(BuildWctpClientQuery("corvel", "5551234", "T42", xml), 0);
  Parsed q(xml);
  ASSERT_TRUE(q.Ok());
  EXPECT_EQ(Parsed::Attr(q.At("wctp-ClientQuery"), "senderID"), "corvel");
  EXPECT_EQ(Parsed::Attr(q.At("wctp-ClientQuery"), "recipientID"), "5551234");
  EXPECT_EQ(Parsed::Attr(q.At("wctp-ClientQuery"), "trackingNumber"), "T42");

  ASSERT_EQ(BuildWctpPollForMessages("corvel", "", {}, xml), 0);
  Parsed p(xml);
  EXPECT_EQ(Parsed::Attr(p.At("wctp-PollForMessages"), "pollerID"), "corvel");
  EXPECT_EQ(Parsed::Attr(p.At("wctp-PollForMessages"), "securityCode"), "<absent>");
  EXPECT_EQ(Parsed::Children(p.At("wctp-PollForMessages")), "");

  ASSERT_EQ(BuildWctpPollForMessages("corvel", "pw", {3, 4}, xml), 0);
  Parsed acked(xml);
  EXPECT_EQ(Parsed::Children(acked.At("wctp-PollForMessages/wctp-ReturnToSvc")),
            "wctp-MessageReceivedAck,wctp-MessageReceivedAck");
  EXPECT_EQ(Parsed::Attr(acked.At("wctp-PollForMessages/wctp-ReturnToSvc/wctp-MessageReceivedAck"), "sequenceNo"), "3");
}

constexpr const char* kHead = "<?xml version=\"1.0\"?><wctp-Operation wctpVersion=\"wctp-dtd-v1r3\">";
constexpr const char* kTail = "</wctp-Operation>";
std::string Op(const std::string& inner) { return kHead + inner + kTail; }

TEST(WctpReplies, ConfirmationsSayAcceptedOrWhyNot) {
  WctpReply r;
  ASSERT_EQ(ParseWctpReply(Op("<wctp-Confirmation><wctp-Success successCode=\"200\" successText=\"Accepted\" "
                              "trackingNumber=\"T9\"/></wctp-Confirmation>"),
                           r),
            0);
  EXPECT_EQ(r.Operation, "wctp-Confirmation");
  EXPECT_TRUE(r.Success);
  EXPECT_EQ(r.Code, 200);
  EXPECT_EQ(r.Text, "Accepted");
  EXPECT_EQ(r.TrackingNumber, "T9");

  ASSERT_EQ(ParseWctpReply(Op("<wctp-Confirmation>\n  <wctp-Failure errorCode=\"403\">  Invalid recipientID \n"
                              "</wctp-Failure></wctp-Confirmation>"),
                           r),
            0);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Code, 403);
  EXPECT_EQ(r.Text, "Invalid recipientID");  // the element's own text when errorText is missing
  EXPECT_TRUE(r.TrackingNumber.empty());

  // A code that is no number is no code.
  ASSERT_EQ(ParseWctpReply(Op("<wctp-Confirmation><wctp-Failure errorCode=\"4x3\"/></wctp-Confirmation>"), r), 0);
  EXPECT_EQ(r.Code, 0);
  // A long carrier text is kept bounded for the log line.
  ASSERT_EQ(ParseWctpReply(Op("<wctp-Confirmation><wctp-Failure errorCode=\"500\" errorText=\"" +
                              std::string(5000, 'e') + "\"/></wctp-Confirmation>"),
                           r),
            0);
  EXPECT_EQ(r.Text.size(), 200u);
}

TEST(WctpReplies, StatusQueriesAndPollsGiveTheFurthestStatus) {
  WctpReply r;
  ASSERT_EQ(ParseWctpReply(Op("<wctp-ClientQueryResponse><wctp-ClientMessage>"
                              "<wctp-ClientResponseHeader trackingNumber=\"T1\"/>"
                              "<wctp-ClientStatusInfo><wctp-Notification type=\"DELIVERED\"/>"
                              "<wctp-Notification type=\"QUEUED\"/></wctp-ClientStatusInfo>"
                              "</wctp-ClientMessage></wctp-ClientQueryResponse>"),
                           r),
            0);
  EXPECT_TRUE(r.Success);
  EXPECT_EQ(r.Status, WctpPageStatus::Delivered);
  EXPECT_EQ(r.TrackingNumber, "T1");

  ASSERT_EQ(ParseWctpReply(Op("<wctp-ClientQueryResponse><wctp-NoMessages/></wctp-ClientQueryResponse>"), r), 0);
  EXPECT_TRUE(r.NoMessages);
  EXPECT_EQ(r.Status, WctpPageStatus::Unknown);

  ASSERT_EQ(ParseWctpReply(Op("<wctp-PollResponse>"
                              "<wctp-Message sequenceNo=\"7\"><wctp-StatusInfo><wctp-ResponseHeader>"
                              "<wctp-MessageControl messageID=\"gw-1-0\"/></wctp-ResponseHeader>"
                              "<wctp-Notification type=\"read\"/></wctp-StatusInfo></wctp-Message>"
                              "<wctp-Message sequenceNo=\"8\"><wctp-StatusInfo><wctp-ResponseHeader "
                              "trackingNumber=\"T2\"><wctp-MessageControl messageID=\"gw-2-0\"/>"
                              "</wctp-ResponseHeader><wctp-Notification type=\"FROZEN\"/></wctp-StatusInfo>"
                              "</wctp-Message></wctp-PollResponse>"),
                           r),
            0);
  ASSERT_EQ(r.Reports.size(), 2u);
  EXPECT_EQ(r.Reports[0].SequenceNo, 7);
  EXPECT_EQ(r.Reports[0].MessageID, "gw-1-0");
  EXPECT_EQ(r.Reports[0].Status, WctpPageStatus::Read);  // any letter case
  EXPECT_EQ(r.Reports[1].TrackingNumber, "T2");
  EXPECT_EQ(r.Reports[1].Status, WctpPageStatus::Unknown);
  EXPECT_STREQ(WctpStatusName(r.Reports[0].Status), "READ");
}

TEST(WctpReplies, BrokenOrHostileDocumentsAreRefusedOrReadSafely) {
  WctpReply r;
  EXPECT_EQ(ParseWctpReply("", r), -EBADMSG);
  EXPECT_EQ(ParseWctpReply("<html><body>502 Bad Gateway</body></html>", r), -EBADMSG);
  EXPECT_EQ(ParseWctpReply("<wctp-Operation><wctp-Confirmation>", r), -EBADMSG);  // cut short
  EXPECT_EQ(ParseWctpReply(Op(""), r), -EBADMSG);
  EXPECT_EQ(ParseWctpReply(std::string(2 << 20, ' '), r), -EBADMSG);
  // Entities are refused outright: one could name a local file, nested ones would expand
  // to gigabytes when their text is read.
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE wctp-Operation [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<wctp-Operation><wctp-Confirmation><wctp-Failure errorCode=\"500\">&x;</wctp-Failure>"
      "</wctp-Confirmation></wctp-Operation>";
  EXPECT_EQ(ParseWctpReply(external, r), -EBADMSG);
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE wctp-Operation [<!ENTITY a \"aaaaaaaaaa\">";
  for (char c = 'b'; c <= 'k'; ++c) {
    laughs += std::string("<!ENTITY ") + c + " \"";
    for (int i = 0; i < 10; ++i) laughs += std::string("&") + static_cast<char>(c - 1) + ";";
    laughs += "\">";
  }
  laughs +=
      "]><wctp-Operation><wctp-Confirmation><wctp-Failure errorCode=\"500\" errorText=\"&k;\"/>"
      "</wctp-Confirmation></wctp-Operation>";
  EXPECT_EQ(ParseWctpReply(laughs, r), -EBADMSG);
  // The document type line carriers send is fine: it is never fetched.
  ASSERT_EQ(ParseWctpReply("<?xml version=\"1.0\"?><!DOCTYPE wctp-Operation SYSTEM "
                           "\"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">" +
                               Op("<wctp-Confirmation><wctp-Success successCode=\"200\"/></wctp-Confirmation>")
                                   .substr(std::string("<?xml version=\"1.0\"?>").size()),
                           r),
            0);
  EXPECT_EQ(r.Code, 200);
}

TEST(WctpCodes, ClassesDecideWhatBecomesOfThePage) {
  EXPECT_EQ(ClassifyWctpCode(200), WctpVerdict::kAccepted);
  EXPECT_EQ(ClassifyWctpCode(299), WctpVerdict::kAccepted);
  for (int code : {401, 402, 403, 411, 499}) EXPECT_EQ(ClassifyWctpCode(code), WctpVerdict::kRefused) << code;
  for (int code : {0, 199, 300, 301, 399, 500, 503, 599, 600, 960})
    EXPECT_EQ(ClassifyWctpCode(code), WctpVerdict::kFailedRound) << code;
}

}  // namespace
}  // namespace delivery
