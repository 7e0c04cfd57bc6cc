#ifndef HJ5_UPDATE_CHECK_SEQUENCE_H_
#define HJ5_UPDATE_CHECK_SEQUENCE_H_

#include "update/update_context.h"
#include "update/update_outcome.h"

namespace hj5 {

// The identity check alone: nothing on the device is changed. A refusal is
// told as the update tells it; the outcome is completed when the device
// was accepted.
UpdateOutcome CheckSequence(const UpdateContext& context);

}  // namespace hj5

#endif  // HJ5_UPDATE_CHECK_SEQUENCE_H_
