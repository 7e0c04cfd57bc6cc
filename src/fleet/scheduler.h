#ifndef HJ5_FLEET_SCHEDULER_H_
#define HJ5_FLEET_SCHEDULER_H_

#include <cstddef>

#include "fleet/device_run.h"
#include "fleet/fleet_clock.h"
#include "fleet/observer.h"
#include "fleet/outcome.h"
#include "fleet/plan.h"
#include "fleet/run_record.h"

namespace hj5::fleet {

struct FleetSetup {
  const Plan& plan;
  // The most devices the process's descriptors carry at a time.
  std::size_t capacity;
  FleetClock& clock;
  StopSource& stops;
  DeviceRuns& runs;
  RunObserver& observer;
  // The run's folder, or null: each device's log and its journal line as
  // it ends. With plan.resume the devices whose update completed before
  // are skipped, sent nothing at all.
  RunRecord* record = nullptr;
  // How many running devices' lines each Progress carries.
  std::size_t live_rows = 0;
};

// Runs the plan's devices, at most plan.jobs (and the capacity) at a time,
// as a rollout:
//   - the canary devices (plan.canary, the first of the list) first; the
//     rest start only once all of them succeeded, none after one failed;
//   - no device starts once more than plan.max_failures have failed, over
//     the whole run, or once a journal line could not be written; running
//     ones finish;
//   - a first interrupt starts no further device and lets the running ones
//     finish; a second one, or a termination, stops every running device
//     and restores each that may be left in update (the failure tail); a
//     further interrupt, or a termination during that, abandons them at
//     once.
// Engine's thread (the front end's); returns once every device's worker
// has ended and the record's result files are written.
RunReport RunFleet(const FleetSetup& setup);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_SCHEDULER_H_
