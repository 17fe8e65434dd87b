// common/fixed_field.h - fixed-width text fields of wire and file records.
#pragma once

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace common {

// Copies text into field, cut to field.size() - 1 characters, always NUL-terminated and
// zero-filled behind the text.
inline void CopyField(std::span<char> field, std::string_view text) {
  if (field.empty()) return;
  const size_t n = std::min(text.size(), field.size() - 1);
  std::memcpy(field.data(), text.data(), n);
  std::memset(field.data() + n, 0, field.size() - n);
}

// The text of a field: up to its first NUL, never past its end.
inline std::string FieldText(std::span<const char> field) {
  const char* end = static_cast<const char*>(std::memchr(field.data(), '\0', field.size()));
  return std::string(field.data(), end ? static_cast<size_t>(end - field.data()) : field.size());
}

}  // namespace common
