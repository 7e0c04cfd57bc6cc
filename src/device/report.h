#ifndef HJ5_DEVICE_REPORT_H_
#define HJ5_DEVICE_REPORT_H_

#include <string>

#include "device/update_context.h"
#include "platform/form_ops.h"

namespace hj5 {

// Tells the operator of a failure, in this order: warning box with `text`,
// control 1009 enabled, status line := `text`, notice line emptied.
void ReportError(FormOps& form, const std::string& text);

// The same, with `cause` kept beside `text` in the context's log.
void ReportError(const UpdateContext& context, const std::string& text,
                 std::string cause);

}  // namespace hj5

#endif  // HJ5_DEVICE_REPORT_H_
