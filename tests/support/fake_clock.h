#ifndef HJ5_TESTS_SUPPORT_FAKE_CLOCK_H_
#define HJ5_TESTS_SUPPORT_FAKE_CLOCK_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace hj5::test {

// A clock whose sleeps advance virtual time at once.
class FakeClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override { now_ms_ += ms; }
  std::int64_t NowSeconds() override { return now_ms_ / 1000; }
  void Interrupt() override { interrupted_ = true; }

  void Advance(std::int64_t ms) { now_ms_ += ms; }
  std::int64_t now_ms() const { return now_ms_; }
  bool interrupted() const { return interrupted_; }
  // "12.345": the virtual time in seconds, for transcripts.
  std::string Stamp() const;

 private:
  std::atomic<std::int64_t> now_ms_{0};
  std::atomic<bool> interrupted_{false};
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_FAKE_CLOCK_H_
