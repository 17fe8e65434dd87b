// popgate/mime_mail.cpp - MIME decoding with GMime 3 and the pagers' code pages.
#include "popgate/mime_mail.h"

#include <gmime/gmime.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace popgate {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view TrimView(std::string_view t) {
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
  return t;
}

bool HasEightBit(std::string_view t) {
  for (char c : t) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

struct HeaderField {
  std::string Name;   // lower case
  std::string Value;  // unfolded
};

// The mail's header fields (after the reply line, up to the first empty line) and the
// offset where its body starts.
std::vector<HeaderField> ReadHeaderFields(std::string_view mail, size_t& bodyAt) {
  std::vector<HeaderField> fields;
  size_t pos = mail.find('\n');
  pos = pos == std::string_view::npos ? mail.size() : pos + 1;
  while (pos < mail.size()) {
    size_t end = mail.find('\n', pos);
    end = end == std::string_view::npos ? mail.size() : end + 1;
    std::string_view line = mail.substr(pos, end - pos);
    pos = end;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) break;
    if ((line[0] == ' ' || line[0] == '\t') && !fields.empty()) {
      fields.back().Value.append(" ").append(TrimView(line));
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    fields.push_back({Lower(TrimView(line.substr(0, colon))), std::string(TrimView(line.substr(colon + 1)))});
  }
  bodyAt = pos;
  return fields;
}

std::string Parameter(std::string_view value, std::string_view name) {
  const std::string lower = Lower(value);
  size_t at = 0;
  while ((at = lower.find(name, at)) != std::string::npos) {
    const bool starts = at > 0 && (lower[at - 1] == ';' || lower[at - 1] == ' ' || lower[at - 1] == '\t');
    size_t eq = at + name.size();
    while (eq < lower.size() && lower[eq] == ' ') ++eq;
    if (starts && eq < lower.size() && lower[eq] == '=') {
      std::string_view v = std::string_view(lower).substr(eq + 1);
      v = TrimView(v.substr(0, v.find(';')));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return std::string(v);
    }
    at += name.size();
  }
  return {};
}

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Owns one GObject reference.
struct GObjectUnref {
  void operator()(gpointer p) const {
    if (p != nullptr) g_object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GString8 = std::unique_ptr<char, GFree>;

// A header of the message, unfolded and with its RFC 2047 words decoded (UTF-8, one line).
std::string DecodedHeader(GMimeObject* object, const char* name, bool& present) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  GMimeHeader* header = headers ? g_mime_header_list_get_header(headers, name) : nullptr;
  present = header != nullptr;
  if (header == nullptr) return {};
  const char* raw = g_mime_header_get_raw_value(header);
  if (raw == nullptr) return {};
  GString8 unfolded(g_mime_utils_header_unfold(raw));
  GString8 decoded(g_mime_utils_header_decode_text(nullptr, unfolded.get()));
  std::string text(decoded ? decoded.get() : unfolded.get());
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return std::string(TrimView(text));
}

bool IsAttachment(GMimeObject* part) {
  const char* disposition = g_mime_object_get_disposition(part);
  return disposition != nullptr && g_ascii_strcasecmp(disposition, "attachment") == 0;
}

// The first text part of the given subtype that is not an attachment, depth first.
GMimeObject* FindTextPart(GMimeObject* object, const char* subtype) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) {
      if (GMimeObject* found = FindTextPart(g_mime_multipart_get_part(multipart, i), subtype)) return found;
    }
    return nullptr;
  }
  if (!GMIME_IS_TEXT_PART(object) || IsAttachment(object)) return nullptr;
  GMimeContentType* type = g_mime_object_get_content_type(object);
  return type != nullptr && g_mime_content_type_is_type(type, "text", subtype) ? object : nullptr;
}

