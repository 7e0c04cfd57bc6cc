#ifndef HJ5_CLI_DEVICE_RUN_H_
#define HJ5_CLI_DEVICE_RUN_H_

#include <memory>

#include "cli/output.h"
#include "cli/plan.h"
#include "cli/run_folder.h"
#include "cli/terminal_form.h"
#include "cli/upload_gate.h"
#include "launch/product_platform.h"
#include "update/update_runner.h"

namespace hj5::cli {

// One device's run: its own adapters, its terminal form and its runner for
// the update (or the check, or the repair), and after a stop that restores,
// a second set for the recovery.
// Threading: the front end's thread, but for Stop() and Abandon(), which may
// run on threads of their own (one per device).
class DeviceRun {
 public:
  // `log` (may be null) gets every event; `gate` (may be null) holds the
  // upload until its place is free.
  DeviceRun(const PlannedDevice& device, const Plan& plan, Output& output,
            std::unique_ptr<DeviceLog> log, UploadGate* gate);
  ~DeviceRun();
  DeviceRun(const DeviceRun&) = delete;
  DeviceRun& operator=(const DeviceRun&) = delete;

  // False when no worker could be started.
  bool Start();
  bool Ended() const;
  void Tick(TerminalForm::Clock::time_point now);
  LiveRow Row() const;

  // Stops the update at once: every wait interrupted, an upload aborted,
  // the worker joined.
  void Stop();
  // After Stop(): when the device may be left with FTP on or user9
  // "UPDATE", starts the recovery (the failure tail, after waiting for a
  // device that may still be restarting). True when one started.
  bool Recover();
  // Stops whatever still runs at once, the recovery included.
  void Abandon();

  // How it ended; once Ended().
  DeviceOutcome Outcome() const;

 private:
  struct Leg;

  const PlannedDevice& device_;
  const Plan& plan_;
  Output& output_;
  const std::unique_ptr<DeviceLog> log_;
  std::unique_ptr<Leg> run_;
  std::unique_ptr<Leg> recovery_;
  bool started_ = false;
  bool stopped_ = false;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_DEVICE_RUN_H_
