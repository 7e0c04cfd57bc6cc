#ifndef HJ5_UPDATE_UPDATE_OUTCOME_H_
#define HJ5_UPDATE_UPDATE_OUTCOME_H_

#include <vector>

#include "platform/status.h"

namespace hj5 {

// The steps of an update, in the order they run.
enum class UpdateStep {
  kNone,               // nothing was done
  kIdentityCheck,      // "Processing(0)"
  kFtpOn,              // "Processing(1)"
  kMarkForUpdate,      // "Processing(2)"
  kFirstRestart,       // "Restarting ...."
  kFirstWait,          // the counter runs
  kModeOne,            // "Processing(3)"
  kUpload,             // "Processing(4)", message 102
  kFtpOff,             // "Processing(6)"
  kRestoreDeviceCode,  // "Processing(7)"
  kSecondRestart,      // "Restarting ...."
  kSecondWait,         // the counter runs
};

// A short name for output and logs: "identity check", "FTP on", ...
const char* StepName(UpdateStep step);

// How an update ended, beside what the operator was shown.
struct UpdateOutcome {
  // Every step went through, the file was stored, and the device answered
  // after its last restart: the operator was told "Update completed." in an
  // information box.
  bool completed = false;
  // The last step begun.
  UpdateStep reached = UpdateStep::kNone;
  // FTP on or the update mark was sent, and the commands that undo them
  // (FTP off, the device code back, the restart that applies them) did not
  // all go through: the device may be left with its FTP server on or
  // user9 "UPDATE".
  bool may_be_left_in_update = false;
  // A restart was sent and the device answered after the last one.
  bool answered_after_restart = false;
  // A restart was sent and the device has not answered since: it may still
  // be restarting.
  bool restart_pending = false;
  // The upload began sending the file and did not end stored: the device
  // may hold part of it.
  bool partial_upload = false;
  // The identity check found the device left in update by an earlier run:
  // its reply held "UPDATE" and not the device code.
  bool found_in_update = false;
  // The runner stopped the update before its end.
  bool stopped = false;
  // What the operator was told went wrong, in order: each warning box's
  // text with its cause.
  std::vector<Status> failures;
};

}  // namespace hj5

#endif  // HJ5_UPDATE_UPDATE_OUTCOME_H_
