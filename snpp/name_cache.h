// snpp/name_cache.h - the SNPP server's copy of the paging server's person and group names.
//
// LIST answers from this copy, so it never waits for the paging server. The copy is
// rebuilt at start-up and after page.ini changes; readers see either the old or the new
// lists, never a half-written one.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "snpp/services.h"

namespace snpp {

constexpr size_t kNameListCapacity = 2000;
constexpr size_t kGroupListCapacity = 150;
constexpr size_t kGroupMemberCapacity = 200;

struct GroupEntry {
  std::string Name;                  // as the paging server lists it (up to 31 characters)
  std::vector<std::string> Members;  // the first page of members, at most 50
};

class NameCache {
 public:
  // Replaces both lists at once.
  void Replace(std::vector<std::string> names, std::vector<GroupEntry> groups);
  // All names: persons first, then groups.
  std::vector<std::string> NameList() const;
  // Members of the first group whose name equals name ignoring case; false when none does.
  bool GroupMembers(std::string_view name, std::vector<std::string>& members) const;
  size_t NameCount() const;
  size_t GroupCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
  std::vector<GroupEntry> groups_;
};

// Fetches persons (type 6), groups (type 7) and each group's members (type 8) from the
// paging server over call into cache and logs the totals, or "Paging server not found"
// when the last remembered request failed. 0 success, 1 failure. Both lists stop at their
// capacity.
[[nodiscard]] int GetNamesAndGroups(NameCache& cache, const PipeCall& call);

}  // namespace snpp
