#include "device/cause_log.h"

#include <utility>

namespace hj5 {

void CauseLog::Add(std::string text, std::string cause) {
  std::lock_guard lock(mutex_);
  if (entries_.size() < kMaxEntries)
    entries_.push_back({std::move(text), std::move(cause)});
}

std::vector<CauseLog::Entry> CauseLog::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void CauseLog::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

}  // namespace hj5
