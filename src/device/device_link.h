#ifndef HJ5_DEVICE_DEVICE_LINK_H_
#define HJ5_DEVICE_DEVICE_LINK_H_

#include "device/device_session.h"
#include "platform/platform.h"

namespace hj5 {

// Where one device's commands go: the adapters and the connection values.
// Both must outlive the link.
struct DeviceLink {
  const Platform& platform;
  const DeviceSession& session;
};

}  // namespace hj5

#endif  // HJ5_DEVICE_DEVICE_LINK_H_
