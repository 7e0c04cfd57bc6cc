#ifndef HJ5_UPDATE_UPDATE_SEQUENCE_H_
#define HJ5_UPDATE_UPDATE_SEQUENCE_H_

#include "update/update_context.h"
#include "update/update_outcome.h"

namespace hj5 {

// The worker's procedure: identity check, FTP on, update mark, restart, wait,
// mode one, upload (message 102), then the finish sequence. Everything is
// told to the operator through the form; the outcome is returned beside it.
UpdateOutcome UpdateSequence(const UpdateContext& context);

}  // namespace hj5

#endif  // HJ5_UPDATE_UPDATE_SEQUENCE_H_
