// popgate/mime_mail.h - MIME mail as people send it today, turned into the plain form the
// mail rules read: the text its sender wrote, in the pagers' 8-bit code page.
#pragma once

#include <string>
#include <string_view>

namespace popgate {

// True when the mail (as received after RETR, dots unstuffed) uses MIME in a way that
// changes its text: a multipart or non-plain-text body, a quoted-printable or base64 body,
// a declared charset with 8-bit text, or RFC 2047 words in Subject, From or Reply-To.
// A plain 7-bit mail is false, and goes through the rules byte for byte.
bool NeedsMimeDecoding(std::string_view mail);

// The plain form of a MIME mail: its first line (the server's reply line), then Subject,
// From and Reply-To decoded onto one line each, an empty line, the text of the first
// text/plain part that is not an attachment (or the text of the first text/html part when
// there is none) with CR LF line ends, and the closing dot line. A mail without any text
// part gets no empty line, so the rules report it as having no message. complete as for
// PlanMailPages: a cut mail is decoded as far as it goes. False, with plain untouched, when
// the mail cannot be parsed as MIME at all: the rules then read it as it stands.
[[nodiscard]] bool PlainFormOfMimeMail(std::string_view mail, bool complete, int mapCodePage, std::string& plain);

// UTF-8 text in the pagers' code page: CP437 (mapCodePage 0) or CP850 (1); characters the
// code page lacks become "?". Invalid UTF-8 sequences count as such characters.
std::string ToPagerCodePage(std::string_view utf8, int mapCodePage);

// The text of an HTML document: tags and comments dropped, script and style contents
// dropped, line breaks for br, p, div, li, tr and headings, character references decoded
// (to UTF-8), runs of blanks folded.
std::string HtmlToText(std::string_view html);

}  // namespace popgate
