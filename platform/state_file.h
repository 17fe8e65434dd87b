// platform/state_file.h - the server's state files: the lock that keeps one server per
// folder, files replaced so that a crash leaves the old or the new one whole, and a look
// at the process's own memory for the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// Opens (creating it 0644) path and takes an exclusive lock on it without waiting; the lock
// lives as long as out. 0, -EWOULDBLOCK when another process holds it, or -errno.
[[nodiscard]] int LockFileExclusive(const std::string& path, UniqueFd& out);

// Replaces path with bytes: written to path + ".tmp", synced, renamed over path, and the
// folder synced, so after a crash path holds either the old or the new bytes whole, and
// after a return of 0 the new bytes survive a power cut. 0, or -errno (the temporary file
// is removed).
[[nodiscard]] int ReplaceFileDurably(const std::string& path, std::string_view bytes);

// Syncs the folder that holds path (a rename or a new file in it then survives a power cut).
// 0, or -errno.
[[nodiscard]] int SyncParentFolder(const std::string& path);

// Renames from to to. 0, or -errno.
[[nodiscard]] int RenameFile(const std::string& from, const std::string& to);

// True when path names an existing file (of any kind).
bool FileExists(const std::string& path);

// The size of the file at path in bytes, or -errno.
int64_t FileSize(const std::string& path);

// The resident set size of this process in kilobytes (VmRSS), or -1.
int64_t ResidentKb();

// CPU time (user + system) this process has used so far, in microseconds.
int64_t ProcessCpuMicros();

}  // namespace platform
