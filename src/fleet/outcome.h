#ifndef HJ5_FLEET_OUTCOME_H_
#define HJ5_FLEET_OUTCOME_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fleet/plan.h"
#include "update/update_outcome.h"

namespace hj5::fleet {

// How one device ended, as its mode counts it.
enum class Result {
  kNotStarted,
  kCompleted,        // update: "Update completed." and it answered
  kFailed,           // update: anything else
  kCompletedBefore,  // resumed: its journal says it completed this file
  kAccepted,         // check: accepted and not left in update
  kInUpdate,         // check: found left in update by an earlier run
  kRefused,          // check, restore: the identity check refused it
  kNotInUpdate,      // restore: nothing to repair
  kRestored,         // restore, or a stop: put back and answered
  kNotRestored,      // restore: the repair did not go through
  kStopped,          // a stop ended it, and it was not restored
};

// The word of a result in every output and file: "completed", "not
// started", ...
const char* ResultName(Result result);
std::optional<Result> ResultNamed(const std::string& name);

// What a device's run handed back, before it is judged.
struct DeviceLegs {
  bool started = false;  // its worker started
  std::optional<UpdateOutcome> update;
  std::string status;  // the status line's last text
  // After a stop that restores, when one was started.
  bool recovered = false;
  std::optional<UpdateOutcome> recovery;
  std::string recovery_status;
};

struct DeviceOutcome {
  std::string device;  // its label
  Result result = Result::kNotStarted;
  std::string text;  // the last status, or the box that refused it
  bool succeeded = false;
  std::optional<UpdateOutcome> update;    // none when it never started
  std::optional<UpdateOutcome> recovery;  // after a stop that restores
  double seconds = 0;                     // how long it ran

  bool started() const { return result != Result::kNotStarted; }
  // The device may be left with FTP on or user9 "UPDATE".
  bool left_in_update() const {
    if (recovery) return recovery->may_be_left_in_update;
    return update && update->may_be_left_in_update;
  }
  // The device may hold part of the file.
  bool partial_upload() const { return update && update->partial_upload; }
};

// Judges what a device's run handed back, as `mode` counts it.
DeviceOutcome Judge(RunMode mode, const std::string& device,
                    const DeviceLegs& legs);

// Why no further device started.
enum class HaltReason {
  kCanary,   // a canary failed
  kBudget,   // more devices failed than the budget bears
  kRecord,   // the run's record could not be written
  kWindow,   // the maintenance window closed
  kDrain,    // a first Ctrl-C: the running devices finish
  kRestore,  // a second Ctrl-C or a termination: stop and restore
  kAbandon,  // a further one: everything stopped at once
};

struct Halt {
  HaltReason reason = HaltReason::kCanary;
  std::size_t running = 0;  // devices running when it came
  std::size_t failed = 0;   // devices failed so far (kBudget)
  std::size_t allowed = 0;  // the budget (kBudget)
  std::string device;       // the canary that failed (kCanary)
  std::string cause;        // why the record failed (kRecord)
};

// How a run ended.
struct RunReport {
  RunMode mode = RunMode::kUpdate;
  std::vector<DeviceOutcome> outcomes;  // in the plan's order
  // What ended it before every device had its turn (kCanary, kBudget,
  // kWindow), if anything did.
  std::optional<HaltReason> stop;
  std::optional<std::size_t> max_failures;
  bool interrupted = false;  // by Ctrl-C, SIGTERM, SIGHUP or the web page
  int signal_status = 0;     // 130, 143 or 129 after one; else 0
  // Why the run's folder is incomplete; empty when it is whole.
  std::string record_failure;
  // How long the last devices ran on after the window closed.
  double window_overrun_seconds = 0;

  std::size_t Count(bool started, bool succeeded) const;
};

// The exit statuses of hj5-update.
namespace exit_status {
inline constexpr int kAllSucceeded = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kRefused = 2;
inline constexpr int kHalted = 3;            // canary or failure budget
inline constexpr int kRecordIncomplete = 4;  // the run's folder lacks lines
inline constexpr int kWindowClosed = 5;      // the rest waits for a window
}  // namespace exit_status

// The exit status of a run: the signal's (130 Ctrl-C, 143 SIGTERM, 129
// SIGHUP) after a stop; else 4 when the run's folder is incomplete; else 3
// when the canary or the budget ended it; else 1 when a device failed;
// else 5 when the window ended it; else 0.
int ExitStatus(const RunReport& report);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_OUTCOME_H_
