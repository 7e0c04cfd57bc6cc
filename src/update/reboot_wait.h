#ifndef HJ5_UPDATE_REBOOT_WAIT_H_
#define HJ5_UPDATE_REBOOT_WAIT_H_

#include <cstdint>

#include "update/update_run.h"

namespace hj5 {

enum class RebootOutcome {
  kAnswered,     // a probe was answered
  kTimedOut,     // more than 60 s without an answer; "Reboot Time out." shown
  kPollsUsedUp,  // 60 unanswered polls within the 60 s
};

inline constexpr std::uint32_t kFirstProbeDelayMs = 5000;
inline constexpr std::uint32_t kProbeIntervalMs = 1000;
inline constexpr int kMaxProbes = 60;
inline constexpr std::int64_t kRebootLimitSeconds = 60;

// Waits for a restarting device (the run's `step`): starts the restart
// counter, waits 5 s, then probes silently once a second, at most 60 times.
// The time limit is tested only after an unanswered probe. Stops the
// counter at every end. Worker thread.
RebootOutcome RebootWait(UpdateRun& run, UpdateStep step);

}  // namespace hj5

#endif  // HJ5_UPDATE_REBOOT_WAIT_H_
