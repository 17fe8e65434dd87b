// platform/pipe_path.cpp - the pipe's path rule and the check of its folder.
#include "platform/pipe_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

std::string Join(const std::string& folder, const char* name) { return folder + "/" + name; }

bool IsSocket(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// The system folder is ours when we own it (the service, given it by systemd) or when we
// may create it (root).
bool SystemFolderUsable(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  return errno == ENOENT && ::access(PipeFolderOf(folder).c_str(), W_OK) == 0;
}

}  // namespace

std::string PrivatePipeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return Join(runtime, "corvel");
  return "/tmp/corvel-" + std::to_string(::geteuid());
}

std::string PipePath() {
  const char* env = std::getenv("CORVEL_PIPE");
  return ChoosePipePath({env != nullptr ? env : "", kSystemPipeFolder, PrivatePipeFolder()});
}

std::string ChoosePipePath(const PipePlaces& places) {
  if (!places.Named.empty()) return places.Named;
  const std::string system = Join(places.SystemFolder, kPipeFileName);
  if (IsSocket(system) || SystemFolderUsable(places.SystemFolder)) return system;
  return Join(places.PrivateFolder, kPipeFileName);
}

int CheckPipeFolder(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return -ENOTDIR;
  if (S_ISLNK(st.st_mode)) return -ELOOP;
  if (!S_ISDIR(st.st_mode)) return -ENOTDIR;
  if (st.st_uid != ::geteuid()) return -EPERM;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return -EACCES;
  return 0;
}

std::string PipeFolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace platform
