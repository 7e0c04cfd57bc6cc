#include "update/update_sequence.h"

#include "device/identity_check.h"
#include "update/finish_sequence.h"
#include "update/reboot_wait.h"
#include "update/step.h"

namespace hj5 {
namespace {

constexpr std::uint32_t kStepPauseMs = 1000;

// The end of a run that never switched anything on the device.
int EarlyEnd(FormOps& form, const char* text) {
  form.SetFieldText(FieldId::kNotice, "");
  form.SetFieldText(FieldId::kStatus, text);
  form.ShowBox(BoxKind::kWarning, text);
  form.SetUpdateEnabled(true);
  return 0;
}

}  // namespace

int UpdateSequence(const UpdateContext& context) {
  FormOps& form = context.form;
  form.SetFieldText(FieldId::kStatus, "Processing(0)");
  if (IdentityCheck(context) != 0) return EarlyEnd(form, "Update Failure.");
  if (!RunStep(context, kStepPauseMs, "Processing(1)", Command::kFtpOn))
    return EarlyEnd(form, kUpdateError);
  if (!RunStep(context, kStepPauseMs, "Processing(2)",
               Command::kMarkForUpdate) ||
      !RunStep(context, kStepPauseMs, "Restarting ....",
               Command::kRestartDevice) ||
      RebootWait(context) == RebootOutcome::kTimedOut ||
      !RunStep(context, 0, "Processing(3)", Command::kModeOne)) {
    FinishSequence(context, /*failed=*/true);
    return 0;
  }
  context.platform.clock.SleepMs(kStepPauseMs);
  form.SetFieldText(FieldId::kStatus, "Processing(4)");
  // A file that did not arrive makes the outcome an error, but the device
  // is still restored.
  const bool failed = form.SendFirmwareMessage() != 0;
  FinishSequence(context, failed);
  return 0;
}

}  // namespace hj5
