#ifndef HJ5_DEVICE_IDENTITY_CHECK_H_
#define HJ5_DEVICE_IDENTITY_CHECK_H_

#include "device/command_exchange.h"

namespace hj5 {

// Asks the device who it is. Accepts it when the reply contains the
// session's device code or "UPDATE" (left behind by an update that did not
// finish). Tells the operator of every failure with one box. Returns 0 when
// the device is accepted, -1 otherwise. Worker thread.
int IdentityCheck(const UpdateContext& context);

}  // namespace hj5

#endif  // HJ5_DEVICE_IDENTITY_CHECK_H_
