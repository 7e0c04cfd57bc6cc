#include "update/restore_sequence.h"

#include "device/identity_check.h"
#include "update/finish_sequence.h"
#include "update/reboot_wait.h"
#include "update/update_run.h"

namespace hj5 {

UpdateOutcome RestoreSequence(const UpdateContext& context) {
  UpdateRun run(context);
  run.Reached(UpdateStep::kIdentityCheck);
  run.ShowStatus("Processing(0)");
  bool in_update = false;
  if (Status identity = IdentityCheck(context.device(), &in_update);
      !identity.ok()) {
    run.ReportError(identity);
    return run.Finish();
  }
  if (in_update) {
    run.FoundInUpdate();
    FinishSequence(run, /*failed=*/true);
  }
  return run.Finish();
}

UpdateOutcome RecoverySequence(const UpdateContext& context,
                               bool restart_pending) {
  UpdateRun run(context);
  run.MayBeSwitched();
  // A device still restarting would refuse FTP off: it is waited for first,
  // and then the tail follows whatever the wait found, as it does in the
  // update.
  if (restart_pending) RebootWait(run, UpdateStep::kFirstWait);
  FinishSequence(run, /*failed=*/true);
  return run.Finish();
}

}  // namespace hj5
