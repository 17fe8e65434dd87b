// snpp/users.cpp - users file and password checks with libcrypt.
#include "snpp/users.h"

#include <crypt.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace snpp {

namespace {

// A SHA-512 crypt string of an unguessable text: what an unknown user's password is hashed
// against, at the same cost as a real check.
constexpr const char* kDummyHash =
    "$6$corvelunknown$3b2QfYl9BMGUo7cRg5vB0v4V7uQzQeWfJ6zD4o1eY8mE1kU2r6mX0aZ9hJ5nC3vB7yT1wQ8pL4sK2dF6gH0jM.";

bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

int UserTable::Load(const std::string& path, std::string& problem) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  std::ifstream file(path, std::ios::binary);
  if (ec || !file) {
    problem = "Users file " + path + " cannot be read";
    return kUnreadable;
  }
  using std::filesystem::perms;
  if ((status.permissions() & (perms::others_read | perms::others_write)) != perms::none) {
    problem = "Users file " + path + " is readable or writable by every user - make it chmod 640 or 600";
    return kOpenToOthers;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return Parse(text, problem) == 0 ? kLoaded : kMalformedLines;
}

int UserTable::Parse(std::string_view text, std::string& problem) {
  users_.clear();
  dummyHash_ = kDummyHash;
  int bad = 0;
  int lineNumber = 0;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++lineNumber;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line[start] == '#') continue;
    line.remove_prefix(start);
    const size_t split = line.find_first_of(": \t");
    const std::string_view user = line.substr(0, split);
    std::string_view hash = split == std::string_view::npos ? std::string_view() : line.substr(split + 1);
    if (const size_t h = hash.find_first_not_of(" \t"); h != std::string_view::npos) hash.remove_prefix(h);
    // A crypt string has no blank, and one of its own prefix ("$y$", "$6$", ...) or is a
    // DES one of 13 characters; anything else would never match and is better reported.
    if (user.empty() || hash.size() < 13 || hash.find_first_of(" \t:") != std::string_view::npos) {
      if (bad++ == 0) problem = "Users file line " + std::to_string(lineNumber) + " holds no user:hash pair";
      continue;
    }
    users_[std::string(user)] = std::string(hash);
  }
  if (bad > 1) problem += " (" + std::to_string(bad) + " such lines)";
  return bad;
}

bool UserTable::Check(std::string_view user, std::string_view password) const {
  const auto found = users_.find(user);
  const std::string& hash = found == users_.end() ? dummyHash_ : found->second;
  auto data = std::make_unique<crypt_data>();  // large (tens of KB): not on the session's stack
  const std::string pw(password);
  const char* result = crypt_r(pw.c_str(), hash.c_str(), data.get());
  // A failed hash comes back as NULL or a string beginning with "*".
  if (result == nullptr || result[0] == '*') return false;
  return found != users_.end() && SameBytes(result, hash);
}

}  // namespace snpp
