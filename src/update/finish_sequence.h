#ifndef HJ5_UPDATE_FINISH_SEQUENCE_H_
#define HJ5_UPDATE_FINISH_SEQUENCE_H_

#include "device/update_context.h"

namespace hj5 {

inline constexpr const char* kUpdateCompleted = "Update completed.";
inline constexpr const char* kUpdateError =
    "An error occurred during the updating process.";

// The tail of every update past switching FTP on: FTP off, the device code
// back into user9, restart, wait, and the outcome told to the operator.
// `failed` is set when anything before went wrong; the outcome is then never
// "Update completed.". Returns 0 when its three commands went through, -1
// otherwise. Enables control 1009 at every end. Worker thread.
int FinishSequence(const UpdateContext& context, bool failed);

}  // namespace hj5

#endif  // HJ5_UPDATE_FINISH_SEQUENCE_H_
