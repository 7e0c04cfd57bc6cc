#include "update/finish_sequence.h"

#include "device/failure_codes.h"
#include "update/reboot_wait.h"

namespace hj5 {
namespace {

// A command of the tail failed: the device keeps the state it has reached.
void FailureTail(UpdateRun& run, int code, const char* step_error) {
  run.ReportError(Status::Failure(code, step_error, ""));
  run.EndInError();
}

// The device did not answer after the restart: the operator restarts it.
void ReportNotBack(UpdateRun& run, bool failed) {
  FormOps& form = run.form();
  form.SetFieldText(FieldId::kNotice, "");
  run.ShowStatus(failed ? kUpdateError : kUpdateCompleted);
  if (failed) run.Warn(failure_code::kUpdateError, kUpdateError);
  form.ShowBox(BoxKind::kInformation, "Please restart HJ-5.", "");
  form.SetUpdateEnabled(true);
}

}  // namespace

void FinishSequence(UpdateRun& run, bool failed) {
  if (!run.Step(UpdateStep::kFtpOff, 0, "Processing(6)", Command::kFtpOff))
    return FailureTail(run, failure_code::kFtpOffStep, "Processing(6) Error.");
  if (!run.Step(UpdateStep::kRestoreDeviceCode, kStepPauseMs, "Processing(7)",
                Command::kRestoreDeviceCode))
    return FailureTail(run, failure_code::kRestoreStep, "Processing(7) Error.");
  if (!run.Step(UpdateStep::kSecondRestart, kStepPauseMs, "Restarting ....",
                Command::kRestartDevice))
    return FailureTail(run, failure_code::kRestartStep,
                       "Restart Command Error.");
  if (RebootWait(run, UpdateStep::kSecondWait) != RebootOutcome::kAnswered)
    return ReportNotBack(run, failed);
  if (failed) return run.EndInError();
  run.MarkCompleted();
  run.End(BoxKind::kInformation, kUpdateCompleted);
}

}  // namespace hj5
