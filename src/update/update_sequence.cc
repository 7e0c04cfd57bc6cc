#include "update/update_sequence.h"

#include "device/identity_check.h"
#include "update/finish_sequence.h"
#include "update/reboot_wait.h"

namespace hj5 {
namespace {

void Update(UpdateRun& run) {
  run.Reached(UpdateStep::kIdentityCheck);
  run.ShowStatus("Processing(0)");
  bool in_update = false;
  const Status identity = IdentityCheck(run.context().device(), &in_update);
  if (!identity.ok()) {
    run.ReportError(identity);
    return run.End(BoxKind::kWarning, "Update Failure.",
                   failure_code::kUpdateFailure);
  }
  if (in_update) run.FoundInUpdate();
  if (!run.Step(UpdateStep::kFtpOn, kStepPauseMs, "Processing(1)",
                Command::kFtpOn))
    return run.EndInError();
  if (!run.Step(UpdateStep::kMarkForUpdate, kStepPauseMs, "Processing(2)",
                Command::kMarkForUpdate) ||
      !run.Step(UpdateStep::kFirstRestart, kStepPauseMs, "Restarting ....",
                Command::kRestartDevice) ||
      RebootWait(run, UpdateStep::kFirstWait) == RebootOutcome::kTimedOut ||
      !run.Step(UpdateStep::kModeOne, 0, "Processing(3)", Command::kModeOne))
    return FinishSequence(run, /*failed=*/true);
  run.Reached(UpdateStep::kUpload);
  run.context().platform.clock.SleepMs(kStepPauseMs);
  run.ShowStatus("Processing(4)");
  // A file that did not arrive makes the outcome an error, but the device
  // is still restored. The upload's handler showed its own box.
  const Status sent = run.form().SendFirmwareMessage();
  run.Keep(sent);
  if (!sent.ok() && run.context().platform.ftp.BytesSent() > 0) run.UploadCut();
  FinishSequence(run, /*failed=*/!sent.ok());
}

}  // namespace

UpdateOutcome UpdateSequence(const UpdateContext& context) {
  UpdateRun run(context);
  Update(run);
  return run.Finish();
}

}  // namespace hj5
