#ifndef HJ5_TESTS_SUPPORT_TRANSCRIPT_H_
#define HJ5_TESTS_SUPPORT_TRANSCRIPT_H_

#include <mutex>
#include <string>
#include <vector>

namespace hj5::test {

// What the operator and the device saw, one line an event, in order. The
// fakes write into one shared transcript; tests assert it whole.
class Transcript {
 public:
  void Add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_TRANSCRIPT_H_
