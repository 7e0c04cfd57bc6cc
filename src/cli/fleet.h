#ifndef HJ5_CLI_FLEET_H_
#define HJ5_CLI_FLEET_H_

#include <chrono>
#include <cstddef>
#include <functional>

#include "cli/cli_os.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "cli/run_folder.h"

namespace hj5::cli {

struct FleetSetup {
  const Plan& plan;
  // The most devices the process's descriptors carry at a time.
  std::size_t capacity;
  Output& output;
  // Waits up to the time given for a stop signal; returns those since the
  // last call.
  std::function<StopSignals(std::chrono::milliseconds)> wait_for_signals;
  // The run's folder, or null: each device's log, and its journal line as
  // it ends. With plan.resume the devices its journal says completed are
  // skipped, sent nothing at all.
  RunFolder* folder = nullptr;
};

// Runs the plan's devices, at most plan.jobs (and the capacity) at a time,
// each with its own adapters and runner, as a rollout:
//   - at most plan.max_uploads uploads at a time;
//   - the canary devices (plan.canary, the first of the list) first; the
//     rest start only once all of them succeeded, none after one failed;
//   - no device starts once more than plan.max_failures have failed, over
//     the whole run; running ones finish;
//   - a first Ctrl-C starts no further device and lets the running ones
//     finish; a second one, or a SIGTERM or SIGHUP, stops every running
//     device and recovers each that may be left in update (the failure
//     tail); a further Ctrl-C, or a termination during that, abandons them
//     at once.
// Front end's thread.
RunReport RunFleet(const FleetSetup& setup);

// The exit status of a run: the signal's (130 Ctrl-C, 143 SIGTERM, 129
// SIGHUP) after a stop signal; else 3 when the canary or the budget ended
// it; else 0 when every device succeeded; else 1.
int ExitStatus(const RunReport& report);

}  // namespace hj5::cli

#endif  // HJ5_CLI_FLEET_H_
