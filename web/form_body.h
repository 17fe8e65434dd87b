// web/form_body.h - the body of a posted form: name=value fields in arrival order.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace web {

constexpr size_t kMaxFormFields = 100;
constexpr long kMaxFormBody = 65536;  // the largest body a post may announce

struct FormField {
  std::string Name;
  std::string Value;
  bool BadEscape = false;  // a "%" escape was cut short or held a non-hex digit
};

// Next byte of the body, or -1 at the end of the input.
using ByteSource = std::function<int()>;

// Turns one raw field ("a+b%21=x") into its name and value: every "+" becomes a space,
// then each "%" with two hex digits becomes that byte. A "%" without two hex digits after it
// is kept as it stands, and BadEscape tells the caller to say so. The text ends at a NUL
// byte, as a C string would.
FormField DecodeFormField(std::string_view raw);

// Reads exactly length bytes of the body into body. False when the input ends first (body
// then holds what came). A missing source is an input that ends at once.
[[nodiscard]] bool ReadFormBody(const ByteSource& next, long length, std::string& body);

// Reads the body: at most budget bytes (CONTENT_LENGTH), fields separated by "&", at most
// 100 fields (the rest of the body is ignored). A field cut off by the end of the input
// (before its budget ran out) is not stored.
std::vector<FormField> ReadFormFields(const ByteSource& next, long budget);

}  // namespace web
