// platform/file_stamp.h - file modification stamps in the packed date-and-time form.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The packed local date and time of a file's last change: bits 0-4 seconds/2, 5-10 minutes,
// 11-15 hours, 16-20 day, 21-24 month, 25-31 years since 1980. Returns 0 and sets packed,
// or -errno when the file cannot be examined.
[[nodiscard]] int PackedFileTime(const std::string& path, uint32_t& packed);

// Packed form of a broken-down local time (the same layout as PackedFileTime).
uint32_t PackDateTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace platform
