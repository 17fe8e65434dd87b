// snpp/name_cache.cpp - the name copy and its fetch over the pipe.
#include "snpp/name_cache.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "common/log.h"
#include "common/request_record.h"

namespace snpp {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// One list request; the reply's result is returned and the reply left in reply.
int ListRequest(const PipeCall& call, common::RequestType type, int page, std::string_view name,
                std::vector<char>& reply) {
  common::RequestRecord head{};
  head.RequestType = type;
  head.Parameter = static_cast<int16_t>(page);
  const std::vector<char> request = common::BuildRequest(head, name, "");
  if (call) return call(request, reply);
  std::fill(reply.begin(), reply.end(), '\0');
  return 1;
}

// A failed call leaves its reply cleared, so it reads as no names; a count outside 0..50
// is not a list reply.
int CountOf(const std::vector<char>& reply) { return common::ListReplyCount(reply); }

}  // namespace

void NameCache::Replace(std::vector<std::string> names, std::vector<GroupEntry> groups) {
  std::lock_guard lock(mutex_);
  names_ = std::move(names);
  groups_ = std::move(groups);
}

std::vector<std::string> NameCache::NameList() const {
  std::lock_guard lock(mutex_);
  return names_;
}

bool NameCache::GroupMembers(std::string_view name, std::vector<std::string>& members) const {
  std::lock_guard lock(mutex_);
  for (const GroupEntry& group : groups_) {
    if (SameIgnoringCase(group.Name, name)) {
      members = group.Members;
      return true;
    }
  }
  members.clear();
  return false;
}

size_t NameCache::NameCount() const {
  std::lock_guard lock(mutex_);
  return names_.size();
}

size_t NameCache::GroupCount() const {
  std::lock_guard lock(mutex_);
  return groups_.size();
}

namespace {
int FetchNamesAndGroups(NameCache& cache, const PipeCall& call);
}  // namespace

int GetNamesAndGroups(NameCache& cache, const PipeCall& call) {
  try {
    return FetchNamesAndGroups(cache, call);
  } catch (const std::bad_alloc&) {
    return 1;  // no memory for the buffers or the lists: a failed fetch
  }
}

namespace {
int FetchNamesAndGroups(NameCache& cache, const PipeCall& call) {
  std::vector<char> reply(common::kPipeReplyCapacity);
  std::vector<std::string> names;
  std::vector<GroupEntry> groups;
  int result = 0;

  // Persons, 50 to a page. Whether these calls succeed is not what decides the result.
  for (int page = 0; names.size() < kNameListCapacity; ++page) {
    (void)ListRequest(call, common::kListPersons, page, "", reply);
    const int count = CountOf(reply);
    if (count > common::kListPageSize || count < 0) break;
    for (int i = 0; i < count && names.size() < kNameListCapacity; ++i) {
      names.emplace_back(common::ListReplyName(reply, i));
    }
    if (count < common::kListPageSize) break;
  }

  // Groups, into both lists.
  for (int page = 0; groups.size() < kGroupListCapacity; ++page) {
    result = ListRequest(call, common::kListGroups, page, "", reply);
    const int count = CountOf(reply);
    if (count > common::kListPageSize || count < 0) break;
    for (int i = 0; i < count && groups.size() < kGroupListCapacity; ++i) {
      const std::string_view name = common::ListReplyName(reply, i);
      if (names.size() < kNameListCapacity) names.emplace_back(name);
      groups.push_back(GroupEntry{std::string(name), {}});
    }
    if (count < common::kListPageSize) break;
  }

  // Members: only the first reply per group, so at most 50 of each.
  for (GroupEntry& group : groups) {
    result = ListRequest(call, common::kListMembers, 0, group.Name, reply);
    const int count = CountOf(reply);
    if (count > common::kListPageSize || count < 0) break;
    for (int i = 0; i < count && group.Members.size() < kGroupMemberCapacity; ++i) {
      group.Members.emplace_back(common::ListReplyName(reply, i));
    }
  }

  const size_t nameCount = names.size();
  const size_t groupCount = groups.size();
  cache.Replace(std::move(names), std::move(groups));
  const std::string program = common::ProgramName();
  if (result != 0) {
    common::LogLine("%t %s: Paging server not found.  Make sure Paging Server is running\n", program);
  } else {
    common::LogLine("%t %s: Total Names: %d  Total Groups: %d\n", program, static_cast<int>(nameCount),
                    static_cast<int>(groupCount));
  }
  return result;
}
}  // namespace

}  // namespace snpp
