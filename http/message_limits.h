// http/message_limits.h - what corvhttp reads from page.ini itself: how long a page may be
// for a recipient, and the persons the paging server leaves out of its name lists.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "directory/directory.h"

namespace corvhttp {

// A webhook's text is one page: cut to what the recipient's paging system takes, the paging
// server would split it into several. page.ini is read again when its time stamp changes.
class MessageLimits {
 public:
  explicit MessageLimits(std::string pageIniPath) : path_(std::move(pageIniPath)) {}

  // The MaxMessageLength of name's paging system (a person), or the smallest of its members'
  // (a group); 0 when page.ini does not know the name or cannot be read.
  int For(const std::string& name);

  // A person with SuppressNameDisplay: pageable by name, though no name list shows it. 0 with
  // person set to the name as page.ini writes it; -ENOENT when page.ini has no such hidden
  // person; -EIO when page.ini cannot be read (logged once, until it can be read again).
  [[nodiscard]] int HiddenPerson(const std::string& name, std::string& person);

 private:
  void Refresh();

  std::mutex mutex_;
  std::string path_;
  std::filesystem::file_time_type stamp_{};
  bool loaded_ = false;
  bool unreadableLogged_ = false;
  std::unique_ptr<directory::Directory> dir_;
};

}  // namespace corvhttp