// The part's text in UTF-8: transfer encoding and charset decoded.
std::string PartText(GMimeObject* object) {
  GString8 text(g_mime_text_part_get_text(GMIME_TEXT_PART(object)));
  if (text) return std::string(text.get());
  // A charset the converter does not know: the decoded bytes, kept where they are UTF-8.
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
  if (content == nullptr) return {};
  GPtr<GMimeStream> stream(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content, stream.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
  GString8 valid(g_utf8_make_valid(reinterpret_cast<const char*>(bytes->data), bytes->len));
  return std::string(valid.get());
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.append("\r\n");
    } else if (c == '\n') {
      out.append("\r\n");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint == 0 || codePoint > 0x10FFFF) codePoint = '?';
  char buf[8];
  const int n = g_unichar_to_utf8(static_cast<gunichar>(codePoint), buf);
  out.append(buf, static_cast<size_t>(n));
}

// A character reference at html[pos] ("&...;"), decoded into out. Returns the characters
// used, or 0 when it is not one (the "&" then stands for itself).
size_t DecodeReference(std::string_view html, size_t pos, std::string& out) {
  const size_t semi = html.find(';', pos);
  if (semi == std::string_view::npos || semi - pos > 10) return 0;
  const std::string name = Lower(html.substr(pos + 1, semi - pos - 1));
  static const struct {
    const char* Name;
    uint32_t CodePoint;
  } kNamed[] = {
      {"amp", '&'},     {"lt", '<'},      {"gt", '>'},      {"quot", '"'},   {"apos", '\''},   {"nbsp", ' '},
      {"auml", 0xE4},   {"ouml", 0xF6},   {"uuml", 0xFC},   {"szlig", 0xDF}, {"eacute", 0xE9}, {"egrave", 0xE8},
      {"agrave", 0xE0}, {"ccedil", 0xE7}, {"euro", 0x20AC}, {"copy", 0xA9},
  };
  if (!name.empty() && name[0] == '#') {
    const bool hex = name.size() > 1 && name[1] == 'x';
    const std::string digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 7) return 0;
    uint32_t value = 0;
    for (char d : digits) {
      if (hex ? !std::isxdigit(static_cast<unsigned char>(d)) : !std::isdigit(static_cast<unsigned char>(d))) return 0;
      value = value * (hex ? 16 : 10) +
              static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : d - 'a' + 10);
    }
    AppendUtf8(out, value);
    return semi - pos + 1;
  }
  for (const auto& n : kNamed) {
    if (name == n.Name) {
      AppendUtf8(out, n.CodePoint);
      return semi - pos + 1;
    }
  }
  return 0;
}

bool IsBreakTag(const std::string& tag) {
  static const char* const kTags[] = {"br", "p", "div", "li", "tr", "h1", "h2", "h3", "h4", "h5", "h6", "table"};
  for (const char* t : kTags) {
    if (tag == t) return true;
  }
  return false;
}

}  // namespace

bool NeedsMimeDecoding(std::string_view mail) {
  size_t bodyAt = 0;
  const std::vector<HeaderField> fields = ReadHeaderFields(mail, bodyAt);
  const std::string_view body = mail.substr(std::min(bodyAt, mail.size()));
  bool eightBit = HasEightBit(body);
  std::string charset;
  for (const HeaderField& f : fields) {
    if (f.Name == "subject" || f.Name == "from" || f.Name == "reply-to") {
      if (f.Value.find("=?") != std::string::npos) return true;
      eightBit = eightBit || HasEightBit(f.Value);
    } else if (f.Name == "content-type") {
      const std::string type = Lower(TrimView(std::string_view(f.Value).substr(0, f.Value.find(';'))));
      if (type != "text/plain") return true;
      charset = Parameter(f.Value, "charset");
    } else if (f.Name == "content-transfer-encoding") {
      const std::string encoding = Lower(TrimView(f.Value));
      if (encoding != "7bit" && encoding != "8bit" && encoding != "binary") return true;
    }
  }
  return eightBit && !charset.empty() && charset != "us-ascii" && charset != "ascii";
}

