#include "update/check_sequence.h"

#include "device/identity_check.h"
#include "update/update_run.h"

namespace hj5 {

UpdateOutcome CheckSequence(const UpdateContext& context) {
  UpdateRun run(context);
  run.Reached(UpdateStep::kIdentityCheck);
  if (Status identity = IdentityCheck(context.device()); !identity.ok()) {
    run.ReportError(identity);
  } else {
    run.MarkCompleted();
  }
  return run.Finish();
}

}  // namespace hj5
