#ifndef HJ5_DEVICE_IDENTITY_CHECK_H_
#define HJ5_DEVICE_IDENTITY_CHECK_H_

#include "device/device_link.h"
#include "platform/status.h"

namespace hj5 {

// Asks the device who it is. Accepts it when the reply contains the
// session's device code or "UPDATE" (left behind by an update that did not
// finish). A refusal carries the operator's text ("Device Code Error.",
// "Login ID Error!!", "Communication Error(...)", ...) and its cause; the
// caller tells the operator. When given, `*in_update` tells whether an
// accepted device is left in update: its reply holds "UPDATE" and not the
// device code. Worker thread.
Status IdentityCheck(const DeviceLink& link, bool* in_update = nullptr);

}  // namespace hj5

#endif  // HJ5_DEVICE_IDENTITY_CHECK_H_
