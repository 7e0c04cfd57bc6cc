#ifndef HJ5_CLI_FLEET_H_
#define HJ5_CLI_FLEET_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

#include "cli/cli_os.h"
#include "cli/output.h"
#include "cli/plan.h"

namespace hj5::cli {

struct FleetSetup {
  const Plan& plan;
  // The most devices the process's descriptors carry at a time.
  std::size_t capacity;
  Output& output;
  // Waits up to the time given for a stop signal; returns those since the
  // last call.
  std::function<StopSignals(std::chrono::milliseconds)> wait_for_interrupt;
};

struct FleetResult {
  std::vector<DeviceOutcome> outcomes;  // in the plan's order
  bool interrupted = false;
};

// Runs the plan's devices, at most plan.jobs (and the capacity) at a time,
// each with its own adapters and runner: the form's whole update, or with
// --check its identity check alone. A first Ctrl-C starts no further
// device and lets the running ones finish; a second stops them at once.
// Front end's thread.
FleetResult RunFleet(const FleetSetup& setup);

// The exit status of a run: 130 after an interrupt, else 0 when every
// device succeeded, else 1.
int ExitStatus(const FleetResult& result);

}  // namespace hj5::cli

#endif  // HJ5_CLI_FLEET_H_
