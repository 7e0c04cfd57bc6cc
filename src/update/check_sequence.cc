#include "update/check_sequence.h"

#include "device/identity_check.h"
#include "update/update_run.h"

namespace hj5 {

UpdateOutcome CheckSequence(const UpdateContext& context) {
  UpdateRun run(context);
  run.Reached(UpdateStep::kIdentityCheck);
  bool in_update = false;
  if (Status identity = IdentityCheck(context.device(), &in_update);
      !identity.ok()) {
    run.ReportError(identity);
  } else {
    if (in_update) run.FoundInUpdate();
    run.MarkCompleted();
  }
  return run.Finish();
}

}  // namespace hj5
