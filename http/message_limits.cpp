// http/message_limits.cpp
#include "http/message_limits.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

#include "common/log.h"
#include "directory/page_ini.h"

namespace corvhttp {

namespace {

int PersonLimit(const directory::Directory& dir, int person) {
  const int s = dir.SystemForPerson(dir.Persons[static_cast<size_t>(person)]);
  return s >= 0 ? dir.Systems[static_cast<size_t>(s)].MaxMessageLength : 0;
}

}  // namespace

void MessageLimits::Refresh() {
  std::error_code error;
  const auto stamp = std::filesystem::last_write_time(path_, error);
  if (error) {
    dir_.reset();  // gone: no limits known until it is back
    loaded_ = false;
    return;
  }
  if (loaded_ && stamp == stamp_) return;
  // The loader takes a file it cannot open for an empty one; a table read from nothing
  // would answer "no such person" where the truth is "cannot tell".
  if (!std::filesystem::is_regular_file(path_, error) || !std::ifstream(path_)) {
    dir_.reset();
    loaded_ = false;
    return;
  }
  auto dir = std::make_unique<directory::Directory>();
  directory::PageIniSettings settings;
  directory::PageIniHooks hooks;
  hooks.ApplyLogFileName = [](std::string_view) {};  // the paging server's log, not ours
  // A syntax error keeps the entries around it, as the paging server does.
  (void)directory::LoadPageIni(path_, *dir, settings, hooks);
  dir_ = std::move(dir);
  stamp_ = stamp;
  loaded_ = true;
}

int MessageLimits::For(const std::string& name) {
  std::lock_guard<std::mutex> hold(mutex_);
  Refresh();
  if (!dir_) return 0;
  const int person = dir_->FindPersonByName(name);
  if (person >= 0) return PersonLimit(*dir_, person);
  const int group = dir_->FindGroup(name);
  if (group < 0) return 0;
  int limit = 0;
  for (const std::string& member : directory::GroupMembers(dir_->Groups[static_cast<size_t>(group)])) {
    const int p = dir_->FindPersonByName(member);
    const int l = p >= 0 ? PersonLimit(*dir_, p) : 0;
    if (l > 0) limit = limit == 0 ? l : std::min(limit, l);
  }
  return limit;
}

int MessageLimits::HiddenPerson(const std::string& name, std::string& person) {
  std::lock_guard<std::mutex> hold(mutex_);
  Refresh();
  if (!dir_) {
    if (!unreadableLogged_) {
      common::LogLine("%t %s: Cannot read %s - persons left out of the name lists cannot be paged\n",
                      common::ProgramName(), path_);
      unreadableLogged_ = true;
    }
    return -EIO;
  }
  unreadableLogged_ = false;
  const int p = dir_->FindPersonByName(name);
  if (p < 0 || !dir_->Persons[static_cast<size_t>(p)].SuppressNameDisplay) return -ENOENT;
  person = dir_->Persons[static_cast<size_t>(p)].Name;
  return 0;
}

}  // namespace corvhttp