std::string ToPagerCodePage(std::string_view utf8, int mapCodePage) {
  InitGMime();
  GString8 valid(g_utf8_make_valid(utf8.data(), static_cast<gssize>(utf8.size())));
  const size_t validLength = std::strlen(valid.get());
  gsize written = 0;
  GError* error = nullptr;
  GString8 converted(g_convert_with_fallback(valid.get(), static_cast<gssize>(validLength),
                                             mapCodePage == 1 ? "IBM850" : "IBM437", "UTF-8", "?", nullptr, &written,
                                             &error));
  if (error != nullptr) g_error_free(error);
  if (converted) return std::string(converted.get(), written);
  // No converter for the code page: keep ASCII, everything else becomes "?".
  std::string out;
  for (const char* p = valid.get(); *p != '\0'; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

std::string HtmlToText(std::string_view html) {
  std::string raw;
  size_t i = 0;
  bool space = false;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '<') {
      if (html.substr(i, 4) == "<!--") {
        const size_t end = html.find("-->", i + 4);
        i = end == std::string_view::npos ? html.size() : end + 3;
        continue;
      }
      size_t j = i + 1;
      const bool closing = j < html.size() && html[j] == '/';
      if (closing) ++j;
      size_t k = j;
      while (k < html.size() && std::isalnum(static_cast<unsigned char>(html[k]))) ++k;
      const std::string tag = Lower(html.substr(j, k - j));
      const size_t close = html.find('>', k);
      i = close == std::string_view::npos ? html.size() : close + 1;
      if (!closing && (tag == "script" || tag == "style" || tag == "head" || tag == "title")) {
        const std::string lower = Lower(html.substr(i));
        const size_t end = lower.find("</" + tag);
        if (end == std::string::npos) break;
        const size_t endClose = html.find('>', i + end);
        i = endClose == std::string_view::npos ? html.size() : endClose + 1;
        continue;
      }
      if (IsBreakTag(tag)) {
        raw.push_back('\n');
        space = false;
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!space) raw.push_back(' ');
      space = true;
      ++i;
      continue;
    }
    space = false;
    if (c == '&') {
      const size_t used = DecodeReference(html, i, raw);
      if (used > 0) {
        i += used;
        continue;
      }
    }
    raw.push_back(c);
    ++i;
  }
  // Blanks around line breaks go, and at most one empty line stands between paragraphs.
  std::string out;
  size_t lineStart = 0;
  int emptyLines = 0;
  while (lineStart <= raw.size()) {
    size_t end = raw.find('\n', lineStart);
    if (end == std::string::npos) end = raw.size();
    const std::string_view line = TrimView(std::string_view(raw).substr(lineStart, end - lineStart));
    if (line.empty()) {
      ++emptyLines;
    } else {
      if (!out.empty()) out.append(emptyLines > 1 ? "\n\n" : "\n");
      out.append(line);
      emptyLines = 0;
    }
    lineStart = end + 1;
  }
  return out;
}

bool PlainFormOfMimeMail(std::string_view mail, bool complete, int mapCodePage, std::string& plain) {
  InitGMime();
  const size_t firstLineEnd = mail.find('\n');
  const std::string_view replyLine =
      firstLineEnd == std::string_view::npos ? std::string_view("+OK\r\n") : mail.substr(0, firstLineEnd + 1);
  std::string_view message = mail.substr(replyLine.size() <= mail.size() ? replyLine.size() : mail.size());
  if (complete && message.size() >= 3 && message.substr(message.size() - 3) == ".\r\n") message.remove_suffix(3);

  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), message.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
  if (!parsed) return false;

  std::string out(replyLine);
  GMimeObject* object = GMIME_OBJECT(parsed.get());
  struct {
    const char* Name;
    const char* Written;
  } kHeaders[] = {{"From", "From: "}, {"Reply-To", "Reply-To: "}, {"Subject", "Subject: "}};
  for (const auto& h : kHeaders) {
    bool present = false;
    const std::string value = DecodedHeader(object, h.Name, present);
    if (present) out.append(h.Written).append(ToPagerCodePage(value, mapCodePage)).append("\r\n");
  }
  GMimeObject* body = g_mime_message_get_mime_part(parsed.get());
  GMimeObject* part = body ? FindTextPart(body, "plain") : nullptr;
  const bool html = part == nullptr;
  if (html && body) part = FindTextPart(body, "html");
  if (part != nullptr) {
    std::string text = PartText(part);
    if (html) text = HtmlToText(text);
    out.append("\r\n").append(WithCrLf(ToPagerCodePage(text, mapCodePage))).append("\r\n");
  }
  out.append(".\r\n");  // no text part: no empty line either
  plain = std::move(out);
  return true;
}

}  // namespace popgate
