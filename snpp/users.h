// snpp/users.h - the LOGI users of SNPP.INI's Users file: one "user:hash" a line (a blank
// instead of the colon is taken too), the hash a crypt(3) string (yescrypt, SHA-512, ...)
// as mkpasswd makes one. Lines beginning with "#" and empty lines are skipped.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace snpp {

class UserTable {
 public:
  enum LoadResult : int {
    kLoaded = 0,
    kUnreadable = 1,      // cannot be opened
    kOpenToOthers = 2,    // readable or writable by others than its owner and group
    kMalformedLines = 3,  // read, but with lines that name no user and hash (problem says which)
  };

  // Reads the file at path. The table holds every good line even with kMalformedLines.
  // problem gets a text for the log with anything but kLoaded.
  [[nodiscard]] int Load(const std::string& path, std::string& problem);

  // Reads the text of a users file (no permission check), for tests and Load. The number of
  // malformed lines.
  int Parse(std::string_view text, std::string& problem);

  bool Empty() const { return users_.empty(); }
  size_t Size() const { return users_.size(); }

  // True when user is known and password hashes to its hash. Takes as long for an unknown
  // user as for a wrong password, so a guesser cannot tell the two apart by time.
  bool Check(std::string_view user, std::string_view password) const;

 private:
  std::map<std::string, std::string, std::less<>> users_;
  std::string dummyHash_;  // hashed against for an unknown user
};

}  // namespace snpp
