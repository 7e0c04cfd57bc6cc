#ifndef HJ5_DEVICE_UPDATE_CONTEXT_H_
#define HJ5_DEVICE_UPDATE_CONTEXT_H_

#include "device/cause_log.h"
#include "device/device_session.h"
#include "platform/form_ops.h"
#include "platform/platform.h"

namespace hj5 {

// Everything the logic of one update works with: the form it reports
// through, the adapters, the connection values and the chosen file (read
// only while the update runs), and where the causes of failures go.
struct UpdateContext {
  FormOps& form;
  const Platform& platform;
  const DeviceSession& session;
  const ChosenFile& chosen;
  CauseLog& causes;
};

}  // namespace hj5

#endif  // HJ5_DEVICE_UPDATE_CONTEXT_H_
