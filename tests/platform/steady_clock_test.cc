#include "platform/steady_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace hj5 {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(SteadyClockTest, SleepLastsAtLeastItsTime) {
  SteadyClock clock;
  auto start = steady_clock::now();
  clock.SleepMs(50);
  EXPECT_GE(steady_clock::now() - start, milliseconds(50));
}

TEST(SteadyClockTest, InterruptEndsASleepInProgressAndEveryLaterOne) {
  SteadyClock clock;
  std::thread interrupter([&] {
    std::this_thread::sleep_for(milliseconds(100));
    clock.Interrupt();
  });
  auto start = steady_clock::now();
  clock.SleepMs(60'000);
  interrupter.join();
  clock.SleepMs(60'000);
  // Generous bound: only a sleep that was not cut short comes near it.
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(SteadyClockTest, SecondsFollowTheSteadyClock) {
  SteadyClock clock;
  std::int64_t before = clock.NowSeconds();
  clock.SleepMs(1100);
  std::int64_t after = clock.NowSeconds();
  EXPECT_GE(after - before, 1);
  EXPECT_LE(after - before, 3);
}

}  // namespace
}  // namespace hj5
