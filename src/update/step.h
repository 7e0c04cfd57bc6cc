#ifndef HJ5_UPDATE_STEP_H_
#define HJ5_UPDATE_STEP_H_

#include <cstdint>

#include "device/commands.h"
#include "device/update_context.h"

namespace hj5 {

// One step of an update: sleeps `pause_ms` (none when 0), shows `status` and
// sends `command`, reporting a failure. True when the device took it.
bool RunStep(const UpdateContext& context, std::uint32_t pause_ms,
             const char* status, Command command);

}  // namespace hj5

#endif  // HJ5_UPDATE_STEP_H_
