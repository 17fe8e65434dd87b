// web/html.h - writing text into an HTML page safely.
#pragma once

#include <string>
#include <string_view>

namespace web {

// The text with & < > " and ' written as character references, so that a name, a host, a
// report or a log line (which holds messages anyone could send) shows as text and can never
// become markup or leave an attribute value.
std::string HtmlEscape(std::string_view text);

// Appends "<PRE>\n", the escaped text and "</PRE>\n" to out.
void PrintPre(std::string& out, std::string_view text);

}  // namespace web
