// common/config_path.cpp - the configuration folder: option, environment, current folder.
#include "common/config_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace common {

namespace {

std::mutex gMutex;
std::string gConfigDir;

// What follows the option word: "-cDIR" or "--config=DIR" carry the folder themselves.
bool SplitOption(std::string_view arg, std::string_view& inlineValue, bool& takesNext) {
  takesNext = false;
  if (arg == "-c" || arg == "--config") {
    takesNext = true;
    return true;
  }
  if (arg.starts_with("--config=")) {
    inlineValue = arg.substr(9);
    return true;
  }
  if (arg.starts_with("-c") && !arg.starts_with("--")) {
    inlineValue = arg.substr(2);
    return true;
  }
  return false;
}

bool IsReadableFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(path.c_str(), R_OK | X_OK) == 0;
}

}  // namespace

int TakeConfigDirOption(int argc, char** argv) {
  if (argc < 2 || argv == nullptr || argv[1] == nullptr) return argc;
  std::string_view value;
  bool takesNext = false;
  if (!SplitOption(argv[1], value, takesNext)) return argc;
  const char* program = argv[0] != nullptr ? argv[0] : "corvel";
  int used = 1;
  if (takesNext) {
    if (argc < 3 || argv[2] == nullptr) {
      std::fprintf(stderr, "%s: %s needs the configuration folder after it\n", program, argv[1]);
      return -1;
    }
    value = argv[2];
    used = 2;
  }
  const std::string dir(value);
  if (dir.empty() || !IsReadableFolder(dir)) {
    std::fprintf(stderr, "%s: configuration folder '%s' is not a folder this program can read\n", program, dir.c_str());
    return -1;
  }
  SetConfigDir(dir);
  for (int i = 1; i + used <= argc; ++i) argv[i] = argv[i + used];  // argv[argc] is null: moved too
  return argc - used;
}

void SetConfigDir(std::string_view dir) {
  std::lock_guard lock(gMutex);
  gConfigDir = dir;
}

std::string ConfigDir() {
  {
    std::lock_guard lock(gMutex);
    if (!gConfigDir.empty()) return gConfigDir;
  }
  const char* env = std::getenv(std::string(kConfigDirVariable).c_str());
  return env != nullptr ? std::string(env) : std::string();
}

std::string ConfigFile(std::string_view name) {
  if (name.starts_with('/')) return std::string(name);  // a caller that names the whole path keeps it
  std::string dir = ConfigDir();
  if (dir.empty()) return std::string(name);
  if (dir.back() != '/') dir += '/';
  return dir + std::string(name);
}

}  // namespace common
