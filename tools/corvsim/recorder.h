// tools/corvsim/recorder.h - the record file shared by the network terminals' connections,
// which run side by side: one whole line per append, in the order the lines are made.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace corvsim {

class Recorder {
 public:
  explicit Recorder(std::string path) : path_(std::move(path)) {}
  void Append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* f = std::fopen(path_.c_str(), "a");
    if (f == nullptr) {
      std::fprintf(stderr, "corvsim: cannot append to %s\n", path_.c_str());
      return;
    }
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }

 private:
  std::mutex mutex_;
  std::string path_;
};

}  // namespace corvsim
