// platform/file_stamp.cpp - stat(2) behind the packed stamp.
#include "platform/file_stamp.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace platform {

uint32_t PackDateTime(int year, int month, int day, int hour, int minute, int second) {
  const uint32_t years = year >= 1980 ? static_cast<uint32_t>(year - 1980) : 0u;
  return (years & 0x7Fu) << 25 | (static_cast<uint32_t>(month) & 0xFu) << 21 |
         (static_cast<uint32_t>(day) & 0x1Fu) << 16 | (static_cast<uint32_t>(hour) & 0x1Fu) << 11 |
         (static_cast<uint32_t>(minute) & 0x3Fu) << 5 | (static_cast<uint32_t>(second / 2) & 0x1Fu);
}

int PackedFileTime(const std::string& path, uint32_t& packed) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -errno;
  std::tm tm{};
  const std::time_t t = st.st_mtime;
  localtime_r(&t, &tm);
  packed = PackDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return 0;
}

}  // namespace platform
