// platform/state_file.cpp - flock(2), fsync(2) and rename(2) for the state files.
#include "platform/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace platform {

int LockFileExclusive(const std::string& path, UniqueFd& out) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.Valid()) return -errno;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    return err == EWOULDBLOCK ? -EWOULDBLOCK : -err;
  }
  out = std::move(fd);
  return 0;
}

int SyncParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) return -errno;
  if (::fsync(dir.Get()) != 0) return -errno;
  return 0;
}

int ReplaceFileDurably(const std::string& path, std::string_view bytes) {
  const std::string temp = path + ".tmp";
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.Valid()) return -errno;
  auto fail = [&temp](int err) {
    ::unlink(temp.c_str());
    return -err;
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.Get()) != 0) return fail(errno);
  if (::close(fd.Release()) != 0) return fail(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail(errno);
  return SyncParentFolder(path);
}

int RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : -errno;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -errno;
  return static_cast<int64_t>(st.st_size);
}

int64_t ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6);
  }
  return -1;
}

int64_t ProcessCpuMicros() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000 + usage.ru_utime.tv_usec +
         usage.ru_stime.tv_usec;
}

}  // namespace platform
