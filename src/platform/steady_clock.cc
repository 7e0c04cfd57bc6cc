#include "platform/steady_clock.h"

#include <chrono>

namespace hj5 {

void SteadyClock::SleepMs(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms),
                 [this] { return interrupted_; });
}

std::int64_t SteadyClock::NowSeconds() {
  using std::chrono::duration_cast;
  using std::chrono::seconds;
  using std::chrono::steady_clock;
  return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

void SteadyClock::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  wake_.notify_all();
}

}  // namespace hj5
