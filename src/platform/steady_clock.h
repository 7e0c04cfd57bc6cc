#ifndef HJ5_PLATFORM_STEADY_CLOCK_H_
#define HJ5_PLATFORM_STEADY_CLOCK_H_

#include <condition_variable>
#include <mutex>

#include "platform/clock.h"

namespace hj5 {

// The product's clock: std::chrono::steady_clock, sleeps on a condition
// variable so that Interrupt() ends them at once.
class SteadyClock final : public Clock {
 public:
  SteadyClock() = default;

  void SleepMs(std::uint32_t ms) override;
  std::int64_t NowSeconds() override;
  void Interrupt() override;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool interrupted_ = false;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_STEADY_CLOCK_H_
