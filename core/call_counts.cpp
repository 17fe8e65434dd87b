// core/call_counts.cpp
#include "core/call_counts.h"

namespace core {

void CallCounts::Count(const std::string& port, const std::string& system, const std::string& result) {
  std::lock_guard lock(lock_);
  ++counts_[{port, system, result}];
}

std::vector<CallCounts::Figure> CallCounts::Snapshot() const {
  std::lock_guard lock(lock_);
  std::vector<Figure> out;
  out.reserve(counts_.size());
  for (const auto& [key, calls] : counts_) {
    out.push_back({std::get<0>(key), std::get<1>(key), std::get<2>(key), calls});
  }
  return out;
}

}  // namespace core
