#ifndef HJ5_PLATFORM_CLOCK_H_
#define HJ5_PLATFORM_CLOCK_H_

#include <cstdint>

namespace hj5 {

// Time for the update procedure.
//
// Threading: SleepMs() and NowSeconds() are called by the worker thread;
// Interrupt() may be called from any thread.
class Clock {
 public:
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;

  // Sleeps `ms` milliseconds. Returns early once Interrupt() has been called,
  // and every later sleep returns at once.
  virtual void SleepMs(std::uint32_t ms) = 0;

  // Whole seconds from a steady clock (not the wall time: a change of the
  // system time neither ends a wait early nor stretches it).
  virtual std::int64_t NowSeconds() = 0;

  // Ends the sleep in progress and every later one. Never blocks.
  virtual void Interrupt() = 0;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_CLOCK_H_
