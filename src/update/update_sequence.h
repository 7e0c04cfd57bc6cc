#ifndef HJ5_UPDATE_UPDATE_SEQUENCE_H_
#define HJ5_UPDATE_UPDATE_SEQUENCE_H_

#include <cstdint>

#include "device/device_session.h"
#include "platform/clock.h"
#include "platform/form_ops.h"
#include "platform/http_transport.h"

namespace hj5 {

// Everything the worker reaches the world through.
struct UpdateContext {
  FormOps& form;
  HttpTransport& transport;
  Clock& clock;
  const DeviceSession& session;
  // The limit of one exchange in seconds (20 in the product).
  std::uint16_t limit_seconds = HttpTransport::kDefaultLimitSeconds;
};

// The worker's procedure: identity check, FTP on, update mark, restart, wait,
// mode one, upload (message 102), then the finish sequence. Returns 0 on
// every path; everything is told to the operator through the form.
int UpdateSequence(const UpdateContext& context);

}  // namespace hj5

#endif  // HJ5_UPDATE_UPDATE_SEQUENCE_H_
