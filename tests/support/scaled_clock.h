#ifndef HJ5_TESTS_SUPPORT_SCALED_CLOCK_H_
#define HJ5_TESTS_SUPPORT_SCALED_CLOCK_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/clock.h"

namespace hj5::test {

// Real time run faster: `scale` virtual seconds pass in each real second.
// Sleeps are real (shortened) and interruptible, so a run against a real
// device keeps the order and spacing of its traffic at a fraction of the
// time.
class ScaledClock final : public Clock {
 public:
  explicit ScaledClock(double scale)
      : scale_(scale), start_(std::chrono::steady_clock::now()) {}

  void SleepMs(std::uint32_t ms) override {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::duration<double, std::milli>(ms / scale_),
                   [this] { return interrupted_; });
  }
  std::int64_t NowSeconds() override {
    std::chrono::duration<double> real =
        std::chrono::steady_clock::now() - start_;
    return static_cast<std::int64_t>(real.count() * scale_);
  }
  void Interrupt() override {
    {
      std::lock_guard lock(mutex_);
      interrupted_ = true;
    }
    wake_.notify_all();
  }

 private:
  const double scale_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool interrupted_ = false;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_SCALED_CLOCK_H_
