#ifndef HJ5_CLI_DEVICE_RUN_H_
#define HJ5_CLI_DEVICE_RUN_H_

#include "cli/output.h"
#include "cli/plan.h"
#include "cli/terminal_form.h"
#include "launch/product_platform.h"
#include "update/update_runner.h"

namespace hj5::cli {

// One device's update: its own adapters, its terminal form and its runner.
// Front end's thread, but for Stop(), which may run on a thread of its own.
class DeviceRun {
 public:
  DeviceRun(const PlannedDevice& device, const Plan& plan, Output& output);
  DeviceRun(const DeviceRun&) = delete;
  DeviceRun& operator=(const DeviceRun&) = delete;

  // False when no worker could be started.
  bool Start();
  bool Ended() const;
  void Tick(TerminalForm::Clock::time_point now) { form_.Tick(now); }
  LiveRow Row() const { return {device_.label, form_.view()}; }
  // Stops the update at once (every wait interrupted, the worker joined).
  void Stop();
  // How it ended; once Ended().
  DeviceOutcome Outcome() const;

 private:
  const PlannedDevice& device_;
  const Plan& plan_;
  ProductPlatform platform_;
  TerminalForm form_;
  bool started_ = false;
  UpdateRunner runner_;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_DEVICE_RUN_H_
