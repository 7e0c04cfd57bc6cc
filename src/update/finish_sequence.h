#ifndef HJ5_UPDATE_FINISH_SEQUENCE_H_
#define HJ5_UPDATE_FINISH_SEQUENCE_H_

#include "update/update_run.h"

namespace hj5 {

// The tail of every update past switching FTP on: FTP off, the device code
// back into user9, restart, wait, and the outcome told to the operator.
// `failed` is set when anything before went wrong; the outcome is then never
// "Update completed.". Enables control 1009 at every end. Worker thread.
void FinishSequence(UpdateRun& run, bool failed);

}  // namespace hj5

#endif  // HJ5_UPDATE_FINISH_SEQUENCE_H_
