#include "update/finish_sequence.h"

#include "device/report.h"
#include "update/reboot_wait.h"
#include "update/step.h"

namespace hj5 {
namespace {

void SetStatus(FormOps& form, const std::string& text) {
  form.SetFieldText(FieldId::kStatus, text);
}

void SetNotice(FormOps& form, const std::string& text) {
  form.SetFieldText(FieldId::kNotice, text);
}

// A command of the tail failed: the device keeps the state it has reached.
int FailureTail(FormOps& form) {
  SetNotice(form, "");
  SetStatus(form, kUpdateError);
  form.ShowBox(BoxKind::kWarning, kUpdateError);
  form.SetUpdateEnabled(true);
  return -1;
}

// The device answered after the restart.
void ReportAnswered(FormOps& form, bool failed) {
  SetNotice(form, "");
  SetStatus(form, failed ? kUpdateError : kUpdateCompleted);
  form.ShowBox(failed ? BoxKind::kWarning : BoxKind::kInformation,
               failed ? kUpdateError : kUpdateCompleted);
}

// The device did not answer after the restart: the operator restarts it.
void ReportNotBack(FormOps& form, bool failed) {
  SetNotice(form, "");
  if (failed) {
    SetStatus(form, kUpdateError);
    form.ShowBox(BoxKind::kWarning, kUpdateError);
  } else {
    SetStatus(form, kUpdateCompleted);
  }
  form.ShowBox(BoxKind::kInformation, "Please restart HJ-5.");
}

}  // namespace

int FinishSequence(const UpdateContext& context, bool failed) {
  FormOps& form = context.form;
  if (!RunStep(context, 0, "Processing(6)", Command::kFtpOff)) {
    ReportError(form, "Processing(6) Error.");
    return FailureTail(form);
  }
  if (!RunStep(context, 1000, "Processing(7)", Command::kRestoreDeviceCode)) {
    ReportError(form, "Processing(7) Error.");
    return FailureTail(form);
  }
  if (!RunStep(context, 1000, "Restarting ....", Command::kRestartDevice)) {
    ReportError(form, "Restart Command Error.");
    return FailureTail(form);
  }
  if (RebootWait(context) == RebootOutcome::kAnswered) {
    ReportAnswered(form, failed);
  } else {
    ReportNotBack(form, failed);
  }
  form.SetUpdateEnabled(true);
  return 0;
}

}  // namespace hj5
