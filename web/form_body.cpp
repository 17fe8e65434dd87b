// web/form_body.cpp
#include "web/form_body.h"

#include <cctype>

namespace web {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

FormField DecodeFormField(std::string_view raw) {
  std::string text(raw);
  for (char& c : text) {
    if (c == '+') c = ' ';
  }
  FormField field;
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      field.BadEscape = true;
      decoded += '%';
      continue;
    }
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (const size_t nul = decoded.find('\0'); nul != std::string::npos) decoded.resize(nul);
  const size_t eq = decoded.find('=');
  if (eq == std::string::npos) {
    field.Name = decoded;
  } else {
    field.Name = decoded.substr(0, eq);
    field.Value = decoded.substr(eq + 1);
  }
  return field;
}

bool ReadFormBody(const ByteSource& next, long length, std::string& body) {
  body.clear();
  if (length <= 0) return true;
  if (!next) return false;
  body.reserve(static_cast<size_t>(length));
  while (static_cast<long>(body.size()) < length) {
    const int c = next();
    if (c < 0) return false;
    body += static_cast<char>(c);
  }
  return true;
}

std::vector<FormField> ReadFormFields(const ByteSource& next, long budget) {
  std::vector<FormField> fields;
  bool ended = false;
  while (budget > 0 && !ended && fields.size() < kMaxFormFields) {
    std::string raw;
    bool complete = false;
    while (budget > 0) {
      const int c = next();
      if (c < 0) {
        ended = true;
        break;
      }
      --budget;
      if (c == '&') {
        complete = true;
        break;
      }
      raw += static_cast<char>(c);
      if (budget == 0) complete = true;
    }
    if (complete) fields.push_back(DecodeFormField(raw));
  }
  return fields;
}

}  // namespace web
