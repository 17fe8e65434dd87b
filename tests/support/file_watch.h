// tests/support/file_watch.h - seeing a program open a file, so a test can wait for that
// event instead of for a time that usually covers it.
#pragma once

#include <string>

#include "platform/serial_device.h"
#include "platform/unique_fd.h"

namespace testsupport {

// Counts the closes of one file by any process (inotify) from the moment it is made.
class FileCloseWatch {
 public:
  explicit FileCloseWatch(const std::string& path) { ok_ = platform::WatchDeviceOpenClose(path, watch_) == 0; }
  bool Ok() const { return ok_; }
  // Closes seen so far (each open and read of the file ends with one).
  int Closes() {
    int opens = 0, closes = 0;
    if (ok_ && platform::ReadDeviceOpenClose(watch_, opens, closes) == 0) closes_ += closes;
    return closes_;
  }

 private:
  platform::UniqueFd watch_;
  bool ok_ = false;
  int closes_ = 0;
};

}  // namespace testsupport
