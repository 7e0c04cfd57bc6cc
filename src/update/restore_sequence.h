#ifndef HJ5_UPDATE_RESTORE_SEQUENCE_H_
#define HJ5_UPDATE_RESTORE_SEQUENCE_H_

#include "update/update_context.h"
#include "update/update_outcome.h"

namespace hj5 {

// The repair of a device an earlier run left in update: the identity check,
// and only on a device found left in update the update's own failure tail
// without an upload (FTP off, the device code back, restart, wait). Any
// other device gets nothing but the identity query. The device counts as
// restored when the outcome no longer says it may be left in update and it
// answered after the restart.
UpdateOutcome RestoreSequence(const UpdateContext& context);

// After an update was stopped with its device possibly left in update: the
// same failure tail at once, after waiting for the device to answer when it
// may still be restarting (`restart_pending`).
UpdateOutcome RecoverySequence(const UpdateContext& context,
                               bool restart_pending);

}  // namespace hj5

#endif  // HJ5_UPDATE_RESTORE_SEQUENCE_H_
