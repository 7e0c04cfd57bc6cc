#ifndef HJ5_TESTS_E2E_PACED_CLOCK_H_
#define HJ5_TESTS_E2E_PACED_CLOCK_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace hj5::test {

// Real time run `scale` times faster, with exact pauses. A pause of N ms
// takes N / scale real milliseconds and moves the clock on by exactly N ms.
// The time between two pauses counts `scale` times over, less a `grace` per
// stretch: an exchange that ends at once (a refusal, a quick reply, a few
// real milliseconds) counts as instantaneous, as it nearly is without
// scaling, while an exchange that runs into its limit counts in full.
//
// Why not scale everything: 60 polls refused in 2 ms each add 2.4 virtual
// seconds at scale 20 (0.12 s without scaling), enough to turn "polls used
// up" into "Reboot Time out." and make the ending of a wait depend on the
// machine's load.
//
// Threading: SleepMs() and NowSeconds() on the worker; Interrupt() anywhere.
class PacedClock final : public Clock {
 public:
  PacedClock(double scale, std::chrono::milliseconds grace)
      : scale_(scale), grace_(grace), mark_(Now()) {}

  void SleepMs(std::uint32_t ms) override {
    std::unique_lock lock(mutex_);
    virtual_ms_ += StretchMs();
    wake_.wait_for(lock, Real(ms / scale_), [this] { return interrupted_; });
    virtual_ms_ += ms;
    mark_ = Now();
  }

  std::int64_t NowSeconds() override {
    std::lock_guard lock(mutex_);
    return static_cast<std::int64_t>((virtual_ms_ + StretchMs()) / 1000.0);
  }

  void Interrupt() override {
    {
      std::lock_guard lock(mutex_);
      interrupted_ = true;
    }
    wake_.notify_all();
  }

 private:
  using Real = std::chrono::duration<double, std::milli>;

  static std::chrono::steady_clock::time_point Now() {
    return std::chrono::steady_clock::now();
  }

  // Virtual milliseconds of the stretch since the last pause.
  double StretchMs() const {
    const double beyond = Real(Now() - mark_ - grace_).count();
    return beyond > 0 ? beyond * scale_ : 0.0;
  }

  const double scale_;
  const std::chrono::milliseconds grace_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::chrono::steady_clock::time_point mark_;
  double virtual_ms_ = 0;
  bool interrupted_ = false;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_E2E_PACED_CLOCK_H_
