// http/tokens.h - the bearer tokens of HTTP.INI's Tokens file: one a line; "#" lines and
// empty lines are skipped, blanks around a token are not part of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvhttp {

class TokenSet {
 public:
  enum LoadResult : int { kLoaded = 0, kUnreadable = 1, kOpenToOthers = 2, kNoTokens = 3 };

  // Reads the file at path; refuses one that every user may read or write. problem says why.
  [[nodiscard]] int Load(const std::string& path, std::string& problem);
  void Parse(std::string_view text);

  bool Empty() const { return tokens_.empty(); }
  size_t Size() const { return tokens_.size(); }

  // True when authorization (an Authorization header's value) is "Bearer TOKEN" with a
  // known token. Every token is compared in full, so the time taken tells nothing.
  bool Accepts(std::string_view authorization) const;

 private:
  std::vector<std::string> tokens_;
};

}  // namespace corvhttp
