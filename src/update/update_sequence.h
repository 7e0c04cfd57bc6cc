#ifndef HJ5_UPDATE_UPDATE_SEQUENCE_H_
#define HJ5_UPDATE_UPDATE_SEQUENCE_H_

#include "device/update_context.h"

namespace hj5 {

// The worker's procedure: identity check, FTP on, update mark, restart, wait,
// mode one, upload (message 102), then the finish sequence. Returns 0 on
// every path; everything is told to the operator through the form.
int UpdateSequence(const UpdateContext& context);

}  // namespace hj5

#endif  // HJ5_UPDATE_UPDATE_SEQUENCE_H_
